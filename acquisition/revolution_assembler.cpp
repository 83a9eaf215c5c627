#include "acquisition/revolution_assembler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

inline float recordDistance(const uint8_t* record) { return float(record[0] | record[1] << 8); }

// The azimuth of record j' of a block that starts at base and spans step x 32 degrees.
inline float pointAzimuth(float base, float step, float jPrime) {
  const float a = base + step * jPrime;
  return a >= 360.0f ? a - 360.0f : a;
}

// Record j' of each channel in pair order: the first-sequence record of channel ch at 2 ch, its
// second-sequence record at 2 ch + 1.
constexpr std::array<float, kRecordsPerBlock> kPairOrder = [] {
  std::array<float, kRecordsPerBlock> order{};
  for (size_t ch = 0; ch < kChannelCount; ++ch) {
    order[2 * ch] = float(ch);
    order[2 * ch + 1] = float(ch + 16);
  }
  return order;
}();

inline float forwardDelta(float prev, float last) {
  float delta = last - prev;
  if (delta < 0.0f) delta += 360.0f;
  return delta;
}

// Firing offsets from the packet timestamp, rounded down to whole microseconds, per block (or
// pair) index e and record j': (slotsPerBlock x e + j' - lastSlot) x 3.125 us. The timestamp is a
// whole number of microseconds, so timestamp + offset truncates to timestamp + floor(offset)
// whenever it is positive.
struct OffsetTable {
  std::array<std::array<int32_t, kRecordsPerBlock>, kBlocksPerPacket> us;
};

constexpr OffsetTable makeOffsets(int slotsPerBlock, int lastSlot) {
  OffsetTable t{};
  for (int e = 0; e < kBlocksPerPacket; ++e) {
    for (int j = 0; j < kRecordsPerBlock; ++j) {
      const int eighths = (slotsPerBlock * e + j - lastSlot) * 25;  // 3.125 us = 25/8 us
      const int pairOrder = j < 16 ? 2 * j : 2 * (j - 16) + 1;
      t.us[size_t(e)][size_t(pairOrder)] = eighths >= 0 ? eighths / 8 : -((7 - eighths) / 8);
    }
  }
  return t;
}

// Live single return: 32 slots per block, the last firing of block 11 at the timestamp.
constexpr OffsetTable kSingleOffsets = makeOffsets(32, 383);
// Pairs (and playback): 16 slots per block index, the last firing of pair 10/11 at the timestamp.
constexpr OffsetTable kPairOffsets = makeOffsets(16, 191);
static_assert(kSingleOffsets.us[0][0] == -1197 && kSingleOffsets.us[11][31] == 0);
static_assert(kPairOffsets.us[0][2] == -594 && kPairOffsets.us[10][31] == 0);

// A firing time before the device clock's zero reads 0 (see firingTime).
constexpr int64_t kLargestNegativeOffset = 1197;
}  // namespace

void firingTimes(uint32_t timestamp, const int32_t* offsets, uint64_t* times) {
  const int64_t t = timestamp;
  if (t >= kLargestNegativeOffset) {
    for (int j = 0; j < kRecordsPerBlock; ++j) times[j] = uint64_t(t + offsets[j]);
  } else {
    for (int j = 0; j < kRecordsPerBlock; ++j) {
      const int64_t v = t + offsets[j];
      times[j] = v > 0 ? uint64_t(v) : 0;
    }
  }
}

const int32_t* singleOffsets(int k) { return kSingleOffsets.us[size_t(k)].data(); }
const int32_t* pairOffsets(int e) { return kPairOffsets.us[size_t(e)].data(); }

