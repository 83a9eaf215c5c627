// The revolution index against the assembler it serves: every indexed revolution, decoded by
// seeking, equals the frame of the same number from decoding the packets in order.
#include "acquisition/revolution_index.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "packet_builder.h"

namespace {

using tovik::OfflineAssembler;
using tovik::RevolutionIndex;
using Layout = OfflineAssembler::Layout;
using tovik::test::PacketImage;

struct IndexCase {
  std::string name;
  Layout layout;
  int echo;
  std::vector<uint16_t> azimuths;  // one per block
  int junkAfter = -1;              // a packet failing FF EE goes after this packet
};

void PrintTo(const IndexCase& c, std::ostream* os) { *os << c.name; }

std::vector<uint16_t> concat(std::vector<uint16_t> a, const std::vector<uint16_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<IndexCase> indexCases() {
  using tovik::test::steadyAzimuths;
  using tovik::test::steadyPairAzimuths;
  std::vector<IndexCase> cases;
  // 1 degree per block from 7 degrees: wraps fall in the middle of packets, at changing blocks.
  cases.push_back({"SingleMidPacket", Layout::Single, 0, steadyAzimuths(700, 100, 1500)});
  // 360 blocks per turn from 0: every wrap is at block 0, so every revolution starts at block 1.
  cases.push_back({"SingleAtBlock0", Layout::Single, 0, steadyAzimuths(0, 100, 1450), 40});
  // Starting one block early: every wrap is at block 11 and the next revolution opens a packet.
  cases.push_back({"SingleAtBlock11", Layout::Single, 0, steadyAzimuths(35900, 100, 1450)});
  // An out-of-range azimuth (read as 0) in the middle of a turn closes a short revolution.
  {
    auto a = steadyAzimuths(500, 100, 1300);
    a[410] = 36500;
    cases.push_back({"SingleOutOfRange", Layout::Single, 0, a});
  }
  for (int echo : {0, 1, 2}) {
    const std::string e = std::to_string(echo);
    cases.push_back(
        {"DualMidPacketEcho" + e, Layout::Dual, echo, steadyPairAzimuths(1300, 150, 900), 17});
    // Only the odd blocks wrap first: the close falls on a different block per echo code.
    auto odd = concat(steadyPairAzimuths(35000, 100, 3), steadyPairAzimuths(200, 100, 1200));
    odd[5] = 50;
    cases.push_back({"DualOddWrapEcho" + e, Layout::Dual, echo, odd});
  }
  return cases;
}

std::vector<PacketImage> packetsOf(const IndexCase& c) {
  auto images = tovik::test::packetsFromAzimuths(
      c.azimuths, [](size_t n, int j) { return 100 + (n * 7 + size_t(j)) % 3000; }, 5000, 1000);
  if (c.junkAfter >= 0) {
    PacketImage junk = images[size_t(c.junkAfter)];
    junk[1] = 0xEF;
    images.insert(images.begin() + c.junkAfter + 1, junk);
  }
  return images;
}

void expectSameFrame(const LidarData& a, const LidarData& b, size_t i) {
  EXPECT_EQ(a.blockAzimuth, b.blockAzimuth) << "revolution " << i;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    EXPECT_EQ(a.distance[ch], b.distance[ch]) << "revolution " << i << " channel " << ch;
    EXPECT_EQ(a.intensity[ch], b.intensity[ch]) << "revolution " << i << " channel " << ch;
    EXPECT_EQ(a.azimuth[ch], b.azimuth[ch]) << "revolution " << i << " channel " << ch;
    EXPECT_EQ(a.adjustedTime[ch], b.adjustedTime[ch]) << "revolution " << i << " channel " << ch;
  }
}

class RevolutionIndexSeek : public ::testing::TestWithParam<IndexCase> {};

TEST_P(RevolutionIndexSeek, EveryRevolutionDecodedBySeekingEqualsDecodingInOrder) {
  const IndexCase& c = GetParam();
  const std::vector<PacketImage> images = packetsOf(c);
  std::vector<const uint8_t*> packets;
  for (const auto& p : images) packets.push_back(p.data());

  OfflineAssembler sequential(c.layout);
  sequential.setEchoCode(c.echo);
  std::vector<LidarData> frames;
  for (const uint8_t* p : packets) sequential.addPacket(p, +1, frames);
  ASSERT_GE(frames.size(), 3u);

  const RevolutionIndex index = RevolutionIndex::build(packets, c.layout, c.echo);
  ASSERT_EQ(index.size(), frames.size());

  OfflineAssembler seeking(c.layout);
  seeking.setEchoCode(c.echo);
  // Backwards, so that no revolution benefits from the state the previous one left.
  for (size_t i = frames.size(); i-- > 0;) {
    LidarData frame;
    ASSERT_TRUE(tovik::decodeRevolution(seeking, packets, index, i, &frame)) << i;
    expectSameFrame(frame, frames[i], i);
  }
  LidarData untouched;
  EXPECT_FALSE(tovik::decodeRevolution(seeking, packets, index, index.size(), &untouched));
  EXPECT_TRUE(untouched.empty());
}

INSTANTIATE_TEST_SUITE_P(Streams, RevolutionIndexSeek, ::testing::ValuesIn(indexCases()),
                         [](const auto& info) { return info.param.name; });

TEST(GuessLayout, PairsWithOneAzimuthAreDualReturn) {
  auto make = [](const std::vector<uint16_t>& az) {
    return tovik::test::packetsFromAzimuths(az, [](size_t, int) { return 500; });
  };
  const auto single = make(tovik::test::steadyAzimuths(35000, 20, 600));
  const auto dual = make(tovik::test::steadyPairAzimuths(35000, 20, 300));
  const auto standing = make(std::vector<uint16_t>(240, 4000));
  auto pointers = [](const std::vector<PacketImage>& images) {
    std::vector<const uint8_t*> p;
    for (const auto& i : images) p.push_back(i.data());
    return p;
  };
  EXPECT_EQ(tovik::guessLayout(pointers(single)), tovik::LayoutGuess::Single);
  EXPECT_EQ(tovik::guessLayout(pointers(dual)), tovik::LayoutGuess::Dual);
  EXPECT_EQ(tovik::guessLayout(pointers(standing)), tovik::LayoutGuess::Unknown);
  EXPECT_EQ(tovik::guessLayout({}), tovik::LayoutGuess::Unknown);
}

}  // namespace
