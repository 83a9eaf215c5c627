// The simulated Tovik16: produces point data packets and device information packets from a
// ray-cast scene, on a simulated clock, and applies the configuration datagrams a viewer sends.
// Pure computation: no sockets, files or threads; the network and capture runners drive it.
//
// Timing follows the real device: one block of 32 firings takes 32 x 3.125 us = 100 us. A
// single-return packet holds 12 firing positions (1.2 ms), a dual-return packet 6 positions as
// block pairs with equal azimuth (0.6 ms; even block strongest echo, odd block second echo).
// The azimuth advances rpm x 0.0006 degrees per firing position (0.36 degrees at 600 rpm).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/sim/scene.h"
#include "tools/sim/sim_state.h"

namespace tovik::sim {

constexpr uint64_t kMicrosPerHour = 3600000000ull;
constexpr uint64_t kFiringNs = 3125;              // one firing, 3.125 us
constexpr uint64_t kPositionNs = 32 * kFiringNs;  // one block of 32 firings, 100 us

class Simulator {
 public:
  explicit Simulator(const SimConfig& config);

  // Writes the next point data packet (kDatagramSize bytes) and its send time: the time of its
  // last firing on the simulated clock, ns since the Unix epoch. The packet's timestamp is that
  // time on the device clock in whole microseconds since the top of the hour. Produces a packet
  // whatever the motor state; the caller checks state().streaming().
  void nextPointPacket(uint8_t* out, uint64_t* timeNs);

  // Send time of the packet nextPointPacket() produces next.
  uint64_t nextPacketTimeNs() const;
  // The simulated clock: the start of the next packet's first firing.
  uint64_t nowNs() const { return nextStartNs_; }
  // Moves the clock forward to timeNs without producing packets (while the data is stopped);
  // the azimuth stands still. Earlier times are ignored.
  void skipTo(uint64_t timeNs);

  // Device information packet (kDatagramSize bytes) for the current state at the simulated
  // clock, or at timeNs.
  void devicePacket(uint8_t* out) const { devicePacket(out, nowNs()); }
  void devicePacket(uint8_t* out, uint64_t timeNs) const;

  // Applies a network configuration, advanced, factory-default or vertical-angle datagram.
  // Returns the log line (what changed), or an empty string when the datagram was not
  // recognised and nothing changed.
  std::string applyDatagram(const uint8_t* d, size_t n);

  const SimState& state() const { return state_; }
  const SimConfig& config() const { return config_; }
  const Scene& scene() const { return scene_; }

  // Point packets produced so far.
  uint64_t packetsProduced() const { return packets_; }
  // Times the block azimuth wrapped from the end of a revolution to its start so far: the
  // packet in which the n-th wrap happens is the first one after n complete revolutions.
  uint64_t revolutions() const { return wraps_; }
  // Azimuth advance per firing position in hundredths of a degree.
  double azimuthStep() const { return state_.rpm * 0.06; }
  // Firing positions per packet for the current layout: 12 single, 6 dual.
  int positionsPerPacket() const { return state_.dualReturn ? 6 : 12; }

 private:
  void updateBeams();
  // Raw distance count and intensity of one echo.
  void encodeHit(const Hit& h, uint64_t noiseKey, uint8_t* record) const;

  SimConfig config_;
  Scene scene_;
  SimState state_;
  SimState factory_;
  uint64_t nextStartNs_;
  double azimuth_;  // hundredths of a degree, [0, 36000)
  int prevBlockAzimuth_ = -1;
  uint64_t packets_ = 0;
  uint64_t wraps_ = 0;
  std::array<double, 16> beamElevation_{};
};

}  // namespace tovik::sim