void appendBlock(LidarData& frame, const uint8_t* image, int k, float azimuth, double timestamp,
                 double timeBase) {
  // The timestamp is whole microseconds and the offsets are multiples of 1/8 us, all far inside
  // double's precision, so adding the firing slot to the block's base time is exact.
  const double base = timestamp + timeBase;
  uint64_t times[kRecordsPerBlock];
  for (int j = 0; j < kRecordsPerBlock; ++j) times[j] = firingTime(base, j * kFiringPeriod);
  frame.blockAzimuth.push_back(azimuth);
  const uint8_t* records = image + kBlockSize * k + 4;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    // Read the two records before appending: the stores could otherwise alias the image bytes.
    const uint8_t* first = records + 3 * ch;
    const uint8_t* second = records + 3 * (ch + 16);
    const float d1 = recordDistance(first);
    const float d2 = recordDistance(second);
    const int i1 = first[2];
    const int i2 = second[2];
    appendTwo(frame.distance[ch], d1, d2);
    appendTwo(frame.intensity[ch], i1, i2);
    appendTwo(frame.adjustedTime[ch], times[ch], times[ch + 16]);
  }
}

namespace {
// Appends the 32 point azimuths of a block that starts at base and spans delta degrees.
void appendAzimuths(LidarData& frame, float base, float delta) {
  const float step = delta / 32.0f;
  for (int ch = 0; ch < kChannelCount; ++ch)
    appendTwo(frame.azimuth[ch], pointAzimuth(base, step, float(ch)),
              pointAzimuth(base, step, float(ch + 16)));
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

// ---------------------------------------------------------------------------------------------

void FrameBuilder::start(LidarData&& buffer, size_t room, size_t capacity) {
  frame_ = std::move(buffer);
  room_ = room;
  capacity = std::max(capacity, room);
  auto prepare = [&](auto& list) {
    list.reserve(capacity);
    list.resize(room);
  };
  for (int ch = 0; ch < kChannelCount; ++ch) {
    prepare(frame_.distance[ch]);
    prepare(frame_.intensity[ch]);
    prepare(frame_.azimuth[ch]);
    prepare(frame_.adjustedTime[ch]);
  }
  clear();
}

void FrameBuilder::clear() {
  frame_.blockAzimuth.clear();
  n_ = azN_ = 0;
  held_.fill(0);
  mostHeld_ = 0;
  blocks_ = 0;
}

void FrameBuilder::grow(size_t points) {
  room_ = std::max({points, 2 * room_, size_t(256)});
  for (int ch = 0; ch < kChannelCount; ++ch) {
    frame_.distance[ch].resize(room_);
    frame_.intensity[ch].resize(room_);
    frame_.azimuth[ch].resize(room_);
    frame_.adjustedTime[ch].resize(room_);
  }
}

void FrameBuilder::appendBlock(const uint8_t* image, int k, float azimuth, const uint64_t* times) {
  frame_.blockAzimuth.push_back(azimuth);
  if (n_ + mostHeld_ + 2 > room_) grow(n_ + mostHeld_ + 2);
  const uint8_t* records = image + kBlockSize * k + 4;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const uint8_t* first = records + 3 * ch;
    const uint8_t* second = records + 3 * (ch + 16);
    const float distances[2] = {recordDistance(first), recordDistance(second)};
    const int intensities[2] = {first[2], second[2]};
    const size_t i = n_ + held_[ch];
    std::memcpy(frame_.distance[ch].data() + i, distances, sizeof distances);
    std::memcpy(frame_.intensity[ch].data() + i, intensities, sizeof intensities);
    std::memcpy(frame_.adjustedTime[ch].data() + i, times + 2 * ch, 2 * sizeof(uint64_t));
  }
  n_ += 2;
  ++blocks_;
}

namespace {
// The azimuths of the 32 records of a block that starts at base and spans delta degrees, in pair
// order (see kPairOrder).
inline void blockPointAzimuths(float base, float delta, float* a) {
  const float step = delta / 32.0f;
#if defined(__SSE2__)
  // The same single-precision operations as pointAzimuth, four at a time (the compiler keeps the
  // comparison a branch, which it cannot vectorise).
  const __m128 b = _mm_set1_ps(base), s = _mm_set1_ps(step), full = _mm_set1_ps(360.0f);
  for (int j = 0; j < kRecordsPerBlock; j += 4) {
    const __m128 v = _mm_add_ps(b, _mm_mul_ps(s, _mm_loadu_ps(kPairOrder.data() + j)));
    _mm_storeu_ps(a + j, _mm_sub_ps(v, _mm_and_ps(_mm_cmpge_ps(v, full), full)));
  }
#else
  for (int j = 0; j < kRecordsPerBlock; ++j) a[j] = pointAzimuth(base, step, kPairOrder[j]);
#endif
}
}  // namespace

void FrameBuilder::appendAzimuths(float base, float delta) {
  if (azN_ + mostHeld_ + 2 > room_) grow(azN_ + mostHeld_ + 2);
  alignas(16) float a[kRecordsPerBlock];
  blockPointAzimuths(base, delta, a);
  for (int ch = 0; ch < kChannelCount; ++ch)
    std::memcpy(frame_.azimuth[ch].data() + azN_ + held_[ch], a + 2 * ch, 2 * sizeof(float));
  azN_ += 2;
}

void FrameBuilder::appendBlocks(const uint8_t* image, int firstK, int stride, int count,
                                const uint64_t* const* times) {
  const size_t before = frame_.blockAzimuth.size();
  for (int b = 0; b < count; ++b)
    frame_.blockAzimuth.push_back(blockAzimuthDegrees(rawBlockAzimuth(image, firstK + stride * b)));
  const size_t points = 2 * size_t(count);
  if (n_ + mostHeld_ + points > room_) grow(n_ + mostHeld_ + points);
  // Channel by channel, so that each list receives the packet's points in one run.
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const size_t i = n_ + held_[ch];
    float* distance = frame_.distance[ch].data() + i;
    int* intensity = frame_.intensity[ch].data() + i;
    uint64_t* time = frame_.adjustedTime[ch].data() + i;
    for (int b = 0; b < count; ++b) {
      const uint8_t* first = image + kBlockSize * (firstK + stride * b) + 4 + 3 * ch;
      const uint8_t* second = first + 3 * 16;
      distance[2 * b] = recordDistance(first);
      distance[2 * b + 1] = recordDistance(second);
      intensity[2 * b] = first[2];
      intensity[2 * b + 1] = second[2];
      std::memcpy(time + 2 * b, times[b] + 2 * ch, 2 * sizeof(uint64_t));
    }
  }
  n_ += points;
  blocks_ += uint32_t(count);

