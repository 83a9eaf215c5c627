// The advanced configuration packet, the factory-default packet, the settings file and the
// captured-frame parsing, byte for byte; and the live capture of a device packet on loopback.
#include "dialogs/acwp_packet.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QBuffer>
#include <chrono>
#include <cstring>
#include <thread>

#include "acquisition/device_packet_capture.h"
#include "acquisition/udp_socket.h"

namespace tovik {
namespace {

const QDateTime kSendTime(QDate(2021, 3, 11), QTime(14, 5, 9));

// A captured device packet whose every byte is its offset's low byte, so a carried byte that
// moves or is overwritten shows.
CapturedDevicePacket patternedCapture() {
  CapturedDevicePacket c;
  for (size_t i = 0; i < c.payload.size(); ++i) c.payload[i] = uint8_t(i * 7 + 3);
  std::memcpy(c.payload.data(), kDeviceHeader, sizeof kDeviceHeader);
  c.sourceIp = {10, 1, 2, 3};
  c.destIp = {10, 1, 2, 99};
  c.sourcePort = 40001;
  return c;
}

AcwpSettings typicalSettings() {
  AcwpSettings s;
  s.rpm = 1200;
  s.recordedMotorState = 1;
  s.zeroDegreePosition = 1;
  s.echoMode = 1;
  s.rangeX100 = 20000;
  s.tailThreshold = 3;
  s.tailDistanceCm = 40;
  s.horizontalOffsetX100 = -1;
  s.encoderZeroX100 = -1;
  return s;
}

struct SignedCase {
  int value;
  uint16_t encoded;
};
class EncodeSigned16 : public ::testing::TestWithParam<SignedCase> {};
TEST_P(EncodeSigned16, DeviceRule) {
  EXPECT_EQ(encodeSigned16(GetParam().value), GetParam().encoded) << GetParam().value;
}
INSTANTIATE_TEST_SUITE_P(Values, EncodeSigned16,
                         ::testing::Values(SignedCase{0, 0}, SignedCase{1, 1},
                                           SignedCase{20000, 0x4E20}, SignedCase{65535, 0xFFFF},
                                           SignedCase{65536, 0}, SignedCase{70000, 0},
                                           // A negative v travels as v + 65535, not v + 65536.
                                           SignedCase{-1, 0xFFFE}, SignedCase{-2, 0xFFFD},
                                           SignedCase{-1500, 0xFA23}, SignedCase{-32767, 32768},
                                           SignedCase{-65534, 1}, SignedCase{-65535, 0},
                                           SignedCase{-70000, 0}));

TEST(EncodeSigned16, DecodesBackForEveryEncodableValue) {
  for (int v = -32767; v <= 32767; ++v) ASSERT_EQ(decodeSigned16(encodeSigned16(v)), v) << v;
}

struct HundredthsCase {
  const char* text;
  std::optional<int> value;
};
class ParseHundredths : public ::testing::TestWithParam<HundredthsCase> {};
TEST_P(ParseHundredths, Text) {
  EXPECT_EQ(parseHundredths(QString::fromUtf8(GetParam().text)), GetParam().value)
      << GetParam().text;
}
INSTANTIATE_TEST_SUITE_P(
    Texts, ParseHundredths,
    ::testing::Values(HundredthsCase{"150.5", 15050},  // the measuring range keeps its decimals
                      HundredthsCase{"200", 20000}, HundredthsCase{"-0.01", -1},
                      HundredthsCase{"0.29", 29},  // 28.999... as a double: must not truncate
                      HundredthsCase{"-14.99", -1499}, HundredthsCase{" 1.23 ", 123},
                      HundredthsCase{"", std::nullopt}, HundredthsCase{"abc", std::nullopt},
                      HundredthsCase{"1e30", std::nullopt}, HundredthsCase{"nan", std::nullopt}));

// Refresh shows the device's offset and encoder values; Set without edits must send the same
// raw bytes back (regression: the horizontal offset was sent as two's complement, so -0.01 came
// back as FF FF, which the device reads as 0).
TEST(AcwpPacket, RefreshThenSetKeepsSignedFields) {
  for (int raw : {0, 1, 29, 100, 12345, 32767, 32768, 65000, 65534, 65535}) {
    const QString shown = generalNumber(decodeSigned16(uint16_t(raw)) / 100.0);
    const std::optional<int> parsed = parseHundredths(shown);
    ASSERT_TRUE(parsed.has_value()) << raw;
    // 65535 reads as 0 and goes back as 00 00: the same value to the device.
    const uint16_t expected = raw == 65535 ? 0 : uint16_t(raw);
    EXPECT_EQ(encodeSigned16(*parsed), expected) << raw << " shown as " << shown.toStdString();
  }
}

TEST(AcwpPacket, FieldsByteForByte) {
  const CapturedDevicePacket c = patternedCapture();
  const ConfigPacket p = buildAcwpPacket(c, typicalSettings(), kSendTime);
  const uint8_t header[8] = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xBB, 0xBB};
  EXPECT_EQ(0, std::memcmp(p.data(), header, 8));
  EXPECT_EQ(p[8], 0x04);  // 1200 RPM
  EXPECT_EQ(p[9], 0xB0);
  const uint8_t addresses[8] = {10, 1, 2, 3, 10, 1, 2, 99};
  EXPECT_EQ(0, std::memcmp(p.data() + 10, addresses, 8));
  EXPECT_EQ(p[40], 0x00);
  EXPECT_EQ(p[41], 0x01);                           // Stop
  const uint8_t time[6] = {0x15, 3, 11, 14, 5, 9};  // year 2021 is 0x15
  EXPECT_EQ(0, std::memcmp(p.data() + 52, time, 6));
  const uint8_t block[8] = {0x55, 0xAA, 0xAA, 0x55, 0x33, 0x33, 0x11, 0x11};
  EXPECT_EQ(0, std::memcmp(p.data() + 160, block, 8));
  const uint8_t advanced[10] = {0x4E, 0x20, 0x00, 0x03, 0x00, 0x28, 0x01, 0x01, 0xFF, 0xFE};
  EXPECT_EQ(0, std::memcmp(p.data() + 178, advanced, 10));
  EXPECT_EQ(p[194], 0xFF);
  EXPECT_EQ(p[195], 0xFE);
  EXPECT_EQ(p[1204], 0x0F);
  EXPECT_EQ(p[1205], 0xF0);
}

TEST(AcwpPacket, EveryOtherByteIsCarried) {
  const CapturedDevicePacket c = patternedCapture();
  const ConfigPacket p = buildAcwpPacket(c, typicalSettings(), kSendTime);
  auto written = [](size_t i) {
    return i < 18 || (i >= 40 && i < 42) || (i >= 52 && i < 58) || (i >= 160 && i < 168) ||
           (i >= 178 && i < 188) || (i >= 194 && i < 196) || i >= 1204;
  };
  for (size_t i = 0; i < p.size(); ++i) {
    if (!written(i)) {
      ASSERT_EQ(p[i], c.payload[i]) << "byte " << i;
    }
  }
}

TEST(AcwpPacket, EmptyEncoderFieldKeepsDeviceBytes) {
  const CapturedDevicePacket c = patternedCapture();
  AcwpSettings s = typicalSettings();
  s.encoderZeroX100.reset();
  const ConfigPacket p = buildAcwpPacket(c, s, kSendTime);
  EXPECT_EQ(p[194], c.payload[194]);
  EXPECT_EQ(p[195], c.payload[195]);
}

struct ScalarCase {
  int rpmIndex;
  uint32_t motorState;
  int offset;
  uint8_t speed[2];
  uint8_t state[2];
  uint8_t offsetBytes[2];
};
class AcwpScalars : public ::testing::TestWithParam<ScalarCase> {};
TEST_P(AcwpScalars, SpeedStateOffset) {
  const ScalarCase& k = GetParam();
  AcwpSettings s = typicalSettings();
  s.rpm = rotateSpeedRpm(k.rpmIndex);
  s.recordedMotorState = k.motorState;
  s.horizontalOffsetX100 = k.offset;
  const ConfigPacket p = buildAcwpPacket(patternedCapture(), s, kSendTime);
  EXPECT_EQ(p[8], k.speed[0]);
  EXPECT_EQ(p[9], k.speed[1]);
  EXPECT_EQ(p[40], k.state[0]);
  EXPECT_EQ(p[41], k.state[1]);
  EXPECT_EQ(p[186], k.offsetBytes[0]);
  EXPECT_EQ(p[187], k.offsetBytes[1]);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, AcwpScalars,
    ::testing::Values(ScalarCase{0, 0, 0, {0x01, 0x2C}, {0, 0}, {0, 0}},
                      ScalarCase{1, 1, 70000, {0x02, 0x58}, {0, 1}, {0, 0}},  // 700 degrees
                      ScalarCase{2, 2, 1234, {0x04, 0xB0}, {0, 2}, {0x04, 0xD2}},
                      ScalarCase{5, 7, -1, {0x04, 0xB0}, {0, 2}, {0xFF, 0xFE}}));

TEST(AcwpPacket, RotateSpeedFromReportedRpm) {
  const std::pair<uint32_t, int> cases[] = {{249, -1}, {250, 0},  {350, 0},  {351, -1},
                                            {550, 1},  {600, 1},  {650, 1},  {900, -1},
                                            {1150, 2}, {1250, 2}, {1251, -1}};
  for (const auto& [rpm, index] : cases) EXPECT_EQ(rotateSpeedIndex(rpm), index) << rpm;
}

TEST(FactoryDefaultPacket, ByteForByte) {
  const ConfigPacket p = buildFactoryDefaultPacket(kSendTime);
  ConfigPacket expected{};
  const uint8_t head[28] = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xAA, 0xAA, 0x01, 0x2C,
                            0xC0, 0xA8, 0x01, 0xC8, 0xC0, 0xA8, 0x01, 0x66, 0,    0,
                            0,    0,    0,    0,    0x09, 0x40, 0x09, 0x41};
  std::memcpy(expected.data(), head, sizeof head);
  const uint8_t time[6] = {0x15, 3, 11, 14, 5, 9};
  std::memcpy(expected.data() + 52, time, 6);
  expected[1204] = 0x0F;
  expected[1205] = 0xF0;
  for (size_t i = 0; i < p.size(); ++i) ASSERT_EQ(p[i], expected[i]) << "byte " << i;
}

