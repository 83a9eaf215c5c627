// Field access to the 1206-byte point data packet. All multi-byte fields are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tovik {

constexpr size_t kPacketSize = 1206;
constexpr int kBlocksPerPacket = 12;
constexpr int kBlockSize = 100;
constexpr int kRecordsPerBlock = 32;  // records 0..15: first firing sequence, 16..31: second
constexpr size_t kTimestampOffset = 1200;

// Block azimuths are in hundredths of a degree; 36000 counts or more is read as 0.
constexpr uint16_t kAzimuthInvalidFrom = 36000;

// A packet is decoded only when it starts with the block flag FF EE.
inline bool isPointPacket(const uint8_t* p) { return p[0] == 0xFF && p[1] == 0xEE; }

inline uint32_t packetTimestamp(const uint8_t* p) {
  const uint8_t* t = p + kTimestampOffset;
  return uint32_t(t[0]) | uint32_t(t[1]) << 8 | uint32_t(t[2]) << 16 | uint32_t(t[3]) << 24;
}

inline uint16_t rawBlockAzimuth(const uint8_t* p, int k) {
  const uint8_t* b = p + kBlockSize * k;
  return uint16_t(b[2] | b[3] << 8);
}

// Block azimuth in degrees, single precision; 360.00 or more becomes 0.
inline float blockAzimuthDegrees(uint16_t raw) {
  float a = float(raw) / 100.0f;
  return a >= 360.0f ? 0.0f : a;
}

inline uint16_t recordDistance(const uint8_t* p, int k, int j) {
  const uint8_t* r = p + kBlockSize * k + 4 + 3 * j;
  return uint16_t(r[0] | r[1] << 8);
}

inline uint8_t recordIntensity(const uint8_t* p, int k, int j) {
  return p[kBlockSize * k + 6 + 3 * j];
}

// Firing time offsets in microseconds from the packet timestamp. Firings are 3.125 us apart.
// Live single-return: the 384 firings of a packet end at the timestamp (383 x 3.125 = 1196.875).
inline double singleTimeOffset(int k, int jPrime) { return (32 * k + jPrime) * 3.125 - 1196.875; }
// Dual-return (and playback): block pair e (its even block index) spans 16 firing slots; the last
// firing of pair 10/11 is at the timestamp (191 x 3.125 = 596.875).
inline double pairTimeOffset(int e, int jPrime) { return (16 * e + jPrime) * 3.125 - 596.875; }

// The firing time truncated to whole microseconds. A timestamp smaller than the offset of the
// first firings (just after the device clock restarts) would give a negative time: it reads 0.
inline uint64_t firingTime(double timestamp, double offset) {
  double t = timestamp + offset;
  return t > 0.0 ? uint64_t(t) : 0;
}

}  // namespace tovik
