// The vertical angle packet byte for byte, the angle encoding and the 1.5 degree check.
#include "dialogs/vertical_angle_packet.h"

#include <gtest/gtest.h>

#include <cstring>

#include "acquisition/geometry.h"

namespace tovik {
namespace {

struct AngleCase {
  double degrees;
  uint8_t bytes[2];
};
class EncodeAngle : public ::testing::TestWithParam<AngleCase> {};
TEST_P(EncodeAngle, TwoBytes) {
  const std::array<uint8_t, 2> b = encodeAngle(angleHundredths(GetParam().degrees));
  EXPECT_EQ(b[0], GetParam().bytes[0]) << GetParam().degrees;
  EXPECT_EQ(b[1], GetParam().bytes[1]) << GetParam().degrees;
}
INSTANTIATE_TEST_SUITE_P(
    Angles, EncodeAngle,
    ::testing::Values(AngleCase{-15.0, {0xFA, 0x23}},  // -1500 + 65535
                      AngleCase{-14.99, {0xFA, 0x24}}, AngleCase{0.0, {0x00, 0x00}},
                      AngleCase{-0.01, {0xFF, 0xFE}}, AngleCase{0.67, {0x00, 0x43}},
                      AngleCase{15.0, {0x05, 0xDC}}, AngleCase{-8.66, {0xFC, 0x9D}},
                      AngleCase{655.36, {0x00, 0x00}},  // 65536 does not fit
                      AngleCase{-655.35, {0x00, 0x00}}));

TEST(EncodeAngle, ReadsBackThroughDeviceRule) {
  for (int v = -3000; v <= 3000; ++v) {
    const std::array<uint8_t, 2> b = encodeAngle(v);
    ASSERT_EQ(decodeSigned16(readU16BE(b.data())), v) << v;
  }
}

TEST(TwoBytesDecToHex, SplitsOrZeroes) {
  const struct {
    int num;
    uint8_t hi, lo;
  } cases[] = {{0, 0, 0},           {1, 0, 1},     {0x1234, 0x12, 0x34},
               {65535, 0xFF, 0xFF}, {65536, 0, 0}, {-5, 0, 0}};
  for (const auto& c : cases) {
    uint8_t hi = 0xAA, lo = 0xAA;
    TwoBytesDecToHex(c.num, hi, lo);
    EXPECT_EQ(hi, c.hi) << c.num;
    EXPECT_EQ(lo, c.lo) << c.num;
  }
}

std::array<double, 16> nominalOf(int mode) {
  std::array<double, 16> a{};
  for (int ch = 0; ch < 16; ++ch) a[size_t(ch)] = nominalVerticalAngles(mode)[size_t(ch)];
  return a;
}

TEST(AngleCheck, LimitIsInclusive) {
  for (int mode : {0, 1}) EXPECT_EQ(firstDeviatingChannel(nominalOf(mode), mode), -1);
  std::array<double, 16> a = nominalOf(0);
  a[0] = -16.5;  // exactly 1.5 away passes
  EXPECT_EQ(firstDeviatingChannel(a, 0), -1);
  a[0] = -16.6;
  EXPECT_EQ(firstDeviatingChannel(a, 0), 0);
  a[0] = -15;
  a[9] = 10.6;  // nominal 9
  a[3] = 1.4;   // nominal 3: 1.6 below
  EXPECT_EQ(firstDeviatingChannel(a, 0), 3);
  // The texts the window shows in mode 1 (0.67, -8.66) are within the limit.
  std::array<double, 16> b = nominalOf(1);
  b[1] = 0.67;
  b[2] = -8.66;
  b[15] = 11.5;
  EXPECT_EQ(firstDeviatingChannel(b, 1), -1);
  // The nominal table of the other mode is far off.
  EXPECT_EQ(firstDeviatingChannel(nominalOf(0), 1), 0);
}

TEST(VerticalAnglePacket, ByteForByte) {
  uint8_t device[kDevicePacketSize];
  for (size_t i = 0; i < sizeof device; ++i) device[i] = uint8_t(i * 5 + 1);
  std::memcpy(device, kDeviceHeader, 8);
  const uint8_t address[4] = {127, 0, 0, 3};
  std::memcpy(device + 10, address, 4);
  std::array<int, 16> angles{};
  for (int ch = 0; ch < 16; ++ch) angles[size_t(ch)] = (ch % 2 ? 1 : -1) * (100 * ch + 1);
  const ConfigPacket p = buildVerticalAnglePacket(device, angles);

  const uint8_t header[8] = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xAA, 0xAA};
  EXPECT_EQ(0, std::memcmp(p.data(), header, 8));
  const uint8_t block[8] = {0x55, 0xAA, 0xAA, 0x55, 0x33, 0x33, 0x11, 0x11};
  EXPECT_EQ(0, std::memcmp(p.data() + 160, block, 8));
  EXPECT_EQ(p[245], 0xFF);  // channel 0: -1 as 65534
  EXPECT_EQ(p[246], 0xFE);
  EXPECT_EQ(p[247], 0x00);  // channel 1: 101
  EXPECT_EQ(p[248], 0x65);
  for (int ch = 0; ch < 16; ++ch)
    EXPECT_EQ(decodeSigned16(readU16BE(p.data() + 245 + 2 * ch)), angles[size_t(ch)]) << ch;
  for (size_t i = 277; i < 309; ++i) EXPECT_EQ(p[i], 0) << i;
  EXPECT_EQ(p[1204], 0x0F);
  EXPECT_EQ(p[1205], 0xF0);
  auto written = [](size_t i) {
    return i < 8 || (i >= 160 && i < 168) || (i >= 245 && i < 309) || i >= 1204;
  };
  for (size_t i = 0; i < p.size(); ++i)
    if (!written(i)) {
      ASSERT_EQ(p[i], device[i]) << "byte " << i;
    }
  EXPECT_EQ(deviceAddress(device), QStringLiteral("127.0.0.3"));
}

}  // namespace
}  // namespace tovik
