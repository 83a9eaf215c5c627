// Live capture of one device information packet off a network adapter (libpcap), for the
// advanced settings window: the packet is taken with its IPv4 and UDP addresses, so an answer can
// go back to the port the device sent from. The wait is bounded; nothing blocks longer than the
// time-out.
#pragma once

#include <cstdint>
#include <string>

#include "dialogs/acwp_packet.h"

namespace tovik {

struct DevicePacketCaptureOptions {
  // Adapter name; empty chooses the adapter that routes to routeAddress.
  std::string interfaceName;
  // The device's IPv4 address (dotted); 127.0.0.0/8 selects the loopback adapter "lo".
  std::string routeAddress;
  // UDP port of the device traffic (either end); 0 takes every UDP datagram.
  uint16_t port = 0;
  // Whole wait in milliseconds; the capture ends when it passes without a match.
  int timeoutMs = 2000;
  // Frames read before giving up without a match.
  int frameLimit = 3000;
  // true: the payload must begin A5 FF 00 5A; false: any whole packet (a UDP datagram of exactly
  // one packet's size in a kDeviceFrameSize-byte frame).
  bool requireDeviceHeader = true;
};

enum class CaptureOutcome {
  Matched,     // *packet holds the match
  NoMatch,     // the time-out passed or the frame limit was reached without a match
  NoAdapter,   // no capture adapter, or none routes to the address
  OpenFailed,  // the adapter could not be opened or filtered (often: not root)
};

struct DevicePacketCaptureResult {
  CaptureOutcome outcome = CaptureOutcome::NoMatch;
  CapturedDevicePacket packet;
  std::string interfaceName;  // the adapter used
  std::string error;          // libpcap's or the routing's reason, for NoAdapter and OpenFailed
  int framesRead = 0;
  // UDP datagrams shorter than a packet (their IPv4 and UDP headers say so, whatever the frame's
  // length): dropped, never matched, so that only a whole packet becomes a write's template.
  int shortDatagrams = 0;
};

// The adapter name that carries traffic to address: "lo" for 127.0.0.0/8, otherwise the adapter
// holding the local address the kernel picks for that destination. Empty with *error set when
// none is found.
std::string captureInterfaceFor(const std::string& address, std::string* error);

// Opens the adapter, filters on UDP and the port, and reads until a match, the time-out or the
// frame limit. Runs on the calling thread.
DevicePacketCaptureResult captureDevicePacket(const DevicePacketCaptureOptions& options);

}  // namespace tovik
