// Tests of the point data packet fields and of revolution assembly: live single-return, live
// dual-return and offline playback in both layouts and both directions.
//
// Most streams are built so that every point can be traced back to where it came from: record j
// of the n-th block of a stream carries raw distance n + 1 and intensity j. A point whose
// distance is 0 was zeroed by the carry-over. The checker below then recomputes each point's
// azimuth and firing time from its block and record and compares them with the frame.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "acquisition/lidar_data.h"
#include "acquisition/point_packet.h"
#include "acquisition/revolution_assembler.h"
#include "packet_builder.h"

namespace tovik {
namespace {

using test::PacketBuilder;
using test::PacketImage;
using test::packetsFromAzimuths;
using test::steadyAzimuths;
using test::steadyPairAzimuths;

constexpr uint32_t kFirstTimestamp = 1000000;  // us; far from 0 so no time is clamped
constexpr uint32_t kPacketPeriod = 1200;       // us between packets of a 600 rpm device

// Block serial n + 1 as the distance of every record of block n.
std::vector<PacketImage> tracedPackets(const std::vector<uint16_t>& azimuths) {
  return packetsFromAzimuths(
      azimuths, [](size_t n, int) { return n + 1; }, kFirstTimestamp, kPacketPeriod);
}

// ---------------------------------------------------------------------------------------------
// Expected frames.

// Block serials, inclusive, with a stride (2 walks the even or the odd blocks of pairs).
std::vector<int> blocks(int from, int to, int stride = 1) {
  std::vector<int> v;
  for (int n = from; n <= to; n += stride) v.push_back(n);
  return v;
}
// count blocks whose points the carry-over zeroed.
std::vector<int> zeroed(int count = 1) { return std::vector<int>(size_t(count), -1); }
std::vector<int> cat(std::initializer_list<std::vector<int>> parts) {
  std::vector<int> v;
  for (const auto& p : parts) v.insert(v.end(), p.begin(), p.end());
  return v;
}
// The blocks of packets from down to to (backward play order), each packet's blocks ascending;
// stride 2 with offset 0 or 1 keeps only the even or odd blocks.
std::vector<int> packetsDown(int from, int to, int stride = 1, int offset = 0) {
  std::vector<int> v;
  for (int p = from; p >= to; --p) {
    for (int k = offset; k < kBlocksPerPacket; k += stride) v.push_back(p * kBlocksPerPacket + k);
  }
  return v;
}

enum class TimeRule { LiveSingle, Pair, PairOwnBlock };

// How a traced stream was built, to recompute each point's azimuth and time.
struct StreamModel {
  std::vector<uint16_t> azimuths;  // per block, hundredths
  double delta;                    // degrees between consecutive blocks of one accumulator
  TimeRule rule;
};

double expectedTime(TimeRule rule, size_t n, int jPrime) {
  const double t = kFirstTimestamp + double(n / kBlocksPerPacket) * kPacketPeriod;
  const int k = int(n % kBlocksPerPacket);
  double v;
  switch (rule) {
    case TimeRule::LiveSingle:
      v = t + (32 * k + jPrime) * 3.125 - 1196.875;
      break;
    case TimeRule::Pair:
      v = t + (16 * (k - k % 2) + jPrime) * 3.125 - 596.875;
      break;
    default:
      v = t + (16 * k + jPrime) * 3.125 - 596.875;
  }
  return v < 0 ? 0 : std::floor(v);
}

double circularDistance(double a, double b) {
  double d = std::fabs(a - b);
  return std::min(d, 360.0 - d);
}

// Checks that frame holds, per channel, the two points (first then second firing sequence) of
// each block listed in layout, in that order; -1 stands for two zeroed points.
::testing::AssertionResult frameHolds(const LidarData& f, const std::vector<int>& layout,
                                      const StreamModel& m) {
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const size_t want = 2 * layout.size();
    if (f.distance[ch].size() != want || f.intensity[ch].size() != want ||
        f.azimuth[ch].size() != want || f.adjustedTime[ch].size() != want) {
      return ::testing::AssertionFailure()
             << "channel " << ch << ": lists of " << f.distance[ch].size() << "/"
             << f.intensity[ch].size() << "/" << f.azimuth[ch].size() << "/"
             << f.adjustedTime[ch].size() << " points, want " << want;
    }
    for (size_t s = 0; s < layout.size(); ++s) {
      for (int q = 0; q < 2; ++q) {
        const size_t i = 2 * s + size_t(q);
        const int jPrime = ch + 16 * q;
        auto where = [&] {
          std::ostringstream o;
          o << "channel " << ch << " point " << i << " (block " << layout[s] << ", record "
            << jPrime << "): ";
          return o.str();
        };
        const float d = f.distance[ch][i];
        const int in = f.intensity[ch][i];
        const float az = f.azimuth[ch][i];
        const uint64_t t = f.adjustedTime[ch][i];
        if (layout[s] < 0) {
          if (d != 0.0f || in != 0 || az != 0.0f || t != 0)
            return ::testing::AssertionFailure()
                   << where() << "expected a zeroed point, got d=" << d << " az=" << az
                   << " t=" << t;
          continue;
        }
        const size_t n = size_t(layout[s]);
        if (d != float(n + 1) || in != jPrime)
          return ::testing::AssertionFailure()
                 << where() << "holds block " << d - 1 << " record " << in;
        const uint16_t raw = m.azimuths[n];
        double want = (raw >= 36000 ? 0.0 : raw / 100.0) + m.delta * jPrime / 32.0;
        if (want >= 360.0) want -= 360.0;
        if (!(az >= 0.0f && az < 360.0f) || circularDistance(az, want) > 2e-3)
          return ::testing::AssertionFailure() << where() << "azimuth " << az << ", want " << want;
        const double wantTime = expectedTime(m.rule, n, jPrime);
        if (double(t) != wantTime)
          return ::testing::AssertionFailure()
                 << where() << "time " << t << ", want " << uint64_t(wantTime);
      }
    }
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult blockAzimuthsAre(const LidarData& f, const std::vector<int>& blockList,
                                            const StreamModel& m) {
  if (f.blockAzimuth.size() != blockList.size())
    return ::testing::AssertionFailure()
           << f.blockAzimuth.size() << " block azimuths, want " << blockList.size();
  for (size_t i = 0; i < blockList.size(); ++i) {
    const uint16_t raw = m.azimuths[size_t(blockList[i])];
    const float want = raw >= 36000 ? 0.0f : float(raw) / 100.0f;
    if (f.blockAzimuth[i] != want)
      return ::testing::AssertionFailure()
             << "entry " << i << " is " << f.blockAzimuth[i] << ", want " << want;
  }
  return ::testing::AssertionSuccess();
}

// Equal list lengths per channel, azimuths in [0, 360), block azimuths in [0, 360).
::testing::AssertionResult aligned(const LidarData& f) {
  for (float a : f.blockAzimuth)
    if (!(a >= 0.0f && a < 360.0f)) return ::testing::AssertionFailure() << "block azimuth " << a;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const size_t n = f.distance[ch].size();
    if (f.intensity[ch].size() != n || f.azimuth[ch].size() != n || f.adjustedTime[ch].size() != n)
      return ::testing::AssertionFailure()
             << "channel " << ch << ": " << n << "/" << f.intensity[ch].size() << "/"
             << f.azimuth[ch].size() << "/" << f.adjustedTime[ch].size();
    for (float a : f.azimuth[ch])
      if (!(a >= 0.0f && a < 360.0f))
        return ::testing::AssertionFailure() << "channel " << ch << " azimuth " << a;
  }
  return ::testing::AssertionSuccess();
}

bool sameFrame(const LidarData& a, const LidarData& b) {
  return a.blockAzimuth == b.blockAzimuth && a.distance == b.distance &&
         a.intensity == b.intensity && a.azimuth == b.azimuth && a.adjustedTime == b.adjustedTime;
}

// ---------------------------------------------------------------------------------------------
// Running the decodings.

enum class Decoding { LiveSingle, LiveDual, OfflineSingle, OfflineDual };

const char* decodingName(Decoding d) {
  switch (d) {
    case Decoding::LiveSingle:
      return "LiveSingle";
    case Decoding::LiveDual:
      return "LiveDual";
    case Decoding::OfflineSingle:
      return "OfflineSingle";
    default:
      return "OfflineDual";
  }
}

// Plays packets in the given order of indices with the playback engine's rule: the direction
// of a packet is the sign of the step to the next index (the last keeps the previous one).
std::vector<LidarData> playOffline(OfflineAssembler& a, const std::vector<PacketImage>& packets,
                                   const std::vector<int>& order, int firstDirection = 1) {
  std::vector<LidarData> frames;
  int direction = firstDirection;
  for (size_t i = 0; i < order.size(); ++i) {
    if (i + 1 < order.size() && order[i + 1] != order[i])
      direction = order[i + 1] > order[i] ? 1 : -1;
    a.addPacket(packets[size_t(order[i])].data(), direction, frames);
  }
  return frames;
}

std::vector<int> walk(int from, int to) {
  std::vector<int> v;
  for (int i = from;; i += from <= to ? 1 : -1) {
    v.push_back(i);
    if (i == to) break;
  }
  return v;
}

// One decoding behind a common face, fed forward.
class AnyDecoder {
 public:
  AnyDecoder(Decoding d, int echo)
      : d_(d),
        offline_(d == Decoding::OfflineSingle ? OfflineAssembler::Layout::Single
                                              : OfflineAssembler::Layout::Dual) {
    dual_.setEchoCode(echo);
    offline_.setEchoCode(echo);
  }
  int feed(const PacketImage& p, std::vector<LidarData>& out) {
    switch (d_) {
      case Decoding::LiveSingle:
        return single_.addPacket(p.data(), out);
      case Decoding::LiveDual:
        return dual_.addPacket(p.data(), out);
      default:
        return offline_.addPacket(p.data(), 1, out);
    }
  }
  void reset() {
    single_.reset();
    dual_.reset();
    offline_.reset();
  }
  OfflineAssembler& offline() { return offline_; }
  void recycle(LidarData&& f) {
    single_.recycle(LidarData(f));
    dual_.recycle(LidarData(f));
    offline_.recycle(std::move(f));
  }
  uint64_t capped() const {
    return single_.cappedRevolutions() + dual_.cappedRevolutions() + offline_.cappedRevolutions();
  }

