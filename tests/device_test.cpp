// Device information packet: header test, Mac vector, vertical angles, the SettingData record
// and the text forms the dialogs show.
#include <gtest/gtest.h>

#include <QString>
#include <array>
#include <cstring>
#include <ostream>

#include "device/device_text.h"
#include "device/setting_data.h"

// Readable failure messages for QString comparisons; GoogleTest looks up this exact name.
// NOLINTNEXTLINE(readability-identifier-naming)
void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace tovik {
namespace {

using Packet = std::array<uint8_t, kDevicePacketSize>;

Packet devicePacket() {
  Packet p{};
  std::memcpy(p.data(), kDeviceHeader, sizeof kDeviceHeader);
  return p;
}

void putU16(Packet& p, size_t offset, unsigned v) {
  p[offset] = uint8_t(v >> 8);
  p[offset + 1] = uint8_t(v);
}

TEST(DeviceHeader, AcceptsExactlyTheEightHeaderBytes) {
  Packet p = devicePacket();
  EXPECT_TRUE(isDevicePacket(p.data()));
  // No other field and no length matter.
  p.fill(0x5A);
  std::memcpy(p.data(), kDeviceHeader, sizeof kDeviceHeader);
  EXPECT_TRUE(isDevicePacket(p.data()));
  for (size_t i = 0; i < 8; ++i) {
    Packet bad = devicePacket();
    bad[i] ^= 0x01;
    EXPECT_FALSE(isDevicePacket(bad.data())) << "byte " << i;
  }
  Packet point{};
  point[0] = 0xFF;
  point[1] = 0xEE;
  EXPECT_FALSE(isDevicePacket(point.data()));
}

TEST(DeviceSigned16, SubtractsSixtyFiveThousandFiveHundredThirtyFive) {
  const struct {
    uint16_t raw;
    int value;
  } cases[] = {{0, 0},        {1, 1},      {32767, 32767}, {32768, -32767},
               {65036, -499}, {65534, -1}, {65535, 0}};
  for (const auto& c : cases) EXPECT_EQ(decodeSigned16(c.raw), c.value) << c.raw;
}

TEST(DeviceVerticalAngles, EdgeValuesAndChannelPositions) {
  const struct {
    uint8_t hi, lo;
    float degrees;
  } cases[] = {{0xFF, 0xFF, 0.0f},   {0x80, 0x00, -327.67f}, {0x7F, 0xFF, 327.67f},
               {0xFE, 0x0C, -4.99f}, {0x00, 0x00, 0.0f},     {0x05, 0xDC, 15.0f},
               {0xFA, 0x23, -15.0f}};
  // Every channel gets a different case so a misplaced pair shows.
  Packet p = devicePacket();
  const int n = int(sizeof cases / sizeof cases[0]);
  for (int c = 0; c < 16; ++c) {
    p[245 + 2 * c] = cases[c % n].hi;
    p[246 + 2 * c] = cases[c % n].lo;
  }
  const AngleTable angles = decodeVerticalAngles(p.data());
  for (int c = 0; c < 16; ++c) EXPECT_FLOAT_EQ(angles[c], cases[c % n].degrees) << "channel " << c;
}

// A packet written field by field as the device would send it.
Packet referencePacket() {
  Packet p = devicePacket();
  putU16(p, 8, 1200);  // motor speed
  const uint8_t dest[] = {192, 168, 1, 102};
  std::memcpy(&p[14], dest, 4);
  const uint8_t mac[] = {0x00, 0x1A, 0x2B, 0xC3, 0xD4, 0xFF};
  std::memcpy(&p[18], mac, 6);
  putU16(p, 24, 2368);         // data port
  putU16(p, 26, 2369);         // device port
  putU16(p, 40, 2);            // motor state
  putU16(p, 42, 1);            // packet interval
  putU16(p, 44, 1);            // lidar status
  putU16(p, 48, 9000);         // PPS set angle
  putU16(p, 50, 65535 - 250);  // PPS deviation -2.50
  const uint8_t time[] = {21, 3, 11, 9, 5, 7};
  std::memcpy(&p[52], time, 6);
  std::memcpy(&p[58], "3958.12345", 10);
  std::memcpy(&p[68], "11619.5432", 10);
  p[78] = 'N';
  p[79] = 'E';
  putU16(p, 80, 2048);  // plate-2 temperature
  p[82] = 0x00;
  p[83] = 0x01;  // LVDS not locked
  p[84] = 1;
  p[85] = 2;
  p[86] = 3;
  putU16(p, 87, 4096);  // machine-stop temperature
  const uint8_t volts[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  std::memcpy(&p[89], volts, 10);
  putU16(p, 99, 40000);        // board-2 high voltage
  putU16(p, 101, 65535 - 12);  // board-2 high-voltage adjustment
  p[103] = 200;                // board-2 threshold
  p[104] = 1;                  // cleanliness
  p[168] = 0xA8;
  p[169] = 0xA9;
  const uint8_t r170[] = {0xB0, 0xB1, 0xB2, 0xB3}, r174[] = {0xC0, 0xC1, 0xC2, 0xC3};
  std::memcpy(&p[170], r170, 4);
  std::memcpy(&p[174], r174, 4);
  putU16(p, 178, 20000);                      // range x 100
  putU16(p, 180, 30);                         // tail threshold
  putU16(p, 182, 150);                        // tail distance
  p[184] = 1;                                 // zero position
  p[185] = 1;                                 // dual echo
  putU16(p, 186, 65535 - 100);                // horizontal offset -1.00
  putU16(p, 194, 1234);                       // encoder zero
  std::memcpy(&p[1164], "TOVIK16-0001", 12);  // ID, 8 trailing zeros
  const uint8_t boards[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  std::memcpy(&p[1184], boards, 10);
  putU16(p, 1194, 133);  // angle spacing
  const uint8_t fpga[] = {3, 0x25, 20, 21, 3, 11, 3, 0x57};
  std::memcpy(&p[1196], fpga, 8);
  return p;
}

TEST(DeviceMacVector, ReferencePacketGivesEveryValueInItsPlace) {
  const Packet p = referencePacket();
  const std::vector<int> expected = {0x00,        0x1A, 0x2B,  0xC3,       0xD4, 0xFF, 65535 - 250,
                                     2368,        2369, 20000, 30,         150,  1,    1,
                                     65535 - 100, 1234, 40000, 65535 - 12, 200,  1,    133};
  EXPECT_EQ(buildMacVector(p.data()), expected);
  std::vector<int> appended = {7};
  appendMacValues(p.data(), &appended);
  ASSERT_EQ(appended.size(), 22u);
  EXPECT_EQ(appended.front(), 7);
  EXPECT_EQ(std::vector<int>(appended.begin() + 1, appended.end()), expected);
}

TEST(DeviceRecord, EveryFieldComesFromItsBytes) {
  // Each byte holds a value derived from its offset, so a field read from the wrong place shows.
  Packet p = devicePacket();
  for (size_t i = 8; i < p.size(); ++i) p[i] = uint8_t(i * 7 + 3);
  const SettingData s = decodeSettingData(p.data());
  const struct {
    const char* name;
    const void* field;
    size_t offset, size;
  } bytes[] = {
      {"destIp", s.destIp, 14, 4},
      {"dataPortRaw", &s.dataPortRaw, 24, 2},
      {"gpsTime", s.gpsTime, 52, 6},
      {"ppsAngle", s.ppsAngle, 48, 2},
      {"ppsDeviation", s.ppsDeviation, 50, 2},
      {"latitude", s.latitude, 58, 10},
      {"latitudeSuffix", &s.latitudeSuffix, 78, 1},
      {"longitude", s.longitude, 68, 10},
      {"longitudeSuffix", &s.longitudeSuffix, 79, 1},
      {"temperature", s.temperature, 80, 2},
      {"lvds", s.lvds, 82, 2},
      {"raw168", &s.raw168, 168, 1},
      {"raw169", &s.raw169, 169, 1},
      {"raw170", s.raw170, 170, 4},
      {"raw174", s.raw174, 174, 4},
      {"fpga2Version", s.fpga2Version, 1196, 2},
      {"fpga3Version", s.fpga3Version, 1198, 6},
      {"verticalAngles", s.verticalAngles, 245, 32},
      {"gpsState", &s.gpsState, 84, 1},
      {"ppsState", &s.ppsState, 85, 1},
      {"highTempPause", &s.highTempPause, 86, 1},
      {"stopTemperature", s.stopTemperature, 87, 2},
      {"voltage", s.voltage, 89, 10},
      {"lidarId", s.lidarId, 1164, 20},
      {"boardVersions", s.boardVersions, 1184, 10},
  };
  for (const auto& b : bytes) EXPECT_EQ(std::memcmp(b.field, &p[b.offset], b.size), 0) << b.name;
  EXPECT_EQ(s.motorSpeed, uint32_t(p[8] << 8 | p[9]));
  EXPECT_EQ(s.motorState, uint32_t(p[40] << 8 | p[41]));
  EXPECT_EQ(s.packetInterval, uint32_t(p[42] << 8 | p[43]));
}

TEST(DeviceRecord, AcceptChangesNothingForAForeignHeader) {
  setDeviceVerticalAngles(AngleTable{});
  Packet p = referencePacket();
  putU16(p, 245, 1500);
  p[2] = 0x01;
  SettingData record;
  record.motorSpeed = 77;
  std::vector<int> mac;
  EXPECT_FALSE(acceptDevicePacket(p.data(), &record, &mac));
  EXPECT_EQ(record.motorSpeed, 77u);
  EXPECT_TRUE(mac.empty());
  EXPECT_EQ(deviceVerticalAnglesSnapshot()[0], 0.0f);

  p[2] = 0x00;
  ASSERT_TRUE(acceptDevicePacket(p.data(), &record, &mac));
  EXPECT_EQ(record.motorSpeed, 1200u);
  EXPECT_EQ(mac, buildMacVector(p.data()));
  EXPECT_EQ(deviceVerticalAnglesSnapshot(), decodeVerticalAngles(p.data()));
  EXPECT_FLOAT_EQ(deviceVerticalAnglesSnapshot()[0], 15.0f);
  setDeviceVerticalAngles(AngleTable{});
}

TEST(DeviceText, ReferencePacketTexts) {
  const Packet p = referencePacket();
  const DevicePacketContents d = decodeDevicePacket(p.data());
  const SettingData& s = d.record;
  EXPECT_EQ(motorSpeedText(s), "1200");
  EXPECT_EQ(gpsTimeText(s), "2021/3/11 9:5:7");
  EXPECT_EQ(ppsSetAngleText(s), "90.00");
  EXPECT_EQ(ppsDeviationText(s), "-2.5");
  EXPECT_EQ(ppsLockText(s), "0");
  EXPECT_EQ(latitudeText(s), "3958.12345N");
  EXPECT_EQ(longitudeText(s), "11619.5432E");
  EXPECT_EQ(macAddressText(d.mac), "00-1a-2b-c3-d4-ff");
  EXPECT_EQ(plate3VoltageText(s), "12345678910");
  EXPECT_EQ(gpsStateText(s), "1");
  EXPECT_EQ(ppsStateText(s), "2");
  EXPECT_EQ(highTempPauseText(s), "3");
  EXPECT_EQ(lvdsText(s), QString::fromUtf8(u8"1：LVDS未锁定"));
  EXPECT_EQ(cleanlinessText(d.mac), "Mild pollution");
  EXPECT_EQ(lidarStatusText(p.data()), "Sleep");
  EXPECT_EQ(motorStateText(s), "OutputRate");
  const QStringList expected = {"V3.2.5",
                                "2021.3.11-V.3.5.7",
                                QString::fromLatin1("TOVIK16-0001\0\0\0\0\0\0\0\0", 20),
                                "V1.2",
                                "V3.4",
                                "V5.6",
                                "V7.8",
                                "V9.10"};
  EXPECT_EQ(deviceVersions(s), expected);
}

TEST(DeviceText, MotorSpeedOfOneHundredOrLessShowsZero) {
  const struct {
    uint32_t rpm;
    const char* text;
  } cases[] = {{0, "0"}, {100, "0"}, {101, "101"}, {600, "600"}, {65535, "65535"}};
  for (const auto& c : cases) {
    SettingData s;
    s.motorSpeed = c.rpm;
    EXPECT_EQ(motorSpeedText(s), c.text) << c.rpm;
  }
}

// The PPS deviation once read raw 32767 as negative (-327.68) while every other signed field
// reads it as +327.67.
TEST(DeviceText, PpsDeviationRaw32767IsPositive) {
  SettingData s;
  s.ppsDeviation[0] = 0x7F;
  s.ppsDeviation[1] = 0xFF;
  EXPECT_DOUBLE_EQ(ppsDeviationDegrees(s), 327.67);
  EXPECT_EQ(ppsDeviationText(s), "327.67");
  EXPECT_EQ(ppsLockText(s), "1");
}

TEST(DeviceText, PpsDeviationAndLockIndicator) {
  const struct {
    uint16_t raw;
    const char* text;
    const char* lock;
  } cases[] = {{0, "0", "0"},          {1, "0.01", "0"},        {1500, "15", "0"},
               {1501, "15.01", "1"},   {65535, "0", "0"},       {64035, "-15", "0"},
               {64034, "-15.01", "1"}, {32768, "-327.67", "1"}, {12345, "123.45", "1"}};
  for (const auto& c : cases) {
    SettingData s;
    s.ppsDeviation[0] = uint8_t(c.raw >> 8);
    s.ppsDeviation[1] = uint8_t(c.raw);
    EXPECT_EQ(ppsDeviationText(s), c.text) << c.raw;
    EXPECT_EQ(ppsLockText(s), c.lock) << c.raw;
  }
}

TEST(DeviceText, PpsSetAngleHasTwoDecimals) {
  const struct {
    uint16_t raw;
    const char* text;
  } cases[] = {{0, "0.00"}, {5, "0.05"}, {9000, "90.00"}, {12345, "123.45"}, {65535, "655.35"}};
  for (const auto& c : cases) {
    SettingData s;
    s.ppsAngle[0] = uint8_t(c.raw >> 8);
    s.ppsAngle[1] = uint8_t(c.raw);
    EXPECT_EQ(ppsSetAngleText(s), c.text) << c.raw;
  }
}

TEST(DeviceText, TemperaturesFollowTheBoardVersion) {
  const struct {
    uint16_t raw;
    uint8_t v1196, v1197;
    const char* plate2;
    const char* stop;
  } cases[] = {
      {2048, 3, 0x05, "115.00", "115.00"},  // 3.0.x boards use the 330 scale
      {2048, 2, 0x05, "75.00", "115.00"},
      {2048, 3, 0x15, "75.00", "115.00"},  // minor 1: 250 scale
      {4096, 3, 0x0F, "280.00", "280.00"},
      {0, 2, 0x00, "-50.00", "0.00"},  // a stop temperature of 0 means none
      {1, 2, 0x00, "-49.94", "-49.92"},
  };
  for (const auto& c : cases) {
    SettingData s;
    s.temperature[0] = s.stopTemperature[0] = uint8_t(c.raw >> 8);
    s.temperature[1] = s.stopTemperature[1] = uint8_t(c.raw);
    s.fpga2Version[0] = c.v1196;
    s.fpga2Version[1] = c.v1197;
    EXPECT_EQ(plate2TemperatureText(s), c.plate2) << c.raw << " " << int(c.v1196);
    EXPECT_EQ(stopTemperatureText(s), c.stop) << c.raw;
  }
}

TEST(DeviceText, SelectorIndicesAndOutOfRangeCodes) {
  const QStringList lvds = {QString::fromUtf8(u8"0：LVDS锁定"),
                            QString::fromUtf8(u8"1：LVDS未锁定")};
  EXPECT_EQ(lvdsItems(), lvds);
  const struct {
    uint8_t b82, b83;
    int index;
  } lvdsCases[] = {{0, 0, 0}, {0, 1, 1}, {0, 2, 0}, {0xFF, 0xFE, 0}, {0, 0xFF, 1}};
  for (const auto& c : lvdsCases) {
    SettingData s;
    s.lvds[0] = c.b82;
    s.lvds[1] = c.b83;
    EXPECT_EQ(lvdsIndex(s), c.index) << int(c.b83);
    EXPECT_EQ(lvdsText(s), lvds.at(c.index));
  }

  const struct {
    int code;
    int index;
    const char* text;
  } cleanCases[] = {{0, 0, "Clean"},
                    {1, 1, "Mild pollution"},
                    {2, 2, "Serious pollution"},
                    {3, -1, ""},
                    {-1, -1, ""}};
  for (const auto& c : cleanCases) {
    std::vector<int> mac(kMacVectorSize, 0);
    mac[kMacCleanliness] = c.code;
    EXPECT_EQ(cleanlinessIndex(mac), c.index) << c.code;
    EXPECT_EQ(cleanlinessText(mac), c.text) << c.code;
  }
  EXPECT_EQ(cleanlinessIndex(std::vector<int>(19, 0)), -1);

  const struct {
    uint32_t code;
    int index;
    const char* text;
  } motorCases[] = {
      {0, 0, "Run"}, {1, 1, "Stop"}, {2, 2, "OutputRate"}, {3, -1, ""}, {0x10000, -1, ""}};
  for (const auto& c : motorCases) {
    SettingData s;
    s.motorState = c.code;
    EXPECT_EQ(motorStateIndex(s), c.index) << c.code;
    EXPECT_EQ(motorStateText(s), c.text) << c.code;
  }

  const struct {
    unsigned raw;
    int index;
    const char* text;
  } statusCases[] = {{0, 0, "Running"}, {1, 1, "Sleep"}, {2, 2, ""}, {0x0100, 256, ""}};
  for (const auto& c : statusCases) {
    Packet p = devicePacket();
    putU16(p, 44, c.raw);
    EXPECT_EQ(lidarStatusIndex(p.data()), c.index) << c.raw;
    EXPECT_EQ(lidarStatusText(p.data()), c.text) << c.raw;
  }
}

TEST(DeviceText, MacAddressIsLowercaseHexWithDashes) {
  EXPECT_EQ(macAddressText({0, 1, 0x0A, 0xAB, 0xF0, 0xFF}), "00-01-0a-ab-f0-ff");
  EXPECT_EQ(macAddressText({0, 1, 2, 3, 4}), "");
}

TEST(DeviceText, PositionKeepsElevenCharacters) {
  SettingData s;
  std::memcpy(s.latitude,
              "12\0"
              "4567890",
              10);  // a NUL inside stays a character
  s.latitudeSuffix = 'S';
  std::memcpy(s.longitude,
              "\xB0"
              "23456789W",
              10);  // Latin-1 degree sign
  s.longitudeSuffix = 'W';
  EXPECT_EQ(latitudeText(s), QString::fromLatin1("12\0"
                                                 "4567890S",
                                                 11));
  EXPECT_EQ(longitudeText(s).size(), 11);
  EXPECT_EQ(longitudeText(s).at(0), QChar(0xB0));
}

TEST(DeviceVersions, BoardVersionTexts) {
  const struct {
    uint8_t bytes[8];  // packet bytes 1196-1203
    const char* fpga2;
    const char* fpga3;
  } cases[] = {
      {{3, 0x25, 20, 21, 3, 11, 3, 0x07}, "V3.2.5", "2021.3.11-V.3.0.7"},
      {{0, 0x00, 0, 0, 0, 0, 0, 0x00}, "V0.0.0", "00.0.0-V.0.0.0"},
      {{255, 0xFF, 255, 255, 255, 255, 255, 0xFF}, "V255.15.15", "255255.255.255-V.255.15.15"},
  };
  for (const auto& c : cases) {
    SettingData s;
    std::memcpy(s.fpga2Version, c.bytes, 2);
    std::memcpy(s.fpga3Version, c.bytes + 2, 6);
    EXPECT_EQ(fpga2VersionText(s), c.fpga2);
    EXPECT_EQ(fpga3VersionText(s), c.fpga3);
  }
}

TEST(DeviceVersions, LidarIdKeepsAllTwentyCharactersWithNuls) {
  SettingData s;
  std::memcpy(s.lidarId, "ABC", 3);
  const QString id = lidarIdText(s);
  ASSERT_EQ(id.size(), 20);
  EXPECT_EQ(id.left(3), "ABC");
  for (int i = 3; i < 20; ++i) EXPECT_EQ(id.at(i), QChar(0)) << i;
  const QStringList versions = deviceVersions(s);
  ASSERT_EQ(versions.size(), kVersionCount);
  EXPECT_EQ(versions.at(kVersionLidarId), id);
}

// String-based connections look the argument types up by these names.
TEST(DeviceMetaTypes, RegisteredUnderTheSignalSignatureNames) {
  registerDeviceMetaTypes();
  for (const char* name : {"SettingData", "SettingData*", "std::vector<int>", "QList<int>"})
    EXPECT_NE(QMetaType::type(name), int(QMetaType::UnknownType)) << name;
  EXPECT_EQ(QMetaType::type("std::vector<int>"), qMetaTypeId<std::vector<int>>());
}

}  // namespace
}  // namespace tovik
