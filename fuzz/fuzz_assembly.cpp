// libFuzzer target for revolution assembly: arbitrary packet streams through all four
// decodings (live single-return, live dual-return, offline single-return, offline dual-return),
// with echo code switches and playback direction changes taken from the input.
//
// Input layout:
//   byte 0       bits 0..3 choose the decodings to run (none set: all four)
//   byte 1       bits 0..1 the first echo code (3 is out of range and must act as 0); bits 2..5,
//                when not zero, switch to the next code every that many packets
//   bytes 2..3   playback direction per packet index, bit i % 16 (1 = backward)
//   byte 4       when not zero, playback turns round inside packets whose index is a multiple
//                of it, at block (byte 4 % 12)
//   then         packet images of 1206 bytes; the last one is padded with zeros
//
// After every emitted frame the invariant is checked: per channel the four point lists have
// the same length, azimuths and block azimuths lie in [0, 360), and a merged dual-return frame
// carries no block azimuths. A violation aborts.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "acquisition/lidar_data.h"
#include "acquisition/point_packet.h"
#include "acquisition/revolution_assembler.h"

using namespace tovik;

namespace {

constexpr size_t kControlBytes = 5;

bool inRange(float a) { return a >= 0.0f && a < 360.0f; }  // false for NaN too

void checkFrame(const LidarData& f, bool merged) {
  if (merged && !f.blockAzimuth.empty()) abort();
  for (float a : f.blockAzimuth)
    if (!inRange(a)) abort();
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const size_t n = f.distance[ch].size();
    if (f.intensity[ch].size() != n || f.azimuth[ch].size() != n || f.adjustedTime[ch].size() != n)
      abort();
    for (float a : f.azimuth[ch])
      if (!inRange(a)) abort();
  }
}

// The accumulator behind partialFrame() is not an emitted frame: its newest block may still wait
// for azimuths (two points per channel), never more, so a consumer can trim it.
void checkPartial(const LidarData& f) {
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const size_t n = f.distance[ch].size();
    if (f.intensity[ch].size() != n || f.adjustedTime[ch].size() != n) abort();
    if (f.azimuth[ch].size() > n || n - f.azimuth[ch].size() > 2) abort();
    for (float a : f.azimuth[ch])
      if (!inRange(a)) abort();
  }
}

bool mergedCode(int code) { return code != kStrongEcho && code != kSecondEcho; }

struct Control {
  uint8_t which, echo, turnEvery;
  uint16_t directions;

  int echoAt(size_t packet) const {
    const int period = (echo >> 2) & 15;
    const int first = echo & 3;
    return period == 0 ? first : int((size_t(first) + packet / size_t(period)) % 4);
  }
};

void runLive(const std::vector<const uint8_t*>& packets, const Control& c, bool dual) {
  LiveSingleAssembler single;
  LiveDualAssembler pairs;
  std::vector<LidarData> out;
  for (size_t i = 0; i < packets.size(); ++i) {
    out.clear();
    if (dual) {
      pairs.setEchoCode(c.echoAt(i));
      pairs.addPacket(packets[i], out);
    } else {
      single.addPacket(packets[i], out);
    }
    for (const auto& f : out) checkFrame(f, dual && mergedCode(c.echoAt(i)));
  }
}

void runOffline(const std::vector<const uint8_t*>& packets, const Control& c,
                OfflineAssembler::Layout layout) {
  OfflineAssembler a(layout);
  const bool dual = layout == OfflineAssembler::Layout::Dual;
  const size_t count = packets.size();
  // Walk the packets like the playback engine, turning at either end, twice the stream long.
  size_t i = 0;
  for (size_t step = 0; step < 2 * count; ++step) {
    int direction = (c.directions >> (i % 16)) & 1 ? -1 : 1;
    const int code = c.echoAt(step);
    a.setEchoCode(code);
    if (!a.beginPacket(packets[i])) {
      if (a.addBlock(0, direction)) abort();
    } else {
      const bool turns = c.turnEvery != 0 && i % c.turnEvery == 0;
      for (int k = 0; k < kBlocksPerPacket; ++k) {
        if (turns && k == c.turnEvery % kBlocksPerPacket) direction = -direction;
        if (a.addBlock(k, direction)) checkFrame(a.takeFrame(), dual && mergedCode(code));
      }
    }
    checkPartial(a.partialFrame());
    if (dual && !a.partialFrame().empty()) abort();
    if (count == 1) continue;
    if (direction < 0 && i == 0) direction = 1;
    if (direction > 0 && i + 1 == count) direction = -1;
    i = direction > 0 ? i + 1 : i - 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kControlBytes + 2) return 0;
  Control c{data[0], data[1], data[4], uint16_t(data[2] | data[3] << 8)};
  const uint8_t* stream = data + kControlBytes;
  const size_t streamSize = size - kControlBytes;

  std::vector<uint8_t> padded((streamSize + kPacketSize - 1) / kPacketSize * kPacketSize, 0);
  std::memcpy(padded.data(), stream, streamSize);
  std::vector<const uint8_t*> packets;
  for (size_t at = 0; at < padded.size(); at += kPacketSize) packets.push_back(&padded[at]);

  const uint8_t which = (c.which & 15) ? c.which : 15;
  if (which & 1) runLive(packets, c, false);
  if (which & 2) runLive(packets, c, true);
  if (which & 4) runOffline(packets, c, OfflineAssembler::Layout::Single);
  if (which & 8) runOffline(packets, c, OfflineAssembler::Layout::Dual);
  return 0;
}