 private:
  Decoding d_;
  LiveSingleAssembler single_;
  LiveDualAssembler dual_;
  OfflineAssembler offline_;
};

std::vector<LidarData> decode(Decoding d, const std::vector<PacketImage>& packets, int echo,
                              bool backward = false) {
  AnyDecoder a(d, echo);
  std::vector<LidarData> frames;
  if (backward) return playOffline(a.offline(), packets, walk(int(packets.size()) - 1, 0), -1);
  for (const auto& p : packets) a.feed(p, frames);
  return frames;
}

bool isDual(Decoding d) { return d == Decoding::LiveDual || d == Decoding::OfflineDual; }

TimeRule timeRuleOf(Decoding d) {
  switch (d) {
    case Decoding::LiveSingle:
      return TimeRule::LiveSingle;
    case Decoding::OfflineSingle:
      return TimeRule::PairOwnBlock;
    default:
      return TimeRule::Pair;
  }
}

// ---------------------------------------------------------------------------------------------
// Packet fields.

TEST(PointPacket, FieldsAreReadLittleEndianAtTheirOffsets) {
  PacketImage img{};
  img[0] = 0xFF;
  img[1] = 0xEE;
  img[100 * 7 + 2] = 0x34;  // block 7 azimuth 0x1234 = 4660 = 46.60 degrees
  img[100 * 7 + 3] = 0x12;
  img[100 * 7 + 4 + 3 * 31] = 0xCD;  // block 7 record 31 distance 0xABCD
  img[100 * 7 + 5 + 3 * 31] = 0xAB;
  img[100 * 7 + 6 + 3 * 31] = 200;  // and intensity 200
  img[1200] = 0x78;                 // timestamp 0x12345678
  img[1201] = 0x56;
  img[1202] = 0x34;
  img[1203] = 0x12;
  EXPECT_TRUE(isPointPacket(img.data()));
  EXPECT_EQ(rawBlockAzimuth(img.data(), 7), 0x1234);
  EXPECT_EQ(recordDistance(img.data(), 7, 31), 0xABCD);
  EXPECT_EQ(recordIntensity(img.data(), 7, 31), 200);
  EXPECT_EQ(packetTimestamp(img.data()), 0x12345678u);
  EXPECT_EQ(recordDistance(img.data(), 7, 30), 0);

  // The builder writes the same bytes.
  PacketBuilder b;
  b.azimuth(7, 0x1234).record(7, 31, 0xABCD, 200).timestamp(0x12345678);
  for (size_t i : {size_t(702), size_t(703), size_t(797), size_t(798), size_t(799), size_t(1200),
                   size_t(1203)})
    EXPECT_EQ(b.image()[i], img[i]) << "byte " << i;
  EXPECT_EQ(b.image()[1], 0xEE);
}

struct FlagCase {
  uint8_t b0, b1;
  bool accepted;
};
class PacketFlag : public ::testing::TestWithParam<FlagCase> {};

TEST_P(PacketFlag, OnlyFfEeIsAPointPacket) {
  PacketBuilder b;
  b.flag(GetParam().b0, GetParam().b1);
  EXPECT_EQ(isPointPacket(b.data()), GetParam().accepted);
}
INSTANTIATE_TEST_SUITE_P(Flags, PacketFlag,
                         ::testing::Values(FlagCase{0xFF, 0xEE, true}, FlagCase{0xEE, 0xFF, false},
                                           FlagCase{0xFF, 0xEF, false}, FlagCase{0xFE, 0xEE, false},
                                           FlagCase{0x00, 0x00, false}));

struct AzimuthCase {
  uint16_t raw;
  float degrees;
};
class BlockAzimuth : public ::testing::TestWithParam<AzimuthCase> {};

TEST_P(BlockAzimuth, HundredthsToDegreesWithOutOfRangeAsZero) {
  EXPECT_EQ(blockAzimuthDegrees(GetParam().raw), GetParam().degrees);
}
INSTANTIATE_TEST_SUITE_P(Values, BlockAzimuth,
                         ::testing::Values(AzimuthCase{0, 0.0f}, AzimuthCase{1, 0.01f},
                                           AzimuthCase{1020, 10.2f}, AzimuthCase{35999, 359.99f},
                                           AzimuthCase{36000, 0.0f}, AzimuthCase{36001, 0.0f},
                                           AzimuthCase{65535, 0.0f}));

// ---------------------------------------------------------------------------------------------
// Azimuth interpolation and the close test.

struct InterpolationCase {
  const char* name;
  float prev, last;
  int ch;
  double first, second;  // expected azimuths of the channel's two points
  bool extrapolate;      // the last block at close instead of the previous block
};
class Interpolation : public ::testing::TestWithParam<InterpolationCase> {};

TEST_P(Interpolation, PlacesTheBlockPointsAcrossTheStep) {
  const auto& c = GetParam();
  PacketBuilder b;
  LidarData f;
  assembly::appendBlock(f, b.data(), 0, c.prev, 0, 0);
  assembly::appendBlock(f, b.data(), 1, c.last, 0, 0);
  assembly::interpolatePrevious(f);
  if (c.extrapolate) assembly::extrapolateLast(f);
  const size_t at = c.extrapolate ? 2 : 0;
  ASSERT_EQ(f.azimuth[c.ch].size(), at + 2);
  EXPECT_NEAR(f.azimuth[c.ch][at], c.first, 2e-4);
  EXPECT_NEAR(f.azimuth[c.ch][at + 1], c.second, 2e-4);
  // Until the close, the newest block's points wait for their azimuths.
  EXPECT_EQ(f.distance[c.ch].size(), 4u);
  EXPECT_EQ(f.pointCount(c.ch), at + 2);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, Interpolation,
    ::testing::Values(
        InterpolationCase{"StepCh0", 10.00f, 10.20f, 0, 10.00, 10.10, false},
        InterpolationCase{"StepCh15", 10.00f, 10.20f, 15, 10.09375, 10.19375, false},
        InterpolationCase{"WrapCh0", 359.80f, 0.10f, 0, 359.80, 359.95, false},
        InterpolationCase{"WrapCh6SecondWraps", 359.80f, 0.10f, 6, 359.85625, 0.00625, false},
        InterpolationCase{"WrapCh15", 359.80f, 0.10f, 15, 359.940625, 0.090625, false},
        InterpolationCase{"ExtrapolateCh15", 10.00f, 10.20f, 15, 10.29375, 10.39375, true},
        InterpolationCase{"ExtrapolateAfterWrap", 359.80f, 0.10f, 0, 0.10, 0.25, true},
        InterpolationCase{"StandingStill", 42.0f, 42.0f, 9, 42.0, 42.0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Interpolation, FirstBlockGetsNoAzimuthsUntilTheSecondArrives) {
  PacketBuilder b;
  LidarData f;
  assembly::appendBlock(f, b.data(), 0, 10.0f, 0, 0);
  assembly::interpolatePrevious(f);
  assembly::extrapolateLast(f);
  EXPECT_EQ(f.distance[3].size(), 2u);
  EXPECT_TRUE(f.azimuth[3].empty());
  EXPECT_EQ(f.pointCount(3), 0u);
}

struct WrapCase {
  std::vector<float> azimuths;
  bool closes;
};
class CloseTest : public ::testing::TestWithParam<WrapCase> {};

TEST_P(CloseTest, JumpOfMoreThan180OverTheLastTwoEntries) {
  EXPECT_EQ(assembly::wrapped(GetParam().azimuths), GetParam().closes);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, CloseTest,
    ::testing::Values(WrapCase{{}, false}, WrapCase{{100.0f}, false},
                      WrapCase{{359.8f, 0.1f}, true}, WrapCase{{0.1f, 359.8f}, true},
                      WrapCase{{180.0f, 0.0f}, false},  // exactly 180 is no wrap
                      WrapCase{{0.0f, 180.0f}, false}, WrapCase{{180.01f, 0.0f}, true},
                      WrapCase{{10.0f, 10.2f}, false}, WrapCase{{300.0f, 350.0f, 100.0f}, true},
                      WrapCase{{350.0f, 100.0f, 101.0f}, false}));

// ---------------------------------------------------------------------------------------------
// Carry-over building block.

TEST(CarryOver, MovesPointsBelow5DegreesAmongTheLast30AndZeroesThem) {
  LidarData f, held;
  auto fill = [&](int ch, std::vector<float> az) {
    for (size_t i = 0; i < az.size(); ++i) {
      f.distance[ch].push_back(float(100 + i));
      f.intensity[ch].push_back(int(i));
      f.azimuth[ch].push_back(az[i]);
      f.adjustedTime[ch].push_back(1000 + i);
    }
  };
  std::vector<float> ch0(40, 350.0f);  // the last three belong to the next revolution
  ch0[37] = 0.5f;
  ch0[38] = 4.99f;
  ch0[39] = 5.0f;  // 5 itself stays
  fill(0, ch0);
  fill(1, std::vector<float>(29, 1.0f));  // fewer than 30 points: nothing moves
  std::vector<float> ch2(30, 300.0f);     // exactly 30: the first one is examined
  ch2[0] = 2.0f;
  fill(2, ch2);
  std::vector<float> ch3(40, 300.0f);  // point 9 lies before the last 30
  ch3[9] = 1.0f;
  fill(3, ch3);

  assembly::carryOver(f, held);

  EXPECT_EQ(held.distance[0], (std::vector<float>{137.0f, 138.0f}));
  EXPECT_EQ(held.intensity[0], (std::vector<int>{37, 38}));
  EXPECT_EQ(held.azimuth[0], (std::vector<float>{0.5f, 4.99f}));
  EXPECT_EQ(held.adjustedTime[0], (std::vector<uint64_t>{1037, 1038}));
  for (size_t i : {size_t(37), size_t(38)}) {
    EXPECT_EQ(f.distance[0][i], 0.0f);
    EXPECT_EQ(f.intensity[0][i], 0);
    EXPECT_EQ(f.azimuth[0][i], 0.0f);
    EXPECT_EQ(f.adjustedTime[0][i], 0u);
  }
  EXPECT_EQ(f.distance[0][39], 139.0f);
  EXPECT_EQ(f.distance[0].size(), 40u);  // zeroed points stay in the frame

  EXPECT_TRUE(held.distance[1].empty());
  EXPECT_EQ(f.distance[1][28], 128.0f);
  EXPECT_EQ(held.distance[2], (std::vector<float>{100.0f}));
  EXPECT_EQ(f.distance[2][0], 0.0f);
  EXPECT_TRUE(held.distance[3].empty());
  EXPECT_EQ(f.distance[3][9], 109.0f);
  EXPECT_TRUE(aligned(held));
}

// ---------------------------------------------------------------------------------------------
// Firing times: literal values for the first frame of a two-packet stream. Packet A (timestamp
// T) turns from 200.00 degrees, packet B from 10.00, so the first frame holds all of packet A.

struct TimeCase {
  const char* name;
  Decoding decoding;
  int echo;
  uint32_t timestamp;
  int k, ch;
  bool secondSequence;
  uint64_t expected;
};
class FiringTime : public ::testing::TestWithParam<TimeCase> {};

TEST_P(FiringTime, OfBlockChannelAndSequence) {
  const auto& c = GetParam();
  const bool pairs = isDual(c.decoding);
  std::vector<uint16_t> az;
  for (int n = 0; n < 24; ++n) {
    const int step = pairs ? n / 2 : n;
    az.push_back(uint16_t((n < 12 ? 20000 : 1000) + 20 * step));
  }
  const auto packets = packetsFromAzimuths(
      az, [](size_t n, int) { return n + 1; }, c.timestamp, kPacketPeriod);
  const auto frames = decode(c.decoding, packets, c.echo);
  ASSERT_GE(frames.size(), 1u);
  const LidarData& f = frames[0];
  ASSERT_TRUE(aligned(f));
  const int j = c.ch + (c.secondSequence ? 16 : 0);
  int found = 0;
  for (size_t i = 0; i < f.distance[c.ch].size(); ++i) {
    if (f.distance[c.ch][i] == float(c.k + 1) && f.intensity[c.ch][i] == j) {
      EXPECT_EQ(f.adjustedTime[c.ch][i], c.expected);
      ++found;
    }
  }
  EXPECT_EQ(found, 1);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, FiringTime,
    ::testing::Values(
        // Live single-return: the last firing of block 11 is the timestamp.
        TimeCase{"LiveSingleLastFiring", Decoding::LiveSingle, 0, 100000, 11, 15, true, 100000},
        TimeCase{"LiveSingleFirstFiring", Decoding::LiveSingle, 0, 100000, 0, 0, false, 98803},
        TimeCase{"LiveSingleCh1", Decoding::LiveSingle, 0, 100000, 0, 1, false, 98806},
        TimeCase{"LiveSingleMid", Decoding::LiveSingle, 0, 100000, 5, 3, true, 99362},
        // Fault: a timestamp below 1196.875 us gave a negative firing time; it reads 0.
        TimeCase{"LiveSingleNegativeIsZero", Decoding::LiveSingle, 0, 1000, 0, 0, false, 0},
        TimeCase{"LiveSingleSmallTimestamp", Decoding::LiveSingle, 0, 1000, 6, 0, false, 403},
        // Dual-return: both blocks of a pair carry the pair's times.
        TimeCase{"LiveDualEvenFirst", Decoding::LiveDual, 1, 100000, 0, 0, false, 99403},
        TimeCase{"LiveDualOddFirst", Decoding::LiveDual, 2, 100000, 1, 0, false, 99403},
        TimeCase{"LiveDualEvenLast", Decoding::LiveDual, 1, 100000, 10, 15, true, 100000},
        TimeCase{"LiveDualOddLast", Decoding::LiveDual, 2, 100000, 11, 15, true, 100000},
        TimeCase{"LiveDualMergedOdd", Decoding::LiveDual, 0, 100000, 5, 2, true, 99659},
        TimeCase{"LiveDualMergedEven", Decoding::LiveDual, 0, 100000, 4, 2, true, 99659},
        TimeCase{"LiveDualNegativeIsZero", Decoding::LiveDual, 2, 500, 1, 0, false, 0},
        TimeCase{"OfflineDualOddLast", Decoding::OfflineDual, 2, 100000, 11, 15, true, 100000},
        TimeCase{"OfflineDualMergedFirst", Decoding::OfflineDual, 0, 100000, 1, 0, false, 99403},
        // Offline single-return: the pair formula with the block's own index.
        TimeCase{"OfflineSingleFirst", Decoding::OfflineSingle, 0, 100000, 0, 0, false, 99403},
        TimeCase{"OfflineSingleBlock3", Decoding::OfflineSingle, 0, 100000, 3, 0, false, 99553},
        TimeCase{"OfflineSingleLast", Decoding::OfflineSingle, 0, 100000, 11, 15, true, 100050},
        TimeCase{"OfflineSingleNegativeIsZero", Decoding::OfflineSingle, 0, 300, 0, 0, false, 0},
        TimeCase{"OfflineSingleSmallTimestamp", Decoding::OfflineSingle, 0, 300, 11, 15, true,
                 350}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Whole streams: every frame, every point.

// 0.36 degree per block, 1000 blocks per revolution; wraps at blocks 1000 and 2000.
StreamModel singleStream(TimeRule rule) { return {steadyAzimuths(0, 36, 2004), 0.36, rule}; }
// 0.72 degree per pair, 500 pairs per revolution; the pairs at blocks 1000/1001 and 2000/2001
// wrap.
StreamModel pairStream() { return {steadyPairAzimuths(0, 72, 1002), 0.72, TimeRule::Pair}; }
// 0.60 degree per pair, exactly 100 packets per revolution: the wraps fall between packets 99
// and 100 and between 199 and 200.
StreamModel packetAlignedPairStream() {
  return {steadyPairAzimuths(0, 60, 201 * 6), 0.60, TimeRule::Pair};
}

struct StreamCase {
  std::string name;
  Decoding decoding;
  int echo;
  bool backward;
  StreamModel model;
  std::vector<std::vector<int>> frames;  // expected layout of every emitted frame
  std::optional<std::vector<std::vector<int>>> blockAzimuths;
};

std::vector<StreamCase> streamCases() {
  const auto live = singleStream(TimeRule::LiveSingle);
  const auto offline = singleStream(TimeRule::PairOwnBlock);
  const auto pairs = pairStream();
  const auto boundary = packetAlignedPairStream();
  const std::vector<std::vector<int>> noBlockAzimuths{{}, {}};
  return {
      // Live single-return: the wrapping block closes the frame; its points lie below 5
      // degrees, so they are zeroed in the frame and open the next one.
      {"LiveSingle",
       Decoding::LiveSingle,
       0,
       false,
       live,
       {cat({blocks(0, 999), zeroed()}), cat({{1000}, blocks(1001, 1999), zeroed()})},
       std::vector<std::vector<int>>{blocks(0, 1000), blocks(1001, 2000)}},
      // Echo code 0 tests secondFrame: the frame closes on the odd block of the wrapping pair
      // and holds the even-block points, then the odd-block points.
      {"LiveDualMerged",
       Decoding::LiveDual,
       0,
       false,
       pairs,
       {cat({blocks(0, 998, 2), zeroed(), blocks(1, 999, 2), zeroed()}),
        cat({{1000}, blocks(1002, 1998, 2), zeroed(), {1001}, blocks(1003, 1999, 2), zeroed()})},
       noBlockAzimuths},
      {"LiveDualStrong",
       Decoding::LiveDual,
       1,
       false,
       pairs,
       {cat({blocks(0, 998, 2), zeroed()}), cat({{1000}, blocks(1002, 1998, 2), zeroed()})},
       std::vector<std::vector<int>>{blocks(0, 1000, 2), blocks(1002, 2000, 2)}},
      {"LiveDualSecond",
       Decoding::LiveDual,
       2,
       false,
       pairs,
       {cat({blocks(1, 999, 2), zeroed()}), cat({{1001}, blocks(1003, 1999, 2), zeroed()})},
       std::vector<std::vector<int>>{blocks(1, 1001, 2), blocks(1003, 2001, 2)}},
      // Playback carries nothing over.
      {"OfflineSingleForward",
       Decoding::OfflineSingle,
       0,
       false,
       offline,
       {blocks(0, 1000), blocks(1001, 2000)},
       std::vector<std::vector<int>>{blocks(0, 1000), blocks(1001, 2000)}},
      // Playback echo code 0 tests strongFrame: the odd block of the wrapping pair starts the
      // next frame.
      {"OfflineDualMergedForward",
       Decoding::OfflineDual,
       0,
       false,
       pairs,
       {cat({blocks(0, 1000, 2), blocks(1, 999, 2)}),
        cat({blocks(1002, 2000, 2), blocks(1001, 1999, 2)})},
       noBlockAzimuths},
      {"OfflineDualStrongForward",
       Decoding::OfflineDual,
       1,
       false,
       pairs,
       {blocks(0, 1000, 2), blocks(1002, 2000, 2)},
       std::vector<std::vector<int>>{blocks(0, 1000, 2), blocks(1002, 2000, 2)}},
      {"OfflineDualSecondForward",
       Decoding::OfflineDual,
       2,
       false,
       pairs,
       {blocks(1, 1001, 2), blocks(1003, 2001, 2)},
       std::vector<std::vector<int>>{blocks(1, 1001, 2), blocks(1003, 2001, 2)}},
      // Backward single-return play, packets 166 down to 0: each packet is interpolated within
      // itself. A wrap inside a packet closes there; the jump from that packet's low azimuths to
      // the previous packet's high ones closes again at block 0, whose points never got
      // azimuths and are dropped (fault: they used to leave the azimuth lists two entries
      // short).
      {"OfflineSingleBackwardClosesAtBlock0",
       Decoding::OfflineSingle,
       0,
       true,
       offline,
       {blocks(1992, 2000), blocks(2001, 2003), cat({blocks(1981, 1991), packetsDown(164, 84)}),
        blocks(997, 1000), blocks(1001, 1007)},
       std::nullopt},
      // Backward dual-return play of a stream whose wraps fall between packets (fault: each
      // accumulator's block list is emptied after every packet, so these boundaries were
      // missed and revolutions merged). The block 0 or 1 that closes is dropped.
      {"OfflineDualBackwardPacketBoundaryStrong",
       Decoding::OfflineDual,
       1,
       true,
       boundary,
       {packetsDown(200, 200, 2, 0), cat({blocks(2390, 2398, 2), packetsDown(198, 100, 2, 0)})},
       std::nullopt},
      {"OfflineDualBackwardPacketBoundarySecond",
       Decoding::OfflineDual,
       2,
       true,
       boundary,
       {packetsDown(200, 200, 2, 1), cat({blocks(2391, 2399, 2), packetsDown(198, 100, 2, 1)})},
       std::nullopt},
      {"OfflineDualBackwardPacketBoundaryMerged",
       Decoding::OfflineDual,
       0,
       true,
       boundary,
       {cat({packetsDown(200, 200, 2, 0), packetsDown(200, 200, 2, 1)}),
        cat({blocks(2390, 2398, 2), packetsDown(198, 100, 2, 0), blocks(2389, 2399, 2),
             packetsDown(198, 100, 2, 1)})},
       noBlockAzimuths},
  };
}

class Streams : public ::testing::TestWithParam<StreamCase> {};

TEST_P(Streams, EmitTheExpectedFrames) {
  const auto& c = GetParam();
  StreamModel model = c.model;
  model.rule = timeRuleOf(c.decoding);
  const auto frames = decode(c.decoding, tracedPackets(model.azimuths), c.echo, c.backward);
  ASSERT_EQ(frames.size(), c.frames.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_TRUE(frameHolds(frames[i], c.frames[i], model)) << "frame " << i;
    if (c.blockAzimuths) {
      EXPECT_TRUE(blockAzimuthsAre(frames[i], (*c.blockAzimuths)[i], model)) << "frame " << i;
    }
  }
}
INSTANTIATE_TEST_SUITE_P(Cases, Streams, ::testing::ValuesIn(streamCases()),
                         [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------------
// Live single-return details.

// blocksInFrame blocks at 0.5 degree steps end on the wrapping block 0.00; the stream then runs
// on to a second wrap so that the next frame is seen too.
struct CarryCase {
  int blocksInFrame;
  bool carries;
};
class LiveSingleCarry : public ::testing::TestWithParam<CarryCase> {};

TEST_P(LiveSingleCarry, OnlyChannelsWithAtLeast30PointsCarry) {
  const int b = GetParam().blocksInFrame;
  StreamModel m{steadyAzimuths(36000 - 50 * uint32_t(b - 1), 50, size_t(b + 720 + 12)), 0.5,
                TimeRule::LiveSingle};
  const auto frames = decode(Decoding::LiveSingle, tracedPackets(m.azimuths), 0);
  ASSERT_GE(frames.size(), 2u);
  const int wrap = b - 1;
  if (GetParam().carries) {
    EXPECT_TRUE(frameHolds(frames[0], cat({blocks(0, wrap - 1), zeroed()}), m));
    EXPECT_TRUE(frameHolds(frames[1], cat({{wrap}, blocks(wrap + 1, wrap + 719), zeroed()}), m));
  } else {
    EXPECT_TRUE(frameHolds(frames[0], blocks(0, wrap), m));
    EXPECT_TRUE(frameHolds(frames[1], cat({blocks(wrap + 1, wrap + 719), zeroed()}), m));
  }
}
INSTANTIATE_TEST_SUITE_P(Sizes, LiveSingleCarry,
                         ::testing::Values(CarryCase{7, false}, CarryCase{14, false},
                                           CarryCase{15, true}, CarryCase{16, true}));

TEST(LiveSingle, CarriesInterpolatedPointsThatWrappedPast360) {
  // Blocks at 355.70 + 0.30 n: block 14 sits at 359.90 and block 15 wraps to 0.20. Block 14's
  // second-sequence points (359.90 + 0.30 (ch + 16) / 32) and its first-sequence points of
  // channels 11 to 15 lie past 360, so they wrap below 5 degrees and move with block 15's.
  const auto az = steadyAzimuths(35570, 30, 15 + 1200 + 12);
  const auto frames = decode(Decoding::LiveSingle, tracedPackets(az), 0);
  ASSERT_GE(frames.size(), 2u);
  for (int ch = 0; ch < kChannelCount; ++ch) {
    SCOPED_TRACE(ch);
    ASSERT_TRUE(aligned(frames[0]));
    const auto& d0 = frames[0].distance[ch];
    ASSERT_EQ(d0.size(), 32u);
    const bool firstWraps = ch >= 11;
    EXPECT_EQ(d0[28] == 0.0f, firstWraps);  // block 14, first sequence
    EXPECT_EQ(d0[29], 0.0f);                // block 14, second sequence
    EXPECT_EQ(d0[30], 0.0f);
    EXPECT_EQ(d0[31], 0.0f);
    EXPECT_EQ(d0[27], 14.0f);  // block 13 stays

    const auto& d1 = frames[1].distance[ch];
    const auto& a1 = frames[1].azimuth[ch];
    const auto& i1 = frames[1].intensity[ch];
    std::vector<float> carried{15.0f, 16.0f, 16.0f};
    std::vector<int> records{ch + 16, ch, ch + 16};
    std::vector<double> azimuths{359.90 + 0.30 * (ch + 16) / 32 - 360, 0.20 + 0.30 * ch / 32,
                                 0.20 + 0.30 * (ch + 16) / 32};
    if (firstWraps) {
      carried.insert(carried.begin(), 15.0f);
      records.insert(records.begin(), ch);
      azimuths.insert(azimuths.begin(), 359.90 + 0.30 * ch / 32 - 360);
    }
    ASSERT_GE(d1.size(), carried.size());
    for (size_t i = 0; i < carried.size(); ++i) {
      EXPECT_EQ(d1[i], carried[i]) << i;
      EXPECT_EQ(i1[i], records[i]) << i;
      EXPECT_NEAR(a1[i], azimuths[i], 2e-3) << i;
    }
    EXPECT_EQ(d1[carried.size()], 17.0f);  // then block 16, the first after the wrap
  }
}

TEST(LiveSingle, DualReturnPairsAreTwelveBlocksWithAStandingFirstBlock) {
  // A dual-return device repeats the firing's azimuth in both blocks of a pair: the first block
  // of a pair has a step of 0, so all 32 of its points get the pair's azimuth.
  const auto m = pairStream();
  const auto frames = decode(Decoding::LiveSingle, tracedPackets(m.azimuths), 0);
  ASSERT_GE(frames.size(), 1u);
  const LidarData& f = frames[0];
  ASSERT_TRUE(aligned(f));
  for (int ch = 0; ch < kChannelCount; ++ch) {
    // Block 6 (pair 3 at 2.16 degrees): points 12 and 13 of the channel.
    EXPECT_FLOAT_EQ(f.azimuth[ch][12], 2.16f);
    EXPECT_FLOAT_EQ(f.azimuth[ch][13], 2.16f);
    // Block 7 turns on to pair 4 at 2.88.
    EXPECT_NEAR(f.azimuth[ch][15], 2.16 + 0.72 * (ch + 16) / 32, 1e-4);
  }
}

// ---------------------------------------------------------------------------------------------
// Live dual-return details.

// Fault: the pair's times were appended to both accumulators while the even block was handled.
// Echo code 1 closes on an even block and resets secondFrame after its times were added, so the
// odd block that followed had no times; after a switch to code 2 or 0 the emitted frames had
// time lists shorter than their distance lists.
TEST(LiveDual, EchoCodeSwitchAfterAnEvenBlockCloseKeepsTimesAligned) {
  StreamModel m{steadyPairAzimuths(0, 72, 2004), 0.72, TimeRule::Pair};  // 4 wraps
  const auto packets = tracedPackets(m.azimuths);
  LiveDualAssembler a;
  a.setEchoCode(kStrongEcho);
  std::vector<LidarData> frames;
  std::vector<int> codes;
  for (const auto& p : packets) {
    const size_t before = frames.size();
    a.addPacket(p.data(), frames);
    for (size_t i = before; i < frames.size(); ++i) codes.push_back(a.echoCode());
    if (frames.size() == 1) a.setEchoCode(kSecondEcho);  // right after the even-block close
    if (frames.size() == 2) a.setEchoCode(kDualEcho);
  }
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(codes, (std::vector<int>{1, 2, 0, 0}));
  // Code 1 closed on block 1000 (packet 83, block 4). The odd blocks from 1001 on fed a fresh
  // secondFrame, which code 2 emits at the next wrap (block 2001), odd block 2001 carried.
  EXPECT_TRUE(frameHolds(frames[0], cat({blocks(0, 998, 2), zeroed()}), m));
  EXPECT_TRUE(frameHolds(frames[1], cat({blocks(1001, 1999, 2), zeroed()}), m));
  // Code 0 then closes on odd block 3001. strongFrame was reset at block 2001 with its even
  // block 2000 dropped; secondFrame reopens with the carried block 2001.
  EXPECT_TRUE(frameHolds(
      frames[2], cat({blocks(2002, 2998, 2), zeroed(), {2001}, blocks(2003, 2999, 2), zeroed()}),
      m));
  EXPECT_TRUE(frameHolds(
      frames[3],
      cat({{3000}, blocks(3002, 3998, 2), zeroed(), {3001}, blocks(3003, 3999, 2), zeroed()}), m));
}

// ---------------------------------------------------------------------------------------------
// Offline details.

TEST(Offline, SingleReturnPartialFrameHoldsTheBlockJustPlayed) {
  // Backward play reaches packet 0: the engine emits the accumulator after its block 0.
  StreamModel m = singleStream(TimeRule::PairOwnBlock);
  const auto packets = tracedPackets(m.azimuths);
  OfflineAssembler a(OfflineAssembler::Layout::Single);
  const auto frames = playOffline(a, packets, walk(10, 1), -1);
  EXPECT_TRUE(frames.empty());
  ASSERT_TRUE(a.beginPacket(packets[0].data()));
  EXPECT_FALSE(a.addBlock(0, -1));
  const LidarData& partial = a.partialFrame();
  for (int ch = 0; ch < kChannelCount; ++ch) {
    // Packets 10 to 1, then the two points of block 0, which have no azimuths yet.
    ASSERT_EQ(partial.distance[ch].size(), 10u * 24 + 2);
    EXPECT_EQ(partial.distance[ch][240], 1.0f);
    EXPECT_EQ(partial.distance[ch][241], 1.0f);
    EXPECT_EQ(partial.pointCount(ch), 240u);
  }
  LidarData complete = partial;
  complete.trimToAzimuths();
  EXPECT_TRUE(frameHolds(complete, packetsDown(10, 1), m));
}

TEST(Offline, DualReturnPartialFrameIsEmpty) {
  const auto packets = tracedPackets(pairStream().azimuths);
  for (int echo : {0, 1, 2}) {
    OfflineAssembler a(OfflineAssembler::Layout::Dual);
    a.setEchoCode(echo);
    const auto frames = playOffline(a, packets, walk(166, 0), -1);
    EXPECT_FALSE(frames.empty());
    EXPECT_TRUE(a.partialFrame().empty()) << echo;
  }
}

// Fault: the close histories of backward play survived a spell of forward play, so the first
// block after turning backward again was compared with an azimuth from long before.
class OfflineDirection : public ::testing::TestWithParam<OfflineAssembler::Layout> {};

TEST_P(OfflineDirection, ChangeClearsTheCloseHistory) {
  // 2 degrees per block (or pair), no wrap in packets 0..14: packet p starts at 24 p degrees.
  const bool dual = GetParam() == OfflineAssembler::Layout::Dual;
  const auto az = dual ? steadyPairAzimuths(0, 400, 90) : steadyAzimuths(0, 200, 180);
  const auto packets = tracedPackets(az);
  for (int echo : {0, 1, 2}) {
    OfflineAssembler a(GetParam());
    a.setEchoCode(echo);
    // Back over packets 3 and 2 (last history entry: 70 degrees), forward to packet 12, then
    // back to packet 11, which starts at 264 degrees.
    std::vector<int> order = walk(3, 2);
    for (int p : walk(3, 12)) order.push_back(p);
    order.push_back(11);
    const auto frames = playOffline(a, packets, order, -1);
    EXPECT_TRUE(frames.empty()) << "echo " << echo << ": " << frames.size() << " frames";
  }
}
INSTANTIATE_TEST_SUITE_P(Layouts, OfflineDirection,
                         ::testing::Values(OfflineAssembler::Layout::Single,
                                           OfflineAssembler::Layout::Dual));

TEST(Offline, OutOfRangeAzimuthReadsZeroButStaysOutOfTheBackwardCloseHistory) {
  // 200.00 degrees on, 0.20 per block; block 17 reads 655.35 and block 30 360.00.
  auto az = steadyAzimuths(20000, 20, 48);
  az[17] = 65535;
  az[30] = 36000;
  const auto packets = tracedPackets(az);
  for (Decoding d : {Decoding::LiveSingle, Decoding::OfflineSingle}) {
    // Forward, the 0.0 of each such block is a jump of more than 180 degrees.
    const auto frames = decode(d, packets, 0);
    ASSERT_EQ(frames.size(), 2u) << decodingName(d);
    EXPECT_EQ(frames[0].blockAzimuth.size(), 18u);
    EXPECT_EQ(frames[0].blockAzimuth.back(), 0.0f);
    EXPECT_EQ(frames[1].blockAzimuth.size(), 13u);
    EXPECT_TRUE(aligned(frames[0]));
    EXPECT_TRUE(aligned(frames[1]));
  }
  EXPECT_TRUE(decode(Decoding::OfflineSingle, packets, 0, true).empty());

  auto pairAz = steadyPairAzimuths(20000, 20, 24);
  pairAz[17] = 65535;  // an odd block: secondFrame
  pairAz[30] = 36000;  // an even block: strongFrame
  const auto pairPackets = tracedPackets(pairAz);
  for (int echo : {0, 1, 2}) {
    EXPECT_EQ(decode(Decoding::OfflineDual, pairPackets, echo).size(), 1u) << echo;
    EXPECT_TRUE(decode(Decoding::OfflineDual, pairPackets, echo, true).empty()) << echo;
  }
}

TEST(Offline, BlockByBlockMatchesWholePackets) {
  // The engine drives the assembler one block at a time, taking each frame as it closes.
  const auto packets = tracedPackets(singleStream(TimeRule::PairOwnBlock).azimuths);
  OfflineAssembler whole(OfflineAssembler::Layout::Single);
  const auto expected = playOffline(whole, packets, walk(0, int(packets.size()) - 1));
  OfflineAssembler a(OfflineAssembler::Layout::Single);
  std::vector<LidarData> frames;
  for (const auto& p : packets) {
    ASSERT_TRUE(a.beginPacket(p.data()));
    for (int k = 0; k < kBlocksPerPacket; ++k)
      if (a.addBlock(k, 1)) frames.push_back(a.takeFrame());
  }
  ASSERT_EQ(frames.size(), expected.size());
  for (size_t i = 0; i < frames.size(); ++i) EXPECT_TRUE(sameFrame(frames[i], expected[i]));
  EXPECT_FALSE(a.addBlock(12, 1));
  EXPECT_FALSE(a.addBlock(-1, 1));
}

// ---------------------------------------------------------------------------------------------
// Behaviour shared by every decoding.

class EveryDecoding : public ::testing::TestWithParam<Decoding> {};

TEST_P(EveryDecoding, ResetDiscardsTheFrameUnderConstructionAndTheCarriedPoints) {
  const Decoding d = GetParam();
  const auto packets =
      tracedPackets(isDual(d) ? pairStream().azimuths : singleStream(TimeRule::Pair).azimuths);
  for (int echo : {0, 1, 2}) {
    const auto fresh = decode(d, packets, echo);
    AnyDecoder a(d, echo);
    std::vector<LidarData> before;
    for (size_t i = 0; i < 90; ++i) a.feed(packets[i], before);  // one close, then more
    ASSERT_EQ(before.size(), 1u);
    a.reset();
    std::vector<LidarData> after;
    for (const auto& p : packets) a.feed(p, after);
    ASSERT_EQ(after.size(), fresh.size());
    for (size_t i = 0; i < after.size(); ++i)
      EXPECT_TRUE(sameFrame(after[i], fresh[i])) << "echo " << echo << " frame " << i;
  }
}

// Packets that fail the FF EE test change nothing.
TEST_P(EveryDecoding, IgnoresJunkPacketsWithoutDisturbingTheAccumulators) {
  const Decoding d = GetParam();
  const auto clean =
      tracedPackets(isDual(d) ? pairStream().azimuths : singleStream(TimeRule::Pair).azimuths);
  PacketBuilder junkBuilder;
  junkBuilder.flag(0xEE, 0xFF).timestamp(5);
  for (int k = 0; k < kBlocksPerPacket; ++k) junkBuilder.azimuth(k, k % 2 ? 18000 : 100);
  const PacketImage junk = junkBuilder.image();
  std::vector<PacketImage> dirty;
  for (size_t i = 0; i < clean.size(); ++i) {
    dirty.push_back(clean[i]);
    if (i % 7 == 3) dirty.push_back(junk);
  }
  for (int echo : {0, 1, 2}) {
    const auto want = decode(d, clean, echo);
    const auto got = decode(d, dirty, echo);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_TRUE(sameFrame(got[i], want[i])) << i;
  }
  AnyDecoder a(d, 0);
  std::vector<LidarData> out;
  EXPECT_EQ(a.feed(junk, out), 0);
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(a.offline().beginPacket(junk.data()));
  EXPECT_FALSE(a.offline().addBlock(0, 1));
}
// #9: a stream whose azimuth never wraps (a motor standing still, a crafted capture) must not grow
// one revolution without end. It is dropped at the cap and counted, and decoding goes on.
TEST_P(EveryDecoding, RevolutionThatNeverClosesIsDroppedAtTheCap) {
  const Decoding d = GetParam();
  PacketBuilder standing;
  for (int k = 0; k < kBlocksPerPacket; ++k) standing.azimuth(k, 10000);
  const size_t packetsPerCap = kMaxRevolutionBlocks / kBlocksPerPacket + 1;
  AnyDecoder a(d, kDualEcho);
  std::vector<LidarData> out;
  for (size_t i = 0; i < 2 * packetsPerCap; ++i) a.feed(standing.image(), out);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(a.capped(), 2u);

  const auto packets =
      tracedPackets(isDual(d) ? pairStream().azimuths : singleStream(TimeRule::Pair).azimuths);
  for (const auto& p : packets) a.feed(p, out);
  const auto fresh = decode(d, packets, kDualEcho);
  ASSERT_EQ(out.size(), fresh.size());
  EXPECT_LT(out[0].totalPoints(), kMaxRevolutionPoints);  // the standing blocks left after a drop
  for (size_t i = 1; i < out.size(); ++i) EXPECT_TRUE(sameFrame(out[i], fresh[i])) << i;
  EXPECT_EQ(a.capped(), 2u);
}
INSTANTIATE_TEST_SUITE_P(All, EveryDecoding,
                         ::testing::Values(Decoding::LiveSingle, Decoding::LiveDual,
                                           Decoding::OfflineSingle, Decoding::OfflineDual),
                         [](const auto& info) { return std::string(decodingName(info.param)); });

// ---------------------------------------------------------------------------------------------
// Property: random streams, random echo switches and directions; every emitted frame keeps its
// lists aligned and its azimuths in [0, 360).

std::vector<PacketImage> randomStream(std::mt19937& rng, size_t count) {
  std::vector<PacketImage> packets;
  uint32_t az = rng() % 36000;
  uint32_t step = 1 + rng() % 80;
  for (size_t p = 0; p < count; ++p) {
    PacketBuilder b;
    if (rng() % 25 == 0) b.flag(uint8_t(rng()), 0xEE);
    b.timestamp(rng() % 8 == 0 ? rng() % 1500 : uint32_t(rng()));
    const bool pairs = rng() % 2 == 0;
    for (int k = 0; k < kBlocksPerPacket; ++k) {
      const uint32_t r = rng() % 100;
      if (r < 3) step = rng() % 600;            // another speed, or standing still
      if (r < 6 && r >= 3) az = rng() % 36000;  // a jump anywhere
      uint32_t raw = az;
      if (r >= 6 && r < 9) raw = 36000 + rng() % 29536;  // out of range: reads 0
      b.azimuth(k, uint16_t(raw));
      if (!pairs || k % 2 == 1) az = (az + step) % 36000;
      for (int j = 0; j < kRecordsPerBlock; ++j) b.record(k, j, uint16_t(rng()), uint8_t(rng()));
    }
    packets.push_back(b.image());
  }
  return packets;
}

class RandomStreams : public ::testing::TestWithParam<uint32_t> {};

// Frames handed back are built into again; none of their old points may show in a later frame.
TEST_P(RandomStreams, HandedBackFramesChangeNoFrame) {
  std::mt19937 rng(GetParam());
  const auto packets = randomStream(rng, 600);
  for (Decoding d :
       {Decoding::LiveSingle, Decoding::LiveDual, Decoding::OfflineSingle, Decoding::OfflineDual}) {
    const int echo = int(rng() % 3);
    const auto want = decode(d, packets, echo);
    AnyDecoder a(d, echo);
    std::vector<LidarData> got, out;
    for (const auto& p : packets) {
      out.clear();
      a.feed(p, out);
      for (LidarData& f : out) {
        got.push_back(f);
        a.recycle(std::move(f));
      }
    }
    ASSERT_EQ(got.size(), want.size()) << decodingName(d);
    for (size_t i = 0; i < got.size(); ++i)
      ASSERT_TRUE(sameFrame(got[i], want[i])) << decodingName(d) << " frame " << i;
  }
}

// Forward, addPacket decodes a packet that closes nothing in one pass; that must give the frames
// of block-by-block decoding (the playback engine's way).
TEST_P(RandomStreams, WholePacketsMatchBlockByBlock) {
  std::mt19937 rng(GetParam());
  const auto packets = randomStream(rng, 600);
  for (auto layout : {OfflineAssembler::Layout::Single, OfflineAssembler::Layout::Dual}) {
    const int echo = int(rng() % 3);
    OfflineAssembler whole(layout), blocks(layout);
    whole.setEchoCode(echo);
    blocks.setEchoCode(echo);
    std::vector<LidarData> want, got;
    for (const auto& p : packets) {
      whole.addPacket(p.data(), 1, got);
      if (!blocks.beginPacket(p.data())) continue;
      for (int k = 0; k < kBlocksPerPacket; ++k)
        if (blocks.addBlock(k, 1)) want.push_back(blocks.takeFrame());
    }
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) ASSERT_TRUE(sameFrame(got[i], want[i])) << i;
  }
}

TEST_P(RandomStreams, EveryEmittedFrameIsAligned) {
  std::mt19937 rng(GetParam());
  const auto packets = randomStream(rng, 600);
  size_t frameCount[4] = {0, 0, 0, 0};
  auto check = [&](const std::vector<LidarData>& frames, size_t from, int echo, bool dual,
                   const char* what) {
    for (size_t i = from; i < frames.size(); ++i) {
      ASSERT_TRUE(aligned(frames[i])) << what << " frame " << i;
      if (dual && echo == kDualEcho) {
        ASSERT_TRUE(frames[i].blockAzimuth.empty()) << what;
      }
    }
  };

  LiveSingleAssembler ls;
  LiveDualAssembler ld;
  std::vector<LidarData> f0, f1;
  for (const auto& p : packets) {
    ls.addPacket(p.data(), f0);
    if (rng() % 10 == 0) ld.setEchoCode(int(rng() % 3));
    const size_t before = f1.size();
    ld.addPacket(p.data(), f1);
    check(f1, before, ld.echoCode(), true, "live dual");
  }
  check(f0, 0, 0, false, "live single");
  frameCount[0] = f0.size();
  frameCount[1] = f1.size();

  for (auto layout : {OfflineAssembler::Layout::Single, OfflineAssembler::Layout::Dual}) {
    OfflineAssembler a(layout);
    std::vector<LidarData> frames;
    int i = int(rng() % packets.size());
    int direction = rng() % 2 ? 1 : -1;
    for (int n = 0; n < 2000; ++n) {
      if (rng() % 40 == 0) direction = -direction;
      if (rng() % 10 == 0) a.setEchoCode(int(rng() % 3));
      const size_t before = frames.size();
      a.addPacket(packets[size_t(i)].data(), direction, frames);
      check(frames, before, a.echoCode(), layout == OfflineAssembler::Layout::Dual, "offline");
      if ((i == 0 && direction < 0) || (i + 1 == int(packets.size()) && direction > 0))
        direction = -direction;
      i += direction;
    }
    frameCount[layout == OfflineAssembler::Layout::Single ? 2 : 3] = frames.size();
  }
  for (size_t n : frameCount) EXPECT_GT(n, 0u);
}
INSTANTIATE_TEST_SUITE_P(Seeds, RandomStreams, ::testing::Range(uint32_t(1), uint32_t(21)));

}  // namespace
}  // namespace tovik