  // Each block that now has a successor gets its azimuths, as interpolatePrevious() after every
  // block would give them.
  const std::vector<float>& az = frame_.blockAzimuth;
  const size_t from = std::max(before, size_t(1));
  const size_t placed = az.size() - from;
  if (placed == 0) return;
  if (azN_ + mostHeld_ + 2 * placed > room_) grow(azN_ + mostHeld_ + 2 * placed);
  alignas(16) float a[kBlocksPerPacket][kRecordsPerBlock];
  for (size_t r = 0; r < placed; ++r)
    blockPointAzimuths(az[from + r - 1], forwardDelta(az[from + r - 1], az[from + r]), a[r]);
  for (int ch = 0; ch < kChannelCount; ++ch) {
    float* out = frame_.azimuth[ch].data() + azN_ + held_[ch];
    for (size_t r = 0; r < placed; ++r) std::memcpy(out + 2 * r, a[r] + 2 * ch, 2 * sizeof(float));
  }
  azN_ += 2 * placed;
}

void FrameBuilder::interpolatePrevious() {
  const size_t n = frame_.blockAzimuth.size();
  if (n < 2) return;
  const float prev = frame_.blockAzimuth[n - 2];
  const float last = frame_.blockAzimuth[n - 1];
  appendAzimuths(prev, forwardDelta(prev, last));
}

