// Capture rights: whether this process may capture on an interface, and what the operator does
// so that the viewer may capture without root.
#pragma once

#include <string>

namespace tovik::capture {

// True when the "CapEff:" line of a /proc/<pid>/status text holds CAP_NET_RAW (bit 13), as root
// does. False when the line is missing or malformed.
bool statusGrantsNetRaw(const std::string& procStatus);

// The remedy appended to a capture failure shown to the operator, starting with a line break:
// the setcap command for the running executable, and for the installed package also the
// package's own question. Empty when the process holds CAP_NET_RAW already: then the missing
// right is not what failed.
std::string captureRightsHint();

}  // namespace tovik::capture
