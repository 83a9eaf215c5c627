// Faults injected into the point data stream for receiver tests: dropped packets, packets cut
// short, packets with a damaged FF EE flag and junk datagrams. Deterministic for a seed: the
// same seed and the same sequence of calls give the same faults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>

namespace tovik::sim {

struct FaultConfig {
  double dropRatio = 0;       // share of point packets not sent at all
  double shortRatio = 0;      // share of sent point packets cut to 1..1205 bytes
  double badHeaderRatio = 0;  // share of sent point packets whose FF EE flag is damaged
  double junkRatio = 0;       // junk datagrams per point packet (sent after it)
  uint64_t seed = 1;
  bool any() const {
    return dropRatio > 0 || shortRatio > 0 || badHeaderRatio > 0 || junkRatio > 0;
  }
};

struct FaultCounts {
  uint64_t dropped = 0;
  uint64_t shortened = 0;
  uint64_t badHeader = 0;
  uint64_t junk = 0;
};

// Largest junk datagram; longer than a packet so receivers also meet oversized datagrams.
constexpr size_t kMaxJunkSize = 1400;

class FaultInjector {
 public:
  explicit FaultInjector(const FaultConfig& config);

  // Decides the fate of one point packet image of *length bytes. Returns false when the packet
  // is dropped. Otherwise the image may have been damaged in place and *length shortened.
  // Every call draws the same amount of randomness, whatever the outcome.
  bool apply(uint8_t* image, size_t* length);

  // After each point packet: whether a junk datagram follows it. When it does, junk receives
  // 1..kMaxJunkSize random bytes (never starting FF EE or A5 FF, so no receiver mistakes it for
  // a packet) and *length their count.
  bool junkAfter(uint8_t* junk, size_t* length);

  const FaultCounts& counts() const { return counts_; }

 private:
  double uniform();  // [0, 1)

  FaultConfig config_;
  std::mt19937_64 rng_;
  FaultCounts counts_;
};

}  // namespace tovik::sim
