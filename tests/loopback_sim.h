// Test support: free loopback ports and the simulated lidar running in-process on its own thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <sstream>
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
  // What the simulator logged (configuration datagrams applied, refusals); read after stop().
  std::string log() const { return log_.str(); }
  // Its ports are known after start(); its stats and state are read after stop().
  const sim::NetworkRunner& runner() const { return *runner_; }

 private:
  std::ostringstream log_;
  std::unique_ptr<sim::NetworkRunner> runner_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace tovik::test
