#include "device/setting_data.h"

#include <cstring>

void registerDeviceMetaTypes() {
  qRegisterMetaType<SettingData>("SettingData");
  qRegisterMetaType<SettingData*>("SettingData*");
  qRegisterMetaType<std::vector<int>>("std::vector<int>");
  qRegisterMetaType<QList<int>>("QList<int>");
}

namespace tovik {

namespace {

// Packet offsets of the Mac values, by index; width 1 or 2 bytes.
struct MacSource {
  int offset;
  int width;
};
constexpr MacSource kMacSources[kMacVectorSize] = {
    {18, 1},  {19, 1},  {20, 1},  {21, 1},  {22, 1},  {23, 1},  {50, 2},
    {24, 2},  {26, 2},  {178, 2}, {180, 2}, {182, 2}, {184, 1}, {185, 1},
    {186, 2}, {194, 2}, {99, 2},  {101, 2}, {103, 1}, {104, 1}, {1194, 2},
};

constexpr int kVerticalAngleOffset = 245;

template <size_t N, typename T>
void copyBytes(T (&dst)[N], const uint8_t* p, size_t offset) {
  static_assert(sizeof(T) == 1, "byte fields only");
  std::memcpy(dst, p + offset, N);
}

}  // namespace

bool isDevicePacket(const uint8_t* p) {
  return std::memcmp(p, kDeviceHeader, sizeof kDeviceHeader) == 0;
}

void appendMacValues(const uint8_t* p, std::vector<int>* out) {
  for (const MacSource& m : kMacSources)
    out->push_back(m.width == 2 ? int(readU16BE(p + m.offset)) : int(p[m.offset]));
}

std::vector<int> buildMacVector(const uint8_t* p) {
  std::vector<int> mac;
  mac.reserve(kMacVectorSize);
  appendMacValues(p, &mac);
  return mac;
}

AngleTable decodeVerticalAngles(const uint8_t* p) {
  AngleTable angles{};
  for (int c = 0; c < 16; ++c) {
    const int v = decodeSigned16(readU16BE(p + kVerticalAngleOffset + 2 * c));
    angles[c] = float(v / 100.0);
  }
  return angles;
}

SettingData decodeSettingData(const uint8_t* p) {
  SettingData s;
  copyBytes(s.destIp, p, 14);
  std::memcpy(&s.dataPortRaw, p + 24, sizeof s.dataPortRaw);
  s.motorSpeed = readU16BE(p + 8);
  s.motorState = readU16BE(p + 40);
  copyBytes(s.gpsTime, p, 52);
  s.packetInterval = readU16BE(p + 42);
  copyBytes(s.ppsAngle, p, 48);
  copyBytes(s.ppsDeviation, p, 50);
  copyBytes(s.latitude, p, 58);
  s.latitudeSuffix = char(p[78]);
  copyBytes(s.longitude, p, 68);
  s.longitudeSuffix = char(p[79]);
  copyBytes(s.temperature, p, 80);
  copyBytes(s.lvds, p, 82);
  s.raw168 = p[168];
  s.raw169 = p[169];
  copyBytes(s.raw170, p, 170);
  copyBytes(s.raw174, p, 174);
  copyBytes(s.fpga2Version, p, 1196);
  copyBytes(s.fpga3Version, p, 1198);
  copyBytes(s.verticalAngles, p, kVerticalAngleOffset);
  s.gpsState = p[84];
  s.ppsState = p[85];
  s.highTempPause = p[86];
  copyBytes(s.stopTemperature, p, 87);
  copyBytes(s.voltage, p, 89);
  copyBytes(s.lidarId, p, 1164);
  copyBytes(s.boardVersions, p, 1184);
  return s;
}

DevicePacketContents decodeDevicePacket(const uint8_t* p) {
  DevicePacketContents c;
  c.mac = buildMacVector(p);
  c.verticalAngles = decodeVerticalAngles(p);
  c.record = decodeSettingData(p);
  return c;
}

bool acceptDevicePacket(const uint8_t* p, SettingData* record, std::vector<int>* mac) {
  if (!isDevicePacket(p)) return false;
  appendMacValues(p, mac);
  setDeviceVerticalAngles(decodeVerticalAngles(p));
  *record = decodeSettingData(p);
  return true;
}

uint32_t displayedMotorSpeed(const SettingData& s) {
  return s.motorSpeed <= 100 ? 0 : s.motorSpeed;
}

double ppsSetAngleDegrees(const SettingData& s) { return readU16BE(s.ppsAngle) / 100.0; }

double ppsDeviationDegrees(const SettingData& s) {
  return decodeSigned16(readU16BE(s.ppsDeviation)) / 100.0;
}

bool ppsLocked(const SettingData& s) {
  const double d = ppsDeviationDegrees(s);
  return d >= -15.0 && d <= 15.0;
}

double plate2TemperatureCelsius(const SettingData& s) {
  const double t = readU16BE(s.temperature);
  const bool scale330 = s.fpga2Version[0] == 3 && (s.fpga2Version[1] >> 4) == 0;
  return t / 4096.0 * (scale330 ? 330.0 : 250.0) - 50.0;
}

double stopTemperatureCelsius(const SettingData& s) {
  const double raw = readU16BE(s.stopTemperature);
  return raw == 0 ? 0.0 : raw / 4096.0 * 330.0 - 50.0;
}

bool lvdsUnlocked(const SettingData& s) { return (s.lvds[1] & 1) != 0; }

}  // namespace tovik
