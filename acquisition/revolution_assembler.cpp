#include "acquisition/revolution_assembler.h"

#include <algorithm>
#include <cmath>

#include "acquisition/point_packet.h"

namespace tovik {

namespace assembly {

// Firings of one block are 3.125 us apart; record j' of a block fires j' slots after its first.
constexpr double kFiringPeriod = 3.125;
// A revolution closes when the block azimuth jumps by more than this, in degrees.
constexpr float kWrapJump = 180.0f;
// At close, the points below this azimuth among the last kCarryWindow of a channel already belong
// to the next revolution (live decoding only).
constexpr float kCarryAzimuth = 5.0f;
constexpr size_t kCarryWindow = 30;

namespace {
template <typename T>
inline void appendTwo(std::vector<T>& v, T a, T b) {
  v.push_back(a);
  v.push_back(b);
}
}  // namespace

void appendBlock(LidarData& frame, const uint8_t* image, int k, float azimuth, double timestamp,
                 double timeBase) {
  frame.blockAzimuth.push_back(azimuth);
  const uint8_t* records = image + kBlockSize * k + 4;
  // The timestamp is whole microseconds and the offsets are multiples of 1/8 us, all far inside
  // double's precision, so adding the firing slot to the block's base time is exact.
  const double base = timestamp + timeBase;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    // Read the two records before appending: the stores could otherwise alias the image bytes.
    const uint8_t* first = records + 3 * ch;
    const uint8_t* second = records + 3 * (ch + 16);
    const float d1 = float(first[0] | first[1] << 8);
    const float d2 = float(second[0] | second[1] << 8);
    const int i1 = first[2];
    const int i2 = second[2];
    appendTwo(frame.distance[ch], d1, d2);
    appendTwo(frame.intensity[ch], i1, i2);
    appendTwo(frame.adjustedTime[ch], firingTime(base, ch * kFiringPeriod),
              firingTime(base, (ch + 16) * kFiringPeriod));
  }
}

namespace {
// Appends the 32 point azimuths of a block that starts at base and spans delta degrees.
void appendAzimuths(LidarData& frame, float base, float delta) {
  const float step = delta / 32.0f;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    float a1 = base + step * float(ch);
    float a2 = base + step * float(ch + 16);
    if (a1 >= 360.0f) a1 -= 360.0f;
    if (a2 >= 360.0f) a2 -= 360.0f;
    appendTwo(frame.azimuth[ch], a1, a2);
  }
}

float forwardDelta(float prev, float last) {
  float delta = last - prev;
  if (delta < 0.0f) delta += 360.0f;
  return delta;
}
}  // namespace

void interpolatePrevious(LidarData& frame) {
  const size_t n = frame.blockAzimuth.size();
  if (n < 2) return;
  const float prev = frame.blockAzimuth[n - 2];
  const float last = frame.blockAzimuth[n - 1];
  appendAzimuths(frame, prev, forwardDelta(prev, last));
}

void extrapolateLast(LidarData& frame) {
  const size_t n = frame.blockAzimuth.size();
  if (n < 2) return;
  const float prev = frame.blockAzimuth[n - 2];
  const float last = frame.blockAzimuth[n - 1];
  appendAzimuths(frame, last, forwardDelta(prev, last));
}

bool wrapped(const std::vector<float>& azimuths) {
  const size_t n = azimuths.size();
  return n >= 2 && std::fabs(azimuths[n - 1] - azimuths[n - 2]) > kWrapJump;
}

void carryOver(LidarData& frame, LidarData& held) {
  for (int ch = 0; ch < kChannelCount; ++ch) {
    auto& az = frame.azimuth[ch];
    const size_t n = frame.pointCount(ch);
    if (az.size() < kCarryWindow || n < kCarryWindow) continue;
    for (size_t i = n - kCarryWindow; i < n; ++i) {
      if (!(az[i] < kCarryAzimuth)) continue;
      held.distance[ch].push_back(frame.distance[ch][i]);
      held.intensity[ch].push_back(frame.intensity[ch][i]);
      held.azimuth[ch].push_back(az[i]);
      held.adjustedTime[ch].push_back(frame.adjustedTime[ch][i]);
      frame.distance[ch][i] = 0.0f;
      frame.intensity[ch][i] = 0;
      az[i] = 0.0f;
      frame.adjustedTime[ch][i] = 0;
    }
  }
}

}  // namespace assembly

using namespace assembly;

namespace {

// Per-channel room reserved for a new frame: a little more than the largest frame seen so far,
// so that the lists of a steady stream never reallocate.
size_t reserveHint(const LidarData& emitted) {
  size_t most = 0;
  for (int ch = 0; ch < kChannelCount; ++ch) most = std::max(most, emitted.distance[ch].size());
  return most + most / 8 + 64;
}

void restoreHeld(LidarData& frame, LidarData& held) {
  for (int ch = 0; ch < kChannelCount; ++ch) frame.appendChannel(ch, held);
  held.clear();
}

int normalizedEcho(int code) { return (code == kStrongEcho || code == kSecondEcho) ? code : 0; }

}  // namespace

