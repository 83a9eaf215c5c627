// The network configuration datagram, byte for byte: every edited field's rule and edge, and
// every byte the window does not edit going back as the device sent it.
#include "device/network_config_packet.h"

#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <vector>

#include "device/setting_data.h"

namespace {

using Packet = std::array<uint8_t, tovik::kDevicePacketSize>;

// A device packet whose every byte differs from its neighbours, so a byte written at the wrong
// offset or left out shows.
Packet devicePacket() {
  Packet p;
  for (size_t i = 0; i < p.size(); ++i) p[i] = uint8_t(i * 7 + 3);
  std::copy(std::begin(tovik::kDeviceHeader), std::end(tovik::kDeviceHeader), p.begin());
  const uint8_t lidar[4] = {192, 168, 1, 77};
  std::copy(lidar, lidar + 4, p.begin() + 10);
  return p;
}

// Fields as a refreshed window holds them.
tovik::NetworkConfigFields fields() {
  tovik::NetworkConfigFields f;
  f.lidarIp = QStringLiteral("192.168.1.201");
  f.destIp = QStringLiteral("192.168.1.102");
  f.mac = QStringLiteral("60-76-88-3a-bc-0f");
  f.dataPort = QStringLiteral("2368");
  f.devicePort = QStringLiteral("2369");
  f.ntpIp = QStringLiteral("10.0.0.5");
  f.interval = QStringLiteral("1");
  f.ppsAngle = QStringLiteral("90");
  f.rotateSpeed = QStringLiteral(" 10 HZ");
  f.motorState = QStringLiteral("Run");
  f.lidarStatusIndex = 0;
  f.sendLocalTime = true;
  f.localTime = QDateTime(QDate(2026, 12, 8), QTime(3, 4, 5));
  return f;
}

struct Built {
  Packet device;
  Packet out{};
  tovik::ConfigField refused;
};

Built build(const tovik::NetworkConfigFields& f, Packet device = devicePacket()) {
  Built b{device, {}, tovik::ConfigField::kNone};
  b.refused = tovik::buildNetworkConfigPacket(b.device.data(), f, b.out.data());
  return b;
}

std::vector<int> bytesAt(const Packet& p, size_t offset, size_t n) {
  return std::vector<int>(p.begin() + offset, p.begin() + offset + n);
}

TEST(NetworkConfigPacket, FullFieldsWriteEveryEditedByte) {
  const Built b = build(fields());
  ASSERT_EQ(b.refused, tovik::ConfigField::kNone);
  EXPECT_EQ(bytesAt(b.out, 0, 8),
            (std::vector<int>{0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xAA, 0xAA}));
  EXPECT_EQ(bytesAt(b.out, 8, 2), (std::vector<int>{0x02, 0x58}));
  EXPECT_EQ(bytesAt(b.out, 10, 4), (std::vector<int>{192, 168, 1, 201}));
  EXPECT_EQ(bytesAt(b.out, 14, 4), (std::vector<int>{192, 168, 1, 102}));
  EXPECT_EQ(bytesAt(b.out, 18, 6), (std::vector<int>{0x60, 0x76, 0x88, 0x3A, 0xBC, 0x0F}));
  EXPECT_EQ(bytesAt(b.out, 24, 4), (std::vector<int>{0x09, 0x40, 0x09, 0x41}));
  EXPECT_EQ(bytesAt(b.out, 28, 4), (std::vector<int>{10, 0, 0, 5}));
  EXPECT_EQ(bytesAt(b.out, 40, 6), (std::vector<int>{0, 0, 0, 1, 0, 0}));
  EXPECT_EQ(bytesAt(b.out, 48, 2), (std::vector<int>{0x23, 0x28}));  // 9000
  EXPECT_EQ(bytesAt(b.out, 52, 6), (std::vector<int>{26, 12, 8, 3, 4, 5}));
  EXPECT_EQ(bytesAt(b.out, 1204, 2), (std::vector<int>{0x0F, 0xF0}));
}

TEST(NetworkConfigPacket, BytesNotEditedGoBackUnchanged) {
  const Packet device = devicePacket();
  const Built b = build(fields(), device);
  ASSERT_EQ(b.refused, tovik::ConfigField::kNone);
  // 32-39, 46-47, 50-51 and 58-1203 (vertical angles at 245-276 among them).
  const std::pair<size_t, size_t> kept[] = {{32, 40}, {46, 48}, {50, 52}, {58, 1204}};
  for (const auto& range : kept)
    for (size_t i = range.first; i < range.second; ++i)
      ASSERT_EQ(b.out[i], device[i]) << "byte " << i;
  EXPECT_EQ(b.device, device);  // the device packet itself is left alone
}

struct SpeedCase {
  const char* combo;
  std::vector<int> bytes;
};
void PrintTo(const SpeedCase& c, std::ostream* os) { *os << '"' << c.combo << '"'; }
class SpeedTest : public ::testing::TestWithParam<SpeedCase> {};
TEST_P(SpeedTest, ComboTextSelectsRpm) {
  auto f = fields();
  f.rotateSpeed = QString::fromLatin1(GetParam().combo);
  EXPECT_EQ(bytesAt(build(f).out, 8, 2), GetParam().bytes);
}
INSTANTIATE_TEST_SUITE_P(Combos, SpeedTest,
                         ::testing::Values(SpeedCase{" 5 HZ", {0x01, 0x2C}},
                                           SpeedCase{" 10 HZ", {0x02, 0x58}},
                                           SpeedCase{" 20 HZ", {0x04, 0xB0}},
                                           SpeedCase{"5 HZ", {0x04, 0xB0}},  // no leading blank
                                           SpeedCase{"", {0x04, 0xB0}}));

struct MacCase {
  const char* text;
  std::vector<int> bytes;
};
void PrintTo(const MacCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }
class MacTest : public ::testing::TestWithParam<MacCase> {};
TEST_P(MacTest, SeventeenCharactersElseFallback) {
  auto f = fields();
  f.mac = QString::fromLatin1(GetParam().text);
  EXPECT_EQ(bytesAt(build(f).out, 18, 6), GetParam().bytes);
}
INSTANTIATE_TEST_SUITE_P(
    Texts, MacTest,
    ::testing::Values(MacCase{"", {0x60, 0x76, 0x88, 0, 0, 0}},
                      MacCase{"60-76-88-3a-bc-0", {0x60, 0x76, 0x88, 0, 0, 0}},    // 16 chars
                      MacCase{"60-76-88-3a-bc-0ff", {0x60, 0x76, 0x88, 0, 0, 0}},  // 18 chars
                      MacCase{"ff-00-AB-cd-12-34", {0xFF, 0x00, 0xAB, 0xCD, 0x12, 0x34}},
                      MacCase{"zz-1z-00-00-00-01", {0x00, 0x01, 0, 0, 0, 0x01}}));  // atoi-like

struct PortCase {
  const char* text;
  bool taken;
  std::vector<int> bytes;  // when taken
};
void PrintTo(const PortCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }
class PortTest : public ::testing::TestWithParam<PortCase> {};
TEST_P(PortTest, RangeOpenAt1024And65536) {
  const Packet device = devicePacket();
  for (size_t offset : {size_t(24), size_t(26)}) {
    auto f = fields();
    (offset == 24 ? f.dataPort : f.devicePort) = QString::fromLatin1(GetParam().text);
    const auto expected = GetParam().taken ? GetParam().bytes : bytesAt(device, offset, 2);
    EXPECT_EQ(bytesAt(build(f).out, offset, 2), expected) << "offset " << offset;
  }
}
INSTANTIATE_TEST_SUITE_P(Values, PortTest,
                         ::testing::Values(PortCase{"1024", false, {}},
                                           PortCase{"1025", true, {0x04, 0x01}},
                                           PortCase{"65535", true, {0xFF, 0xFF}},
                                           PortCase{"65536", false, {}}, PortCase{"", false, {}},
                                           PortCase{"abc", false, {}}));

TEST(NetworkConfigPacket, EmptyFieldsFallBackAsTheDeviceExpects) {
  auto f = fields();
  f.lidarIp.clear();
  f.destIp.clear();
  f.ntpIp.clear();
  f.interval.clear();
  f.ppsAngle.clear();
  const Packet device = devicePacket();
  const Built b = build(f, device);
  ASSERT_EQ(b.refused, tovik::ConfigField::kNone);
  EXPECT_EQ(bytesAt(b.out, 10, 8), bytesAt(device, 10, 8));          // both addresses kept
  EXPECT_EQ(bytesAt(b.out, 28, 4), (std::vector<int>{0, 0, 0, 0}));  // not the device's NTP
  EXPECT_EQ(bytesAt(b.out, 42, 2), (std::vector<int>{0, 0}));
  EXPECT_EQ(bytesAt(b.out, 48, 2), bytesAt(device, 48, 2));
}

struct SmallFieldCase {
  const char* name;
  void (*edit)(tovik::NetworkConfigFields&);
  size_t offset;
  std::vector<int> bytes;
};
void PrintTo(const SmallFieldCase& c, std::ostream* os) { *os << c.name; }
class SmallFieldTest : public ::testing::TestWithParam<SmallFieldCase> {};
TEST_P(SmallFieldTest, Encodes) {
  auto f = fields();
  GetParam().edit(f);
  EXPECT_EQ(bytesAt(build(f).out, GetParam().offset, GetParam().bytes.size()), GetParam().bytes);
}
INSTANTIATE_TEST_SUITE_P(
    Fields, SmallFieldTest,
    ::testing::Values(
        SmallFieldCase{"interval0", [](auto& f) { f.interval = QStringLiteral("0"); }, 42, {0, 0}},
        SmallFieldCase{"interval1", [](auto& f) { f.interval = QStringLiteral("1"); }, 42, {0, 1}},
        SmallFieldCase{
            "pps360", [](auto& f) { f.ppsAngle = QStringLiteral("360"); }, 48, {0x8C, 0xA0}},
        SmallFieldCase{"pps0", [](auto& f) { f.ppsAngle = QStringLiteral("0"); }, 48, {0, 0}},
        // 700 x 100 = 70000 keeps its low 16 bits, 0x1170.
        SmallFieldCase{
            "pps700", [](auto& f) { f.ppsAngle = QStringLiteral("700"); }, 48, {0x11, 0x70}},
        SmallFieldCase{"stop", [](auto& f) { f.motorState = QStringLiteral("Stop"); }, 40, {0, 1}},
        SmallFieldCase{
            "outputRate", [](auto& f) { f.motorState = QStringLiteral("OutputRate"); }, 40, {0, 2}},
        SmallFieldCase{"run", [](auto& f) { f.motorState = QStringLiteral("Run"); }, 40, {0, 0}},
        SmallFieldCase{"sleep", [](auto& f) { f.lidarStatusIndex = 1; }, 44, {0, 1}},
        SmallFieldCase{"running", [](auto& f) { f.lidarStatusIndex = 0; }, 44, {0, 0}},
        SmallFieldCase{
            "noLocalTime", [](auto& f) { f.sendLocalTime = false; }, 52, {0, 0, 0, 0, 0, 0}},
        SmallFieldCase{"ipLowBits",
                       [](auto& f) { f.destIp = QStringLiteral("300.1x.-1.256"); },
                       14,
                       {44, 1, 255, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NetworkConfigPacket, LidarStatusOutsideTheListKeepsTheDeviceBytes) {
  auto f = fields();
  f.lidarStatusIndex = -1;
  const Packet device = devicePacket();
  EXPECT_EQ(bytesAt(build(f, device).out, 44, 2), bytesAt(device, 44, 2));
}

TEST(NetworkConfigPacket, BroadcastLidarAddressBecomes192_168_1_200) {
  Packet device = devicePacket();
  std::fill(device.begin() + 10, device.begin() + 14, 0xFF);
  auto f = fields();
  f.lidarIp.clear();
  const Built b = build(f, device);
  ASSERT_EQ(b.refused, tovik::ConfigField::kNone);
  EXPECT_EQ(bytesAt(b.out, 10, 4), (std::vector<int>{0xC0, 0xA8, 0x01, 0xC8}));
  EXPECT_EQ(bytesAt(b.device, 10, 4), (std::vector<int>{0xC0, 0xA8, 0x01, 0xC8}));
  EXPECT_EQ(tovik::lidarAddressText(b.device.data()), QStringLiteral("192.168.1.200"));

  // A typed lidar IP is sent, but the datagram still goes to the substituted address.
  const Built typed = build(fields(), device);
  EXPECT_EQ(bytesAt(typed.out, 10, 4), (std::vector<int>{192, 168, 1, 201}));
  EXPECT_EQ(tovik::lidarAddressText(typed.device.data()), QStringLiteral("192.168.1.200"));
}

// Regression: an address with fewer than four numbers has no encoding; it is refused and the
// device packet is left alone.
TEST(NetworkConfigPacket, IncompleteAddressIsRefused) {
  struct Case {
    QString tovik::NetworkConfigFields::*field;
    const char* text;
    tovik::ConfigField refused;
  };
  const Case cases[] = {
      {&tovik::NetworkConfigFields::lidarIp, "192.168.1", tovik::ConfigField::kLidarIp},
      {&tovik::NetworkConfigFields::lidarIp, "192.168.1.", tovik::ConfigField::kLidarIp},
      {&tovik::NetworkConfigFields::destIp, "10", tovik::ConfigField::kDestIp},
      {&tovik::NetworkConfigFields::destIp, "1..2.3", tovik::ConfigField::kDestIp},
      {&tovik::NetworkConfigFields::ntpIp, "a.b.c.d", tovik::ConfigField::kNtpIp},
  };
  for (const Case& c : cases) {
    Packet device = devicePacket();
    std::fill(device.begin() + 10, device.begin() + 14, 0xFF);
    const Packet before = device;
    auto f = fields();
    f.*(c.field) = QString::fromLatin1(c.text);
    const Built b = build(f, device);
    EXPECT_EQ(b.refused, c.refused) << c.text;
    EXPECT_EQ(b.device, before) << c.text;
  }
}

TEST(NetworkConfigPacket, FieldEncoders) {
  uint8_t ip[4] = {9, 9, 9, 9};
  EXPECT_TRUE(tovik::encodeIpv4Field(QStringLiteral("127.0.0.2"), ip));
  EXPECT_EQ(std::vector<int>(ip, ip + 4), (std::vector<int>{127, 0, 0, 2}));
  EXPECT_FALSE(tovik::encodeIpv4Field(QStringLiteral("127.0.0"), ip));
  EXPECT_EQ(std::vector<int>(ip, ip + 4), (std::vector<int>{127, 0, 0, 2}));  // untouched

  uint16_t port = 7;
  EXPECT_FALSE(tovik::portFieldValue(QStringLiteral("1024"), &port));
  EXPECT_EQ(port, 7);
  EXPECT_TRUE(tovik::portFieldValue(QStringLiteral("1025"), &port));
  EXPECT_EQ(port, 1025);

  EXPECT_EQ(tovik::ipv4Text(ip), QStringLiteral("127.0.0.2"));
}

}  // namespace
