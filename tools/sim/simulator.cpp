#include "tools/sim/simulator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace tovik::sim {

namespace {

constexpr int kBlockSize = 100;
constexpr int kRecords = 32;
constexpr size_t kTimestampOffset = 1200;

uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Uniform in [-1, 1), the same for the same key and seed.
double noiseUnit(uint64_t seed, uint64_t key) {
  const uint64_t h = mix(seed ^ mix(key));
  return double(h >> 11) * (2.0 / 9007199254740992.0) - 1.0;
}

void writeBlockHeader(uint8_t* block, int azimuth) {
  block[0] = 0xFF;
  block[1] = 0xEE;
  block[2] = uint8_t(azimuth & 0xFF);
  block[3] = uint8_t(azimuth >> 8);
}

}  // namespace

Simulator::Simulator(const SimConfig& config)
    : config_(config),
      scene_(config.scene),
      state_(initialState(config)),
      factory_(state_),
      nextStartNs_(config.startTimeNs) {
  double a = std::fmod(config.startAzimuthDeg * 100.0, 36000.0);
  azimuth_ = a < 0 ? a + 36000.0 : a;
  updateBeams();
}

void Simulator::updateBeams() {
  for (int ch = 0; ch < 16; ++ch) beamElevation_[size_t(ch)] = state_.verticalAngleDeg(ch);
}

uint64_t Simulator::nextPacketTimeNs() const {
  return nextStartNs_ + (uint64_t(positionsPerPacket()) * kRecords - 1) * kFiringNs;
}

void Simulator::skipTo(uint64_t timeNs) { nextStartNs_ = std::max(nextStartNs_, timeNs); }

void Simulator::encodeHit(const Hit& h, uint64_t noiseKey, uint8_t* record) const {
  const double maxRange =
      state_.rangeX100 ? state_.rangeX100 / 100.0 : std::numeric_limits<double>::infinity();
  if (h.surface == Surface::None || h.distance > maxRange) return;  // no return: 0 distance
  const double cm = h.distance * 100.0 + config_.noiseCm * noiseUnit(config_.seed, noiseKey);
  // 0.25 cm per count (4 counts per cm) or 0.4 cm per count (2.5 counts per cm).
  const double counts = cm * (state_.accuaryMode == 1 ? 2.5 : 4.0);
  const long raw = std::clamp(std::lround(counts), 1L, 65535L);
  record[0] = uint8_t(raw & 0xFF);
  record[1] = uint8_t(raw >> 8);
  record[2] = h.intensity;
}

void Simulator::nextPointPacket(uint8_t* out, uint64_t* timeNs) {
  std::memset(out, 0, kDatagramSize);
  const bool dual = state_.dualReturn;
  const int positions = positionsPerPacket();
  const double step = azimuthStep();
  const uint64_t start = nextStartNs_;

  for (int p = 0; p < positions; ++p) {
    const int blockAzimuth = int(std::lround(azimuth_)) % 36000;
    if (prevBlockAzimuth_ >= 0 && blockAzimuth < prevBlockAzimuth_) ++wraps_;
    prevBlockAzimuth_ = blockAzimuth;

    const uint64_t positionNs = start + uint64_t(p) * kPositionNs;
    const double t = double(int64_t(positionNs - config_.startTimeNs)) / 1e9;
    uint8_t* strongBlock = out + kBlockSize * (dual ? 2 * p : p);
    uint8_t* secondBlock = dual ? strongBlock + kBlockSize : nullptr;
    writeBlockHeader(strongBlock, blockAzimuth);
    if (secondBlock) writeBlockHeader(secondBlock, blockAzimuth);

    for (int j = 0; j < kRecords; ++j) {
      // Record j fires j x 3.125 us after the block starts; the head has turned j/32 of a step.
      const double azimuthDeg = (azimuth_ + step * j / kRecords) / 100.0;
      const Vec3 dir = Scene::beamDirection(beamElevation_[size_t(j & 15)], azimuthDeg);
      const uint64_t key = (packets_ << 16) | uint64_t(p) << 8 | uint64_t(j) << 1;
      if (!dual) {
        encodeHit(scene_.cast(dir, t), key, strongBlock + 4 + 3 * j);
        continue;
      }
      Hit strongest, second;
      scene_.echoes(dir, t, &strongest, &second);
      encodeHit(strongest, key, strongBlock + 4 + 3 * j);
      // One surface answering both echoes reports the same distance twice.
      const bool same =
          second.surface == strongest.surface && second.distance == strongest.distance;
      encodeHit(second, same ? key : key | 1, secondBlock + 4 + 3 * j);
    }
    azimuth_ += step;
    if (azimuth_ >= 36000.0) azimuth_ -= 36000.0;
  }

  const uint64_t lastFiring = start + (uint64_t(positions) * kRecords - 1) * kFiringNs;
  const int64_t deviceNs = int64_t(lastFiring) + state_.clockOffsetNs;
  const uint64_t micros = deviceNs > 0 ? uint64_t(deviceNs) / 1000 : 0;
  const uint32_t stamp = uint32_t(micros % kMicrosPerHour);
  uint8_t* ts = out + kTimestampOffset;
  ts[0] = uint8_t(stamp);
  ts[1] = uint8_t(stamp >> 8);
  ts[2] = uint8_t(stamp >> 16);
  ts[3] = uint8_t(stamp >> 24);

  nextStartNs_ = start + uint64_t(positions) * kPositionNs;
  ++packets_;
  *timeNs = lastFiring;
}

void Simulator::devicePacket(uint8_t* out, uint64_t timeNs) const {
  buildDevicePacket(state_, timeNs, out);
}

std::string Simulator::applyDatagram(const uint8_t* d, size_t n) {
  std::string line = applyConfigDatagram(state_, factory_, d, n, nowNs());
  if (!line.empty()) updateBeams();
  return line;
}

}  // namespace tovik::sim