// ---------------------------------------------------------------------------------------------

LiveSingleAssembler::LiveSingleAssembler() { strongFrame_.reserve(2048); }

void LiveSingleAssembler::reset() {
  strongFrame_.clear();
  held_.clear();
}

int LiveSingleAssembler::addPacket(const uint8_t* image, std::vector<LidarData>& out) {
  if (!isPointPacket(image)) return 0;
  const double timestamp = packetTimestamp(image);
  int closed = 0;
  for (int k = 0; k < kBlocksPerPacket; ++k) {
    const float az = blockAzimuthDegrees(rawBlockAzimuth(image, k));
    appendBlock(strongFrame_, image, k, az, timestamp, singleTimeOffset(k, 0));
    interpolatePrevious(strongFrame_);
    if (!wrapped(strongFrame_.blockAzimuth)) continue;
    extrapolateLast(strongFrame_);
    carryOver(strongFrame_, held_);
    const size_t hint = reserveHint(strongFrame_);
    out.push_back(std::move(strongFrame_));
    strongFrame_ = LidarData();
    strongFrame_.reserve(hint);
    restoreHeld(strongFrame_, held_);
    ++closed;
  }
  return closed;
}

// ---------------------------------------------------------------------------------------------

LiveDualAssembler::LiveDualAssembler() {
  strongFrame_.reserve(1024);
  secondFrame_.reserve(1024);
}

void LiveDualAssembler::reset() {
  dualFrame_.clear();
  strongFrame_.clear();
  secondFrame_.clear();
  heldStrong_.clear();
  heldSecond_.clear();
}

int LiveDualAssembler::addPacket(const uint8_t* image, std::vector<LidarData>& out) {
  if (!isPointPacket(image)) return 0;
  const double timestamp = packetTimestamp(image);
  int closed = 0;
  for (int k = 0; k < kBlocksPerPacket; ++k) {
    const float az = blockAzimuthDegrees(rawBlockAzimuth(image, k));
    LidarData& acc = (k % 2 == 0) ? strongFrame_ : secondFrame_;
    // Both blocks of a pair fired together: each carries the pair's times, so every
    // accumulator's lists stay aligned whichever block a revolution closes on.
    appendBlock(acc, image, k, az, timestamp, pairTimeOffset(k & ~1, 0));
    interpolatePrevious(acc);

    const int code = normalizedEcho(echoCode());
    const LidarData& tested = code == kStrongEcho ? strongFrame_ : secondFrame_;
    if (!wrapped(tested.blockAzimuth)) continue;

    const size_t hint = reserveHint(code == kSecondEcho ? secondFrame_ : strongFrame_);
    if (code == kDualEcho) {
      extrapolateLast(strongFrame_);
      extrapolateLast(secondFrame_);
      strongFrame_.trimToAzimuths();
      secondFrame_.trimToAzimuths();
      carryOver(strongFrame_, heldStrong_);
      carryOver(secondFrame_, heldSecond_);
      dualFrame_.clear();
      dualFrame_.reserve(2 * hint);
      for (int ch = 0; ch < kChannelCount; ++ch) {
        dualFrame_.appendChannel(ch, strongFrame_);
        dualFrame_.appendChannel(ch, secondFrame_);
      }
      out.push_back(std::move(dualFrame_));
      // Room for the next merged frame is taken while the emitted one is still alive: once its
      // consumer frees it, it leaves a hole that the allocator reuses rather than a heap top that
      // it trims, which would fault fresh pages in at every revolution.
      dualFrame_ = LidarData();
      dualFrame_.reserve(2 * hint);
      strongFrame_.clear();
      secondFrame_.clear();
    } else {
      LidarData& emitted = code == kStrongEcho ? strongFrame_ : secondFrame_;
      LidarData& held = code == kStrongEcho ? heldStrong_ : heldSecond_;
      extrapolateLast(emitted);
      emitted.trimToAzimuths();
      carryOver(emitted, held);
      out.push_back(std::move(emitted));
      emitted = LidarData();
      emitted.reserve(hint);
      strongFrame_.clear();
      secondFrame_.clear();
      dualFrame_.clear();
    }
    restoreHeld(strongFrame_, heldStrong_);
    restoreHeld(secondFrame_, heldSecond_);
    ++closed;
  }
  return closed;
}

// ---------------------------------------------------------------------------------------------

OfflineAssembler::OfflineAssembler(Layout layout) : layout_(layout) {}

void OfflineAssembler::reset() {
  dualFrame_.clear();
  strongFrame_.clear();
  secondFrame_.clear();
  azimuthHistory_.clear();
  strongHistory_.clear();
  secondHistory_.clear();
  closed_ = false;
}

bool OfflineAssembler::beginPacket(const uint8_t* image) {
  if (!isPointPacket(image)) {
    image_ = nullptr;
    return false;
  }
  image_ = image;
  timestamp_ = packetTimestamp(image);
  return true;
}

