// Drivers of the simulated lidar: a network runner that sends paced packets over loopback and
// applies the configuration datagrams it receives, and a capture writer that writes the same
// traffic to a pcap stream as fast as it can.
#pragma once

#include <atomic>
#include <cstdint>
#include <ostream>
#include <string>

#include "acquisition/udp_socket.h"
#include "tools/sim/faults.h"
#include "tools/sim/simulator.h"

namespace tovik::sim {

struct RunOptions {
  SimConfig sim;
  FaultConfig faults;
  // Source ports of point data and device packets (the device also listens on both); 0 binds
  // any free port.
  uint16_t dataSourcePort = kDefaultDataPort;
  uint16_t deviceSourcePort = kDefaultDevicePort;
  double rate = 1.0;               // multiplier of the packet rate (and of the simulated clock)
  double durationS = 0;            // stop after this many seconds (simulated seconds for captures)
  uint64_t packetLimit = 0;        // stop after this many point packets produced (dropped included)
  uint64_t revolutionLimit = 0;    // captures: stop after this many block-azimuth wraps
  bool withDevicePackets = false;  // captures: one device packet per simulated second
  bool quiet = false;              // no per-second summary
};

struct RunStats {
  uint64_t pointPackets = 0;   // produced by the simulator
  uint64_t pointSent = 0;      // point datagrams sent or written (possibly damaged or short)
  uint64_t devicePackets = 0;  // device information packets sent or written
  uint64_t junkSent = 0;
  uint64_t sendErrors = 0;
  uint64_t configsApplied = 0;
  uint64_t datagramsIgnored = 0;
  uint64_t revolutions = 0;
};

// Writes the traffic to out as a classic pcap capture (Ethernet, IPv4, UDP, microsecond
// timestamps of the simulated clock). Needs at least one bound: packetLimit, revolutionLimit
// (the capture ends with the packet holding that wrap) or durationS. Returns false with *error
// set when the options are unusable or the stream fails.
bool writeCapture(const RunOptions& options, std::ostream& out, RunStats* stats,
                  std::string* error);

// Sends over loopback from sockets bound to the lidar address. Not thread-safe: one thread
// runs it; stats() and simulator() are read after run() has returned.
class NetworkRunner {
 public:
  NetworkRunner(const RunOptions& options, std::ostream& log);
  ~NetworkRunner();

  // Checks that every address stays on this machine and binds the sockets. Sends nothing.
  // False with *error set otherwise.
  bool open(std::string* error);
  uint16_t dataSourcePort() const { return dataPortBound_; }
  uint16_t deviceSourcePort() const { return devicePortBound_; }

  // Streams until stop is set or a limit (durationS, packetLimit) is reached.
  void run(const std::atomic<bool>& stop);

  const RunStats& stats() const { return stats_; }
  const Simulator& simulator() const { return sim_; }

 private:
  bool bindSockets(const std::string& address, std::string* error);
  void receiveDatagrams(net::UdpSocket& socket, int64_t wallNs);
  bool send(net::UdpSocket& socket, const uint8_t* data, size_t length, uint16_t port);
  // One line: what was sent since the last summary, and where to.
  void summary(double elapsedS, bool final);

  RunOptions options_;
  std::ostream& log_;
  Simulator sim_;
  FaultInjector faults_;
  RunStats stats_;
  net::UdpSocket dataSocket_;
  net::UdpSocket deviceSocket_;
  uint16_t dataPortBound_ = 0;
  uint16_t devicePortBound_ = 0;
  // Per-second summary and rate limit of the ignored-datagram log.
  RunStats lastSummary_;
  int64_t ignoreWindowStartNs_ = 0;
  int ignoredInWindow_ = 0;
};

}  // namespace tovik::sim
