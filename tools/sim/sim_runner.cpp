#include "tools/sim/sim_runner.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "acquisition/pcap_writer.h"
#include "tools/sim/address_policy.h"

namespace tovik::sim {

namespace {

constexpr uint64_t kSecondNs = 1000000000ull;
// Packets due are sent in bursts every few milliseconds; the poll never sleeps longer.
constexpr int kPollMs = 5;
// A stall (a stopped process, a slow machine) does not turn into an unbounded flood.
constexpr int kMaxBurst = 4096;
// Ignored datagrams logged per second; the rest are only counted.
constexpr int kIgnoredLogPerSecond = 10;

uint32_t hostOrder(const std::string& dotted) {
  Ipv4 ip{};
  if (!parseIpv4(dotted, &ip)) return 0;
  return uint32_t(ip[0]) << 24 | uint32_t(ip[1]) << 16 | uint32_t(ip[2]) << 8 | ip[3];
}

std::string checkAddresses(const SimConfig& c) {
  if (!isLoopbackAddress(c.lidarAddress))
    return "lidar address " + c.lidarAddress +
           " is not in 127.0.0.0/8: the simulated lidar binds only loopback addresses";
  return destinationRefusal(c.destAddress);
}

int64_t steadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

bool writeCapture(const RunOptions& options, std::ostream& out, RunStats* stats,
                  std::string* error) {
  RunStats local;
  RunStats& st = stats ? *stats : local;
  st = RunStats{};
  if (options.packetLimit == 0 && options.revolutionLimit == 0 && options.durationS <= 0) {
    *error = "a capture needs a bound: --packets, --revolutions or --duration";
    return false;
  }
  if (std::string why = checkAddresses(options.sim); !why.empty()) {
    *error = why;
    return false;
  }
  Simulator sim(options.sim);
  FaultInjector faults(options.faults);
  capture::CaptureWriter writer(out);
  const uint64_t start = sim.nowNs();
  const uint64_t end =
      options.durationS > 0 ? start + uint64_t(options.durationS * double(kSecondNs)) : UINT64_MAX;
  uint64_t nextDevice = start;
  uint8_t packet[kDatagramSize];
  std::vector<uint8_t> junk(kMaxJunkSize);

  auto write = [&](uint64_t t, uint16_t srcPort, uint16_t dstPort, const uint8_t* d, size_t n) {
    const SimState& s = sim.state();
    return writer.writeUdp(t, hostOrder(s.listenAddress), srcPort, hostOrder(s.sendAddress),
                           dstPort, d, n);
  };

  while (writer.ok()) {
    if (options.packetLimit && st.pointPackets >= options.packetLimit) break;
    if (options.revolutionLimit && sim.revolutions() >= options.revolutionLimit) break;
    if (sim.nextPacketTimeNs() > end) break;
    if (options.withDevicePackets) {
      while (nextDevice <= sim.nextPacketTimeNs()) {
        sim.devicePacket(packet, nextDevice);
        write(nextDevice, options.deviceSourcePort, sim.state().devicePort, packet, kDatagramSize);
        ++st.devicePackets;
        nextDevice += kSecondNs;
      }
    }
    uint64_t t = 0;
    sim.nextPointPacket(packet, &t);
    ++st.pointPackets;
    size_t n = kDatagramSize;
    if (faults.apply(packet, &n)) {
      write(t, options.dataSourcePort, sim.state().dataPort, packet, n);
      ++st.pointSent;
    }
    size_t junkLength = 0;
    if (faults.junkAfter(junk.data(), &junkLength)) {
      write(t, options.dataSourcePort, sim.state().dataPort, junk.data(), junkLength);
      ++st.junkSent;
    }
  }
  st.revolutions = sim.revolutions();
  out.flush();
  if (!writer.ok() || !out) {
    *error = "writing the capture failed";
    return false;
  }
  return true;
}

NetworkRunner::NetworkRunner(const RunOptions& options, std::ostream& log)
    : options_(options), log_(log), sim_(options.sim), faults_(options.faults) {}

NetworkRunner::~NetworkRunner() = default;

bool NetworkRunner::bindSockets(const std::string& address, std::string* error) {
  net::UdpSocket data, device;
  const uint16_t dataPort = dataPortBound_ ? dataPortBound_ : options_.dataSourcePort;
  const uint16_t devicePort = devicePortBound_ ? devicePortBound_ : options_.deviceSourcePort;
  struct Item {
    net::UdpSocket& s;
    uint16_t port;
  } items[] = {{data, dataPort}, {device, devicePort}};
  for (Item& it : items) {
    // Multicast leaves through the loopback interface only and never crosses a router (TTL 0).
    if (!it.s.open() || !it.s.setReuseAddress(true) || !it.s.bind(address, it.port) ||
        !it.s.setMulticastInterface("127.0.0.1") || !it.s.setMulticastLoop(true) ||
        !it.s.setMulticastTtl(0)) {
      *error = "cannot bind " + address + ":" + std::to_string(it.port) + ": " + it.s.lastError();
      return false;
    }
  }
  dataSocket_ = std::move(data);
  deviceSocket_ = std::move(device);
  dataPortBound_ = dataSocket_.localEndpoint().port;
  devicePortBound_ = deviceSocket_.localEndpoint().port;
  return true;
}

bool NetworkRunner::open(std::string* error) {
  if (std::string why = checkAddresses(options_.sim); !why.empty()) {
    *error = why;
    return false;
  }
  return bindSockets(sim_.state().listenAddress, error);
}

bool NetworkRunner::send(net::UdpSocket& socket, const uint8_t* data, size_t length,
                         uint16_t port) {
  const std::string& to = sim_.state().sendAddress;
  // The simulator only ever takes loopback or multicast destinations; checked again here so
  // that nothing can leave the machine whatever the state says.
  if (classifyDestination(to) == DestinationKind::Refused ||
      !socket.sendTo(data, length, to, port)) {
    ++stats_.sendErrors;
    return false;
  }
  return true;
}

void NetworkRunner::receiveDatagrams(net::UdpSocket& socket, int64_t wallNs) {
  uint8_t buf[2048];
  for (int i = 0; i < 64; ++i) {
    pollfd p{socket.nativeHandle(), POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) return;
    size_t n = 0;
    net::Endpoint from;
    const net::RecvStatus r = socket.receive(buf, sizeof buf, &n, &from);
    if (r == net::RecvStatus::Timeout || r == net::RecvStatus::Error) return;
    if (r == net::RecvStatus::Truncated) n = std::max(n, sizeof buf);
    const std::string oldListen = sim_.state().listenAddress;
    const std::string line = sim_.applyDatagram(buf, std::min(n, sizeof buf));
    const std::string source = from.address + ":" + std::to_string(from.port);
    if (line.empty()) {
      ++stats_.datagramsIgnored;
      if (wallNs - ignoreWindowStartNs_ >= int64_t(kSecondNs)) {
        ignoreWindowStartNs_ = wallNs;
        ignoredInWindow_ = 0;
      }
      if (++ignoredInWindow_ <= kIgnoredLogPerSecond)
        log_ << "ignored datagram from " << source << ": " << describeIgnored(buf, n) << "\n";
      continue;
    }
    ++stats_.configsApplied;
    log_ << "applied from " << source << ": " << line << "\n";
    const std::string& newListen = sim_.state().listenAddress;
    if (newListen != oldListen) {
      std::string error;
      if (bindSockets(newListen, &error))
        log_ << "now listening and sending from " << newListen << "\n";
      else
        log_ << "could not move to " << newListen << " (" << error << "), staying on " << oldListen
             << "\n";
      return;  // the socket read from has been replaced
    }
  }
}

void NetworkRunner::summary(double elapsedS, bool final) {
  const SimState& s = sim_.state();
  const RunStats& a = lastSummary_;
  const RunStats& b = stats_;
  char line[512];
  std::snprintf(
      line, sizeof line,
      "sim %s%.1fs: %llu point packets, %llu device packets, %.2f rev/s (%u rpm, %s) -> "
      "%s:%u/%u%s",
      final ? "end " : "", elapsedS, static_cast<unsigned long long>(b.pointSent - a.pointSent),
      static_cast<unsigned long long>(b.devicePackets - a.devicePackets),
      s.streaming() ? s.rpm / 60.0 * options_.rate : 0.0, s.rpm, s.dualReturn ? "dual" : "single",
      s.sendAddress.c_str(), s.dataPort, s.devicePort, s.streaming() ? "" : " [stopped]");
  log_ << line;
  const FaultCounts& f = faults_.counts();
  if (options_.faults.any())
    log_ << "; faults so far: dropped " << f.dropped << ", short " << f.shortened << ", bad flag "
         << f.badHeader << ", junk " << f.junk;
  if (b.sendErrors) log_ << "; send errors " << b.sendErrors;
  if (b.datagramsIgnored != a.datagramsIgnored)
    log_ << "; ignored " << (b.datagramsIgnored - a.datagramsIgnored) << " datagrams";
  log_ << "\n";
  lastSummary_ = stats_;
}

void NetworkRunner::run(const std::atomic<bool>& stop) {
  const int64_t t0 = steadyNs();
  const uint64_t simStart = sim_.nowNs();
  int64_t nextDevice = t0;
  int64_t nextSummary = t0 + int64_t(kSecondNs);
  const double rate = options_.rate > 0 ? options_.rate : 1.0;
  uint8_t packet[kDatagramSize];
  std::vector<uint8_t> junk(kMaxJunkSize);
  bool limitReached = false;

  while (!stop.load(std::memory_order_relaxed) && !limitReached) {
    const int64_t now = steadyNs();
    const double elapsed = double(now - t0) / 1e9;
    if (options_.durationS > 0 && elapsed >= options_.durationS) break;
    const uint64_t virtualNow = simStart + uint64_t(double(now - t0) * rate);

    if (sim_.state().streaming()) {
      for (int burst = 0; burst < kMaxBurst && sim_.nextPacketTimeNs() <= virtualNow; ++burst) {
        uint64_t t = 0;
        sim_.nextPointPacket(packet, &t);
        ++stats_.pointPackets;
        size_t n = kDatagramSize;
        if (faults_.apply(packet, &n) && send(dataSocket_, packet, n, sim_.state().dataPort))
          ++stats_.pointSent;
        size_t junkLength = 0;
        if (faults_.junkAfter(junk.data(), &junkLength) &&
            send(dataSocket_, junk.data(), junkLength, sim_.state().dataPort))
          ++stats_.junkSent;
        if (options_.packetLimit && stats_.pointPackets >= options_.packetLimit) {
          limitReached = true;
          break;
        }
      }
    } else {
      sim_.skipTo(virtualNow);
    }

    if (now >= nextSummary) {
      if (!options_.quiet) summary(elapsed, false);
      nextSummary += int64_t(kSecondNs);
      if (nextSummary <= now) nextSummary = now + int64_t(kSecondNs);
    }
    if (now >= nextDevice) {
      sim_.devicePacket(packet);
      if (send(deviceSocket_, packet, kDatagramSize, sim_.state().devicePort))
        ++stats_.devicePackets;
      nextDevice += int64_t(kSecondNs);
      if (nextDevice <= now) nextDevice = now + int64_t(kSecondNs);
    }
    if (limitReached) break;

    pollfd fds[2] = {{dataSocket_.nativeHandle(), POLLIN, 0},
                     {deviceSocket_.nativeHandle(), POLLIN, 0}};
    if (::poll(fds, 2, kPollMs) > 0) {
      const int64_t wall = steadyNs();
      if (fds[0].revents & POLLIN) receiveDatagrams(dataSocket_, wall);
      if (fds[1].revents & POLLIN) receiveDatagrams(deviceSocket_, wall);
    }
  }
  stats_.revolutions = sim_.revolutions();
  if (!options_.quiet) summary(double(steadyNs() - t0) / 1e9, true);
}

}  // namespace tovik::sim