TEST(SettingsFile, HexBytesWithBlanks) {
  CapturedDevicePacket c = patternedCapture();
  c.payload[1205] = 0x0A;
  const QByteArray text = settingsFileText(c.payload.data());
  ASSERT_EQ(text.size(), 3618);
  EXPECT_TRUE(text.startsWith("a5 ff 00 5a 11 11 55 55 "));
  EXPECT_TRUE(text.endsWith(" 0a "));
  EXPECT_FALSE(text.contains('\n'));
  for (size_t i = 0; i < kDevicePacketSize; ++i)
    ASSERT_EQ(text.mid(int(3 * i), 2).toUInt(nullptr, 16), c.payload[i]) << i;

  QBuffer buffer;
  ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
  EXPECT_TRUE(writeSettingsFile(&buffer, c.payload.data()));
  EXPECT_EQ(buffer.data(), text);
  QBuffer closed;  // not open: nothing can be written
  EXPECT_FALSE(writeSettingsFile(&closed, c.payload.data()));
}

TEST(Board2, HighVoltageFormulaFollowsFpgaVersion) {
  SettingData s;
  s.fpga2Version[0] = 3;
  s.fpga2Version[1] = 0x05;  // 3.0.5
  EXPECT_NEAR(board2HighVoltage(s, 1000), (13180.2 - 3250) / 40.5504, 1e-3);
  s.fpga2Version[1] = 0x15;  // 3.1.5
  EXPECT_NEAR(board2HighVoltage(s, 1000), (13394 - 2500) / 52.56 - 3.27, 1e-3);
  s.fpga2Version[0] = 2;
  s.fpga2Version[1] = 0x05;
  EXPECT_NEAR(board2HighVoltage(s, -10), (13394 + 25) / 52.56 - 3.27, 1e-3);
}

