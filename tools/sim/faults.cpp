#include "tools/sim/faults.h"

namespace tovik::sim {

FaultInjector::FaultInjector(const FaultConfig& config) : config_(config), rng_(config.seed) {}

double FaultInjector::uniform() { return double(rng_() >> 11) * (1.0 / 9007199254740992.0); }

bool FaultInjector::apply(uint8_t* image, size_t* length) {
  // Five draws per packet, always, so one fault's ratio does not shift the others' sequence.
  const double drop = uniform();
  const double bad = uniform();
  const double cut = uniform();
  const uint64_t which = rng_();
  const uint64_t cutAt = rng_();
  if (drop < config_.dropRatio) {
    ++counts_.dropped;
    return false;
  }
  if (bad < config_.badHeaderRatio && *length >= 2) {
    // Damage byte 0 or byte 1 of the flag with a non-zero XOR mask.
    const size_t i = which & 1;
    image[i] ^= uint8_t(1 + (which >> 1) % 255);
    ++counts_.badHeader;
  }
  if (cut<config_.shortRatio&& * length> 1) {
    *length = 1 + size_t(cutAt % (*length - 1));
    ++counts_.shortened;
  }
  return true;
}

bool FaultInjector::junkAfter(uint8_t* junk, size_t* length) {
  const double r = uniform();
  const uint64_t size = rng_();
  if (r >= config_.junkRatio) return false;
  const size_t n = 1 + size_t(size % kMaxJunkSize);
  for (size_t i = 0; i < n; i += 8) {
    uint64_t v = rng_();
    for (size_t k = 0; k < 8 && i + k < n; ++k) junk[i + k] = uint8_t(v >> (8 * k));
  }
  if (junk[0] == 0xFF || junk[0] == 0xA5) junk[0] = 0x00;
  *length = n;
  ++counts_.junk;
  return true;
}

}  // namespace tovik::sim
