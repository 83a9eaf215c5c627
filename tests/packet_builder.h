// Builds 1206-byte point data packet images by hand for tests, benchmarks and fuzz seeds.
//
// A fresh image is all zero except the FF EE flag at the start of every block. Fields are written
// little-endian as the device sends them: block azimuths in hundredths of a degree, per-record
// raw distance counts and intensity, and the packet timestamp in microseconds.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "acquisition/point_packet.h"

namespace tovik::test {

using PacketImage = std::array<uint8_t, kPacketSize>;

class PacketBuilder {
 public:
  PacketBuilder() {
    image_.fill(0);
    for (int k = 0; k < kBlocksPerPacket; ++k) {
      image_[kBlockSize * k] = 0xFF;
      image_[kBlockSize * k + 1] = 0xEE;
    }
  }

  // Packet bytes 0 and 1 (block 0's flag), the only flag the decoders check.
  PacketBuilder& flag(uint8_t b0, uint8_t b1) {
    image_[0] = b0;
    image_[1] = b1;
    return *this;
  }

  // Block k's azimuth in hundredths of a degree (36000 and more reads as 0 degrees).
  PacketBuilder& azimuth(int k, uint16_t hundredths) {
    put16(kBlockSize * k + 2, hundredths);
    return *this;
  }

  // Record j (0..15 first firing sequence, 16..31 second) of block k.
  PacketBuilder& record(int k, int j, uint16_t distance, uint8_t intensity) {
    const size_t at = size_t(kBlockSize * k + 4 + 3 * j);
    put16(at, distance);
    image_[at + 2] = intensity;
    return *this;
  }

  // Microseconds on the device clock: the time of the packet's last firing.
  PacketBuilder& timestamp(uint32_t us) {
    for (int i = 0; i < 4; ++i) image_[kTimestampOffset + i] = uint8_t(us >> (8 * i));
    return *this;
  }

  const PacketImage& image() const { return image_; }
  const uint8_t* data() const { return image_.data(); }

 private:
  void put16(size_t at, uint16_t v) {
    image_[at] = uint8_t(v & 0xFF);
    image_[at + 1] = uint8_t(v >> 8);
  }

  PacketImage image_;
};

// Cuts a list of block azimuths (hundredths of a degree) into packets of 12 blocks; the last
// packet repeats its final azimuth when the list does not fill it. Record j of the n-th block of
// the stream gets distance distanceOf(n, j) and intensity j, and packet p gets timestamp
// firstTimestamp + p * packetPeriodUs.
template <typename DistanceFn>
std::vector<PacketImage> packetsFromAzimuths(const std::vector<uint16_t>& azimuths,
                                             DistanceFn distanceOf, uint32_t firstTimestamp = 0,
                                             uint32_t packetPeriodUs = 1200) {
  std::vector<PacketImage> packets;
  const size_t count = (azimuths.size() + kBlocksPerPacket - 1) / kBlocksPerPacket;
  for (size_t p = 0; p < count; ++p) {
    PacketBuilder b;
    b.timestamp(uint32_t(firstTimestamp + p * packetPeriodUs));
    for (int k = 0; k < kBlocksPerPacket; ++k) {
      size_t n = p * kBlocksPerPacket + size_t(k);
      if (n >= azimuths.size()) n = azimuths.size() - 1;
      b.azimuth(k, azimuths[n]);
      for (int j = 0; j < kRecordsPerBlock; ++j)
        b.record(k, j, uint16_t(distanceOf(p * kBlocksPerPacket + size_t(k), j)), uint8_t(j));
    }
    packets.push_back(b.image());
  }
  return packets;
}

// count block azimuths starting at first and advancing step hundredths per block, wrapping at
// 36000 as a turning device does.
inline std::vector<uint16_t> steadyAzimuths(uint32_t first, uint32_t step, size_t count) {
  std::vector<uint16_t> a(count);
  for (size_t n = 0; n < count; ++n) a[n] = uint16_t((first + n * step) % 36000);
  return a;
}

// The same for a dual-return device: both blocks of a pair carry the firing's azimuth, which
// advances step hundredths per pair.
inline std::vector<uint16_t> steadyPairAzimuths(uint32_t first, uint32_t step, size_t pairs) {
  std::vector<uint16_t> a(2 * pairs);
  for (size_t n = 0; n < pairs; ++n) a[2 * n] = a[2 * n + 1] = uint16_t((first + n * step) % 36000);
  return a;
}

}  // namespace tovik::test