// An Ethernet frame around a payload, addresses at their IPv4 and UDP offsets.
std::vector<uint8_t> frameAround(const ConfigPacket& payload, size_t extra = 0) {
  std::vector<uint8_t> f(kFramePayloadOffset + payload.size() + extra, 0);
  const uint8_t ips[8] = {127, 0, 0, 2, 127, 0, 0, 1};
  std::memcpy(f.data() + 26, ips, 8);
  f[34] = 0x9C;  // source port 40001
  f[35] = 0x41;
  f[36] = 0x09;  // destination port 2369
  f[37] = 0x41;
  std::memcpy(f.data() + kFramePayloadOffset, payload.data(), payload.size());
  return f;
}

TEST(DeviceFrame, MatchesOnLengthAndHeader) {
  ConfigPacket device{};
  std::memcpy(device.data(), kDeviceHeader, 8);
  ConfigPacket point{};
  point[0] = 0xFF;
  point[1] = 0xEE;
  CapturedDevicePacket out;
  ASSERT_TRUE(parseDeviceFrame(frameAround(device).data(), 1248, true, &out));
  EXPECT_EQ(dottedAddress(out.sourceIp), QStringLiteral("127.0.0.2"));
  EXPECT_EQ(dottedAddress(out.destIp), QStringLiteral("127.0.0.1"));
  EXPECT_EQ(out.sourcePort, 40001);
  EXPECT_EQ(out.destPort, 2369);
  EXPECT_EQ(out.payload, device);
  // A point data frame ends a refresh (any full frame) but not a set.
  EXPECT_TRUE(parseDeviceFrame(frameAround(point).data(), 1248, false, nullptr));
  EXPECT_FALSE(parseDeviceFrame(frameAround(point).data(), 1248, true, nullptr));
  // Any other length is not a device frame.
  EXPECT_FALSE(parseDeviceFrame(frameAround(device, 1).data(), 1249, false, nullptr));
  EXPECT_FALSE(parseDeviceFrame(frameAround(device).data(), 1247, false, nullptr));
  EXPECT_FALSE(parseDeviceFrame(nullptr, 1248, false, nullptr));
}

