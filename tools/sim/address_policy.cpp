#include "tools/sim/address_policy.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace tovik::sim {

namespace {
bool parse(const std::string& text, uint32_t* hostOrder) {
  in_addr a;
  if (text.empty() || inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
  *hostOrder = ntohl(a.s_addr);
  return true;
}
}  // namespace

DestinationKind classifyDestination(const std::string& address) {
  uint32_t a = 0;
  if (!parse(address, &a)) return DestinationKind::Refused;
  if ((a >> 24) == 127) return DestinationKind::Loopback;
  if ((a >> 28) == 0xE) return DestinationKind::Multicast;  // 224.0.0.0/4
  return DestinationKind::Refused;
}

bool isLoopbackAddress(const std::string& address) {
  return classifyDestination(address) == DestinationKind::Loopback;
}

std::string destinationRefusal(const std::string& address) {
  uint32_t a = 0;
  if (!parse(address, &a)) return "\"" + address + "\" is not a dotted-decimal IPv4 address";
  if (classifyDestination(address) != DestinationKind::Refused) return {};
  return "refusing to send to " + address +
         ": the simulated lidar only sends to 127.0.0.0/8 or to a multicast group on the "
         "loopback interface, never off this machine";
}

}  // namespace tovik::sim
