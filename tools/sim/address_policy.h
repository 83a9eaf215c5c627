// The simulated lidar never sends off this machine: it sends to 127.0.0.0/8, or to a multicast
// group through the loopback interface, and binds only 127.0.0.0/8 addresses.
#pragma once

#include <string>

namespace tovik::sim {

enum class DestinationKind { Loopback, Multicast, Refused };

// Classifies a dotted-decimal IPv4 text. Anything that is not four numbers 0..255 is Refused.
DestinationKind classifyDestination(const std::string& address);

// True for a dotted-decimal address in 127.0.0.0/8.
bool isLoopbackAddress(const std::string& address);

// Empty when address may be sent to; otherwise a message for the operator saying why not.
std::string destinationRefusal(const std::string& address);

}  // namespace tovik::sim