bool OfflineAssembler::addBlock(int k, int direction) {
  if (!image_ || k < 0 || k >= kBlocksPerPacket) return false;
  if (direction != lastDirection_) {
    // A history built walking one way means nothing walking the other way.
    azimuthHistory_.clear();
    strongHistory_.clear();
    secondHistory_.clear();
    lastDirection_ = direction;
  }
  closed_ = false;
  if (layout_ == Layout::Single)
    addSingleBlock(k, direction);
  else
    addDualBlock(k, direction);
  return closed_;
}

LidarData OfflineAssembler::takeFrame() {
  closed_ = false;
  return std::move(closedFrame_);
}

namespace {
// Backward play interpolates every packet within itself: after the packet's last block of an
// accumulator its azimuths are extrapolated and the block list emptied. When a close earlier in
// the packet left a single block azimuth, that block's points cannot be placed and are dropped.
void closePacketBackward(LidarData& frame) {
  if (frame.blockAzimuth.size() >= 2)
    extrapolateLast(frame);
  else
    frame.trimToAzimuths();
  frame.blockAzimuth.clear();
}
}  // namespace

void OfflineAssembler::addSingleBlock(int k, int direction) {
  const uint16_t raw = rawBlockAzimuth(image_, k);
  const float az = blockAzimuthDegrees(raw);
  // Playback gives every block of a single-return packet the pair formula with e = k.
  appendBlock(dualFrame_, image_, k, az, timestamp_, pairTimeOffset(k, 0));
  interpolatePrevious(dualFrame_);
  bool close;
  if (direction < 0) {
    if (raw < kAzimuthInvalidFrom) azimuthHistory_.push_back(az);
    if (k == kBlocksPerPacket - 1) closePacketBackward(dualFrame_);
    close = wrapped(azimuthHistory_);
  } else {
    close = wrapped(dualFrame_.blockAzimuth);
  }
  if (!close) return;
  extrapolateLast(dualFrame_);
  // A backward frame closing at block 0 holds that block's points without azimuths.
  dualFrame_.trimToAzimuths();
  const size_t hint = reserveHint(dualFrame_);
  closedFrame_ = std::move(dualFrame_);
  dualFrame_ = LidarData();
  dualFrame_.reserve(hint);
  reset();
  closed_ = true;
}

void OfflineAssembler::addDualBlock(int k, int direction) {
  const uint16_t raw = rawBlockAzimuth(image_, k);
  const float az = blockAzimuthDegrees(raw);
  const bool even = k % 2 == 0;
  LidarData& acc = even ? strongFrame_ : secondFrame_;
  appendBlock(acc, image_, k, az, timestamp_, pairTimeOffset(k & ~1, 0));
  interpolatePrevious(acc);
  if (direction < 0) {
    std::vector<float>& history = even ? strongHistory_ : secondHistory_;
    if (raw < kAzimuthInvalidFrom) history.push_back(az);
    if (k == kBlocksPerPacket - 2) closePacketBackward(strongFrame_);
    if (k == kBlocksPerPacket - 1) closePacketBackward(secondFrame_);
  }

  const int code = normalizedEcho(echoCode());
  const bool testSecond = code == kSecondEcho;
  const std::vector<float>& tested =
      direction < 0 ? (testSecond ? secondHistory_ : strongHistory_)
                    : (testSecond ? secondFrame_.blockAzimuth : strongFrame_.blockAzimuth);
  if (!wrapped(tested)) return;

  if (code == kDualEcho) {
    extrapolateLast(strongFrame_);
    extrapolateLast(secondFrame_);
    strongFrame_.trimToAzimuths();
    secondFrame_.trimToAzimuths();
    dualFrame_.clear();
    dualFrame_.reserve(reserveHint(strongFrame_) * 2);
    for (int ch = 0; ch < kChannelCount; ++ch) {
      dualFrame_.appendChannel(ch, strongFrame_);
      dualFrame_.appendChannel(ch, secondFrame_);
    }
    const size_t hint = dualFrame_.distance[0].capacity();
    closedFrame_ = std::move(dualFrame_);
    dualFrame_ = LidarData();
    dualFrame_.reserve(hint);  // as in live decoding: the next merged frame's room, taken now
  } else {
    LidarData& emitted = testSecond ? secondFrame_ : strongFrame_;
    extrapolateLast(emitted);
    emitted.trimToAzimuths();
    const size_t hint = reserveHint(emitted);
    closedFrame_ = std::move(emitted);
    emitted = LidarData();
    emitted.reserve(hint);
  }
  reset();
  closed_ = true;
}

int OfflineAssembler::addPacket(const uint8_t* image, int direction, std::vector<LidarData>& out) {
  if (!beginPacket(image)) return 0;
  int closed = 0;
  for (int k = 0; k < kBlocksPerPacket; ++k) {
    if (addBlock(k, direction)) {
      out.push_back(takeFrame());
      ++closed;
    }
  }
  return closed;
}

}  // namespace tovik