void FrameBuilder::extrapolateLast() {
  const size_t n = frame_.blockAzimuth.size();
  if (n < 2) return;
  const float prev = frame_.blockAzimuth[n - 2];
  const float last = frame_.blockAzimuth[n - 1];
  appendAzimuths(last, forwardDelta(prev, last));
}

void FrameBuilder::trimToAzimuths() { n_ = azN_ = std::min(n_, azN_); }

void FrameBuilder::carryOver(LidarData& held) {
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const size_t n = std::min(n_, azN_) + held_[ch];
    if (n < kCarryWindow) continue;
    float* distance = frame_.distance[ch].data();
    int* intensity = frame_.intensity[ch].data();
    float* az = frame_.azimuth[ch].data();
    uint64_t* time = frame_.adjustedTime[ch].data();
    for (size_t i = n - kCarryWindow; i < n; ++i) {
      if (!(az[i] < kCarryAzimuth)) continue;
      held.distance[ch].push_back(distance[i]);
      held.intensity[ch].push_back(intensity[i]);
      held.azimuth[ch].push_back(az[i]);
      held.adjustedTime[ch].push_back(time[i]);
      distance[i] = 0.0f;
      intensity[i] = 0;
      az[i] = 0.0f;
      time[i] = 0;
    }
  }
}

void FrameBuilder::restore(LidarData& held) {
  clear();
  for (int ch = 0; ch < kChannelCount; ++ch)
    mostHeld_ = std::max(mostHeld_, size_t(held.distance[ch].size()));
  if (mostHeld_ == 0) return;
  if (mostHeld_ > room_) grow(mostHeld_);
  for (int ch = 0; ch < kChannelCount; ++ch) {
    // Held points carry all four values.
    const size_t h = held.distance[ch].size();
    std::copy_n(held.distance[ch].begin(), h, frame_.distance[ch].begin());
    std::copy_n(held.intensity[ch].begin(), h, frame_.intensity[ch].begin());
    std::copy_n(held.adjustedTime[ch].begin(), h, frame_.adjustedTime[ch].begin());
    std::copy_n(held.azimuth[ch].begin(), h, frame_.azimuth[ch].begin());
    held_[ch] = uint32_t(h);
  }
  held.clear();
}

LidarData FrameBuilder::release() {
  LidarData out = std::move(frame_);
  frame_ = LidarData();
  room_ = 0;
  clear();
  return out;
}

LidarData FrameBuilder::take() {
  for (int ch = 0; ch < kChannelCount; ++ch) {
    frame_.distance[ch].resize(n_ + held_[ch]);
    frame_.intensity[ch].resize(n_ + held_[ch]);
    frame_.adjustedTime[ch].resize(n_ + held_[ch]);
    frame_.azimuth[ch].resize(azN_ + held_[ch]);
  }
  return release();
}

LidarData FrameBuilder::takeMerged(FrameBuilder& other) {
  trimToAzimuths();
  other.trimToAzimuths();
  auto merge = [](auto& list, size_t n, const auto& more, size_t m) {
    list.resize(n);
    list.insert(list.end(), more.begin(), more.begin() + std::ptrdiff_t(m));
  };
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const size_t n = n_ + held_[ch];
    const size_t m = other.n_ + other.held_[ch];
    merge(frame_.distance[ch], n, other.frame_.distance[ch], m);
    merge(frame_.intensity[ch], n, other.frame_.intensity[ch], m);
    merge(frame_.azimuth[ch], n, other.frame_.azimuth[ch], m);
    merge(frame_.adjustedTime[ch], n, other.frame_.adjustedTime[ch], m);
  }
  frame_.blockAzimuth.clear();
  other.clear();
  return release();
}

