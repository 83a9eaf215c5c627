// Test support: free loopback ports and the simulated lidar running in-process on its own thread.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <thread>

#include "acquisition/udp_socket.h"
#include "tools/sim/sim_runner.h"

namespace tovik::test {

// A UDP port that is free on 127.0.0.1 right now (0 when none could be had).
inline uint16_t freeUdpPort() {
  net::UdpSocket s;
  if (!s.open() || !s.bind("127.0.0.1", 0)) return 0;
  return s.localEndpoint().port;
}

// True when a UDP socket of this network namespace is bound to port (any local address), as
// /proc/net/udp lists it. A receiver thread is listening once its port shows here: datagrams
// sent from then on are queued for it, however late its thread gets to read them.
inline bool udpPortBound(uint16_t port) {
  std::ifstream table("/proc/net/udp");
  std::string line;
  std::getline(table, line);  // column titles
  while (std::getline(table, line)) {
    // "  12: 00000000:0940 00000000:0000 07 ...": slot, local address:port in hexadecimal.
    const size_t colon = line.find(':', line.find(':') + 1);
    if (colon == std::string::npos) continue;
    if (std::strtoul(line.substr(colon + 1, 4).c_str(), nullptr, 16) == port) return true;
  }
  return false;
}

// Waits up to limit for udpPortBound(port).
inline bool waitUntilBound(uint16_t port,
                           std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!udpPortBound(port)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Options of a simulator that sends to dataPort and devicePort on 127.0.0.1 from free source
// ports, quietly, and stops by itself after 20 s in case a test leaves it running.
inline sim::RunOptions loopbackSimulator(uint16_t dataPort, uint16_t devicePort) {
  sim::RunOptions o;
  o.sim.dataPort = dataPort;
  o.sim.devicePort = devicePort;
  o.dataSourcePort = 0;
  o.deviceSourcePort = 0;
  o.durationS = 20;
  o.quiet = true;
  return o;
}

// Milliseconds that what() takes.
template <typename What>
double elapsedMs(What&& what) {
  const auto t0 = std::chrono::steady_clock::now();
  what();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// The median of five runs of timedMs(), each returning the milliseconds it measured. Latency
// checks assert on it: one slow moment of a busy machine cannot fail them, a stop that is slow
// every time still does.
template <typename Timed>
double medianOfFiveMs(Timed&& timedMs) {
  std::array<double, 5> ms{};
  for (double& m : ms) m = timedMs();
  std::nth_element(ms.begin(), ms.begin() + 2, ms.end());
  return ms[2];
}

// A text sink that one thread writes through an ostream while others read it.
class LockedTextBuffer : public std::streambuf {
 public:
  std::string text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    std::lock_guard<std::mutex> lock(mutex_);
    text_.push_back(traits_type::to_char_type(c));
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::lock_guard<std::mutex> lock(mutex_);
    text_.append(s, size_t(n));
    return n;
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

// The simulated lidar streaming on its own thread from start() until stop() or destruction.
class SimulatedLidar {
 public:
  explicit SimulatedLidar(const sim::RunOptions& options)
      : runner_(std::make_unique<sim::NetworkRunner>(options, log_)) {}
  ~SimulatedLidar() { stop(); }
  SimulatedLidar(const SimulatedLidar&) = delete;
  SimulatedLidar& operator=(const SimulatedLidar&) = delete;

  bool start(std::string* error) {
    if (!runner_->open(error)) return false;
    thread_ = std::thread([this] { runner_->run(stop_); });
    return true;
  }
  void stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // What the simulator logged (configuration datagrams applied, refusals), also while it runs:
  // a test waits for a line instead of guessing how long the simulator takes to apply a datagram.
  std::string log() const { return logText_.text(); }
  bool logged(const std::string& text) const { return log().find(text) != std::string::npos; }
  // Its ports are known after start(); its stats and state are read after stop().
  const sim::NetworkRunner& runner() const { return *runner_; }

 private:
  LockedTextBuffer logText_;
  std::ostream log_{&logText_};
  std::unique_ptr<sim::NetworkRunner> runner_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace tovik::test