TEST(CaptureAdapter, LoopbackAndBadAddresses) {
  std::string error;
  EXPECT_EQ(captureInterfaceFor("127.0.0.2", &error), "lo");
  EXPECT_EQ(captureInterfaceFor("127.255.1.1", &error), "lo");
  error.clear();
  EXPECT_EQ(captureInterfaceFor("not.an.address", &error), "");
  EXPECT_FALSE(error.empty());
}

class LiveCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "capturing on lo needs root (CAP_NET_RAW)";
  }
};

TEST_F(LiveCapture, TakesDevicePacketWithItsSourcePort) {
  net::UdpSocket receiver, sender;
  ASSERT_TRUE(receiver.open() && receiver.bind("127.0.0.1", 0));
  ASSERT_TRUE(sender.open() && sender.bind("127.0.0.2", 0));
  const uint16_t port = receiver.localEndpoint().port;
  ConfigPacket device{};
  std::memcpy(device.data(), kDeviceHeader, 8);
  device[100] = 0x42;
  ConfigPacket point{};
  point[0] = 0xFF;
  point[1] = 0xEE;
  std::thread feed([&] {
    // A point packet, a short datagram, then the device packet, several times until captured.
    for (int i = 0; i < 15; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      sender.sendTo(point.data(), point.size(), "127.0.0.1", port);
      sender.sendTo(point.data(), 100, "127.0.0.1", port);
      sender.sendTo(device.data(), device.size(), "127.0.0.1", port);
    }
  });
  DevicePacketCaptureOptions o;
  o.routeAddress = "127.0.0.2";
  o.port = port;
  const DevicePacketCaptureResult r = captureDevicePacket(o);
  feed.join();
  ASSERT_EQ(r.outcome, CaptureOutcome::Matched) << r.error;
  EXPECT_EQ(r.interfaceName, "lo");
  EXPECT_EQ(r.packet.payload, device);
  EXPECT_EQ(r.packet.sourcePort, sender.localEndpoint().port);
  EXPECT_EQ(dottedAddress(r.packet.sourceIp), QStringLiteral("127.0.0.2"));
  EXPECT_GE(r.framesRead, 3);  // the point packet and the short one came first
}

TEST_F(LiveCapture, SilentPortEndsWithinTimeOut) {
  net::UdpSocket receiver;
  ASSERT_TRUE(receiver.open() && receiver.bind("127.0.0.1", 0));
  DevicePacketCaptureOptions o;
  o.routeAddress = "127.0.0.2";
  o.port = receiver.localEndpoint().port;
  o.timeoutMs = 400;
  const auto t0 = std::chrono::steady_clock::now();
  const DevicePacketCaptureResult r = captureDevicePacket(o);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count();
  EXPECT_EQ(r.outcome, CaptureOutcome::NoMatch);
  EXPECT_EQ(r.framesRead, 0);
  EXPECT_GE(ms, 350);
  EXPECT_LT(ms, 1500);
}

TEST_F(LiveCapture, FrameLimitEndsSearch) {
  net::UdpSocket receiver, sender;
  ASSERT_TRUE(receiver.open() && receiver.bind("127.0.0.1", 0));
  ASSERT_TRUE(sender.open());
  const uint16_t port = receiver.localEndpoint().port;
  std::atomic<bool> stop{false};
  std::thread feed([&] {
    const uint8_t junk[64] = {};
    while (!stop) {
      sender.sendTo(junk, sizeof junk, "127.0.0.1", port);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  DevicePacketCaptureOptions o;
  o.routeAddress = "127.0.0.1";
  o.port = port;
  o.frameLimit = 20;
  o.timeoutMs = 5000;
  const DevicePacketCaptureResult r = captureDevicePacket(o);
  stop = true;
  feed.join();
  EXPECT_EQ(r.outcome, CaptureOutcome::NoMatch);
  EXPECT_EQ(r.framesRead, 20);
}

TEST_F(LiveCapture, UnknownAdapterFailsToOpen) {
  DevicePacketCaptureOptions o;
  o.interfaceName = "tovik-no-such-if0";
  const DevicePacketCaptureResult r = captureDevicePacket(o);
  EXPECT_EQ(r.outcome, CaptureOutcome::OpenFailed);
  EXPECT_FALSE(r.error.empty());
}

}  // namespace
}  // namespace tovik