LidarData FrameBuilder::snapshot() const {
  LidarData copy;
  copy.blockAzimuth = frame_.blockAzimuth;
  auto head = [](const auto& list, size_t n) {
    return std::decay_t<decltype(list)>(list.begin(), list.begin() + std::ptrdiff_t(n));
  };
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const size_t n = n_ + held_[ch];
    copy.distance[ch] = head(frame_.distance[ch], n);
    copy.intensity[ch] = head(frame_.intensity[ch], n);
    copy.adjustedTime[ch] = head(frame_.adjustedTime[ch], n);
    copy.azimuth[ch] = head(frame_.azimuth[ch], azN_ + held_[ch]);
  }
  return copy;
}

// ---------------------------------------------------------------------------------------------

void FramePool::put(LidarData&& frame) {
  // A frame moved from has no lists left to reuse.
  if (frames_.size() >= kLimit || frame.distance[0].capacity() == 0) return;
  frames_.push_back(std::move(frame));
}

LidarData FramePool::take() {
  if (frames_.empty()) return LidarData();
  LidarData frame = std::move(frames_.back());
  frames_.pop_back();
  return frame;
}

}  // namespace assembly

using assembly::FrameBuilder;
using assembly::wrapped;

namespace {

// Per-channel room for the next frame: a little more than the largest frame seen so far, so that
// the lists of a steady stream never grow.
size_t roomAfter(size_t mostPoints) { return mostPoints + mostPoints / 8 + 64; }

int normalizedEcho(int code) { return (code == kStrongEcho || code == kSecondEcho) ? code : 0; }

}  // namespace

// ---------------------------------------------------------------------------------------------

LiveSingleAssembler::LiveSingleAssembler() { strongFrame_.start(LidarData(), 2048, 2048); }

void LiveSingleAssembler::reset() {
  strongFrame_.clear();
  held_.clear();
}

int LiveSingleAssembler::addPacket(const uint8_t* image, std::vector<LidarData>& out) {
  if (!isPointPacket(image)) return 0;
  const uint32_t timestamp = packetTimestamp(image);
  int closed = 0;
  uint64_t times[kRecordsPerBlock];
  for (int k = 0; k < kBlocksPerPacket; ++k) {
    const float az = blockAzimuthDegrees(rawBlockAzimuth(image, k));
    assembly::firingTimes(timestamp, assembly::singleOffsets(k), times);
    strongFrame_.appendBlock(image, k, az, times);
    strongFrame_.interpolatePrevious();
    if (!wrapped(strongFrame_.blockAzimuth())) {
      if (strongFrame_.blocks() >= kMaxRevolutionBlocks) {
        reset();
        ++capped_;
      }
      continue;
    }
    strongFrame_.extrapolateLast();
    strongFrame_.carryOver(held_);
    const size_t room = roomAfter(strongFrame_.mostPoints());
    out.push_back(strongFrame_.take());
    strongFrame_.start(pool_.take(), room, room);
    strongFrame_.restore(held_);
    ++closed;
  }
  return closed;
}

// ---------------------------------------------------------------------------------------------

LiveDualAssembler::LiveDualAssembler() {
  strongFrame_.start(LidarData(), 1024, 2048);
  secondFrame_.start(LidarData(), 1024, 2048);
}

void LiveDualAssembler::reset() {
  strongFrame_.clear();
  secondFrame_.clear();
  heldStrong_.clear();
  heldSecond_.clear();
}

void LiveDualAssembler::restart(FrameBuilder& frame, size_t room) {
  // Either accumulator may be emitted merged with the other: room for both.
  frame.start(pool_.take(), room, 2 * room);
}

int LiveDualAssembler::addPacket(const uint8_t* image, std::vector<LidarData>& out) {
  if (!isPointPacket(image)) return 0;
  const uint32_t timestamp = packetTimestamp(image);
  int closed = 0;
  uint64_t times[kRecordsPerBlock];
  for (int k = 0; k < kBlocksPerPacket; ++k) {
    const float az = blockAzimuthDegrees(rawBlockAzimuth(image, k));
    const bool even = k % 2 == 0;
    FrameBuilder& acc = even ? strongFrame_ : secondFrame_;
    // Both blocks of a pair fired together: each carries the pair's times, so every
    // accumulator's lists stay aligned whichever block a revolution closes on.
    if (even) assembly::firingTimes(timestamp, assembly::pairOffsets(k), times);
    acc.appendBlock(image, k, az, times);
    acc.interpolatePrevious();

    const int code = normalizedEcho(echoCode());
    const FrameBuilder& tested = code == kStrongEcho ? strongFrame_ : secondFrame_;
    if (!wrapped(tested.blockAzimuth())) {
      if (strongFrame_.blocks() + secondFrame_.blocks() >= kMaxRevolutionBlocks) {
        reset();
        ++capped_;
      }
      continue;
    }

    if (code == kDualEcho) {
      const size_t room = roomAfter(std::max(strongFrame_.mostPoints(), secondFrame_.mostPoints()));
      strongFrame_.extrapolateLast();
      secondFrame_.extrapolateLast();
      strongFrame_.trimToAzimuths();
      secondFrame_.trimToAzimuths();
      strongFrame_.carryOver(heldStrong_);
      secondFrame_.carryOver(heldSecond_);
      out.push_back(strongFrame_.takeMerged(secondFrame_));
      restart(strongFrame_, room);
    } else {
      FrameBuilder& emitted = code == kStrongEcho ? strongFrame_ : secondFrame_;
      LidarData& held = code == kStrongEcho ? heldStrong_ : heldSecond_;
      const size_t room = roomAfter(emitted.mostPoints());
      emitted.extrapolateLast();
      emitted.trimToAzimuths();
      emitted.carryOver(held);
      out.push_back(emitted.take());
      restart(emitted, room);
      strongFrame_.clear();
      secondFrame_.clear();
    }
    strongFrame_.restore(heldStrong_);
    secondFrame_.restore(heldSecond_);
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

const LidarData& OfflineAssembler::partialFrame() const {
  partial_ = dualFrame_.snapshot();
  return partial_;
}

bool OfflineAssembler::beginPacket(const uint8_t* image) {
  if (!isPointPacket(image)) {
    image_ = nullptr;
    return false;
  }
  image_ = image;
  timestamp_ = packetTimestamp(image);
  ++packet_;
  return true;
}

void OfflineAssembler::pairTimes(int e) {
  if (timesPacket_ == packet_ && timesBlock_ == e) return;
  assembly::firingTimes(timestamp_, assembly::pairOffsets(e), times_.data());
  timesPacket_ = packet_;
  timesBlock_ = e;
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
  if (!closed_ &&
      dualFrame_.blocks() + strongFrame_.blocks() + secondFrame_.blocks() >= kMaxRevolutionBlocks) {
    reset();
    ++capped_;
  }
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
void closePacketBackward(FrameBuilder& frame) {
  if (frame.blockAzimuth().size() >= 2)
    frame.extrapolateLast();
  else
    frame.trimToAzimuths();
  frame.clearBlockAzimuth();
}
}  // namespace

void OfflineAssembler::closeFrame(FrameBuilder& frame, bool mergeSecond) {
  const size_t most = std::max(frame.mostPoints(), mergeSecond ? secondFrame_.mostPoints() : 0);
  const size_t room = roomAfter(most);
  // A frame not handed back is freed by its consumer; room for the next one is taken from a
  // handed-back frame when there is one.
  closedFrame_ = mergeSecond ? frame.takeMerged(secondFrame_) : frame.take();
  frame.start(pool_.take(), room, layout_ == Layout::Dual ? 2 * room : room);
  reset();
  closed_ = true;
}

void OfflineAssembler::addSingleBlock(int k, int direction) {
  const uint16_t raw = rawBlockAzimuth(image_, k);
  const float az = blockAzimuthDegrees(raw);
  // Playback gives every block of a single-return packet the pair formula with e = k.
  pairTimes(k);
  dualFrame_.appendBlock(image_, k, az, times_.data());
  dualFrame_.interpolatePrevious();
  bool close;
  if (direction < 0) {
    if (raw < kAzimuthInvalidFrom) azimuthHistory_.push_back(az);
    if (k == kBlocksPerPacket - 1) closePacketBackward(dualFrame_);
    close = wrapped(azimuthHistory_);
  } else {
    close = wrapped(dualFrame_.blockAzimuth());
  }
  if (!close) return;
  dualFrame_.extrapolateLast();
  // A backward frame closing at block 0 holds that block's points without azimuths.
  dualFrame_.trimToAzimuths();
  closeFrame(dualFrame_, false);
}

void OfflineAssembler::addDualBlock(int k, int direction) {
  const uint16_t raw = rawBlockAzimuth(image_, k);
  const float az = blockAzimuthDegrees(raw);
  const bool even = k % 2 == 0;
  FrameBuilder& acc = even ? strongFrame_ : secondFrame_;
  // Both blocks of a pair carry the pair's times.
  pairTimes(k & ~1);
  acc.appendBlock(image_, k, az, times_.data());
  acc.interpolatePrevious();
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
                    : (testSecond ? secondFrame_.blockAzimuth() : strongFrame_.blockAzimuth());
  if (!wrapped(tested)) return;

  if (code == kDualEcho) {
    strongFrame_.extrapolateLast();
    secondFrame_.extrapolateLast();
    closeFrame(strongFrame_, true);  // takeMerged trims both to their azimuths
  } else {
    FrameBuilder& emitted = testSecond ? secondFrame_ : strongFrame_;
    emitted.extrapolateLast();
    emitted.trimToAzimuths();
    closeFrame(emitted, false);
  }
}

bool OfflineAssembler::packetMayClose() const {
  if (dualFrame_.blocks() + strongFrame_.blocks() + secondFrame_.blocks() + kBlocksPerPacket >=
      kMaxRevolutionBlocks)
    return true;
  const bool dual = layout_ == Layout::Dual;
  const bool testSecond = dual && normalizedEcho(echoCode()) == kSecondEcho;
  const std::vector<float>& tested = !dual        ? dualFrame_.blockAzimuth()
                                     : testSecond ? secondFrame_.blockAzimuth()
                                                  : strongFrame_.blockAzimuth();
  bool have = !tested.empty();
  float prev = have ? tested.back() : 0.0f;
  for (int k = testSecond ? 1 : 0; k < kBlocksPerPacket; k += dual ? 2 : 1) {
    const float az = blockAzimuthDegrees(rawBlockAzimuth(image_, k));
    if (have && std::fabs(az - prev) > assembly::kWrapJump) return true;
    have = true;
    prev = az;
  }
  return false;
}

void OfflineAssembler::addWholePacket() {
  alignas(16) uint64_t times[kBlocksPerPacket][kRecordsPerBlock];
  const uint64_t* perBlock[kBlocksPerPacket];
  if (layout_ == Layout::Single) {
    for (int k = 0; k < kBlocksPerPacket; ++k) {
      assembly::firingTimes(timestamp_, assembly::pairOffsets(k), times[k]);
      perBlock[k] = times[k];
    }
    dualFrame_.appendBlocks(image_, 0, 1, kBlocksPerPacket, perBlock);
  } else {
    for (int e = 0; e < kBlocksPerPacket / 2; ++e) {
      assembly::firingTimes(timestamp_, assembly::pairOffsets(2 * e), times[e]);
      perBlock[e] = times[e];
    }
    strongFrame_.appendBlocks(image_, 0, 2, kBlocksPerPacket / 2, perBlock);
    secondFrame_.appendBlocks(image_, 1, 2, kBlocksPerPacket / 2, perBlock);
  }
  timesBlock_ = -1;
  closed_ = false;
}

RevolutionCutter::RevolutionCutter(OfflineAssembler::Layout layout, int echoCode)
    : dual_(layout == OfflineAssembler::Layout::Dual), testOdd_(echoCode == kSecondEcho) {}

RevolutionCutter::Event RevolutionCutter::addBlock(int k, uint16_t rawAzimuth) {
  const float az = blockAzimuthDegrees(rawAzimuth);
  ++blocks_;
  if (!dual_ || (k % 2 == 1) == testOdd_) {
    if (haveTested_ && std::fabs(az - lastTested_) > assembly::kWrapJump) {
      blocks_ = 0;
      haveTested_ = false;
      return Event::Closed;
    }
    haveTested_ = true;
    lastTested_ = az;
  }
  if (blocks_ >= kMaxRevolutionBlocks) {
    blocks_ = 0;
    haveTested_ = false;
    return Event::Dropped;
  }
  return Event::None;
}

RevolutionCounter::RevolutionCounter(OfflineAssembler::Layout layout, int echoCode,
                                     uint16_t channels, float angleMin, float angleMax)
    : cutter_(layout, echoCode),
      dual_(layout == OfflineAssembler::Layout::Dual),
      echoCode_(normalizedEcho(echoCode)),
      pairMask_(0),
      channelsCounted_(0),
      angleMin_(angleMin),
      angleMax_(angleMax),
      // Block azimuths lie in [0, 360) and a block spans less than 360 degrees, so every point
      // azimuth lies in [0, 360) too.
      everyAzimuth_(angleMin <= 0.0f && angleMax >= 360.0f) {
  for (int ch = 0; ch < kChannelCount; ++ch) {
    if (!(channels & (1u << ch))) continue;
    pairMask_ |= 3u << (2 * ch);
    ++channelsCounted_;
  }
}

uint64_t RevolutionCounter::blockRows(float base, float delta) const {
  if (everyAzimuth_) return 2 * uint64_t(channelsCounted_);
  alignas(16) float a[kRecordsPerBlock];
  assembly::blockPointAzimuths(base, delta, a);
  uint32_t inside = 0;
  for (int j = 0; j < kRecordsPerBlock; ++j)
    inside |= uint32_t((angleMin_ <= a[j]) & (a[j] <= angleMax_)) << j;
  return uint64_t(__builtin_popcount(inside & pairMask_));
}

void RevolutionCounter::addToTrack(Track& t, float az) const {
  // interpolatePrevious: the block before this one gets its azimuths now.
  if (t.blocks > 0) t.rows += blockRows(t.last, assembly::forwardDelta(t.last, az));
  t.beforeLast = t.last;
  t.last = az;
  ++t.blocks;
}

void RevolutionCounter::closeTrack(const Track& t, uint64_t* points, uint64_t* rows) const {
  if (t.blocks < 2) return;
  *points += uint64_t(t.blocks) * 2 * kChannelCount;
  *rows += t.rows + blockRows(t.last, assembly::forwardDelta(t.beforeLast, t.last));
}

RevolutionCutter::Event RevolutionCounter::addBlock(int k, uint16_t rawAzimuth) {
  const RevolutionCutter::Event e = cutter_.addBlock(k, rawAzimuth);
  addToTrack(tracks_[dual_ ? k % 2 : 0], blockAzimuthDegrees(rawAzimuth));
  if (e == RevolutionCutter::Event::Closed) {
    points_ = rows_ = 0;
    if (!dual_ || echoCode_ != kSecondEcho) closeTrack(tracks_[0], &points_, &rows_);
    if (dual_ && echoCode_ != kStrongEcho) closeTrack(tracks_[1], &points_, &rows_);
  }
  if (e != RevolutionCutter::Event::None) tracks_[0] = tracks_[1] = Track();
  return e;
}

int OfflineAssembler::addPacket(const uint8_t* image, int direction, std::vector<LidarData>& out) {
  if (!beginPacket(image)) return 0;
  // Most packets close nothing: forward, they are decoded whole, channel by channel, into the
  // same lists that block after block would give.
  if (direction > 0 && lastDirection_ > 0 && !packetMayClose()) {
    addWholePacket();
    return 0;
  }
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
