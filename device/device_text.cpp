#include "device/device_text.h"

namespace tovik {

namespace {

QString twoDecimals(double v) { return QString::number(v, 'f', 2); }

// Latin-1 keeps every byte as one character, so a field always has its full length.
QString latin1(const char* p, int n) { return QString::fromLatin1(p, n); }

}  // namespace

QString motorSpeedText(const SettingData& s) { return QString::number(displayedMotorSpeed(s)); }

QString gpsTimeText(const SettingData& s) {
  const uint8_t* t = s.gpsTime;
  return QStringLiteral("%1/%2/%3 %4:%5:%6")
      .arg(2000 + t[0])
      .arg(t[1])
      .arg(t[2])
      .arg(t[3])
      .arg(t[4])
      .arg(t[5]);
}

QString ppsSetAngleText(const SettingData& s) { return twoDecimals(ppsSetAngleDegrees(s)); }

QString ppsDeviationText(const SettingData& s) {
  return QString::number(ppsDeviationDegrees(s), 'g', 6);
}

QString ppsLockText(const SettingData& s) {
  return ppsLocked(s) ? QStringLiteral("0") : QStringLiteral("1");
}

QString latitudeText(const SettingData& s) {
  return latin1(s.latitude, sizeof s.latitude) + latin1(&s.latitudeSuffix, 1);
}

QString longitudeText(const SettingData& s) {
  return latin1(s.longitude, sizeof s.longitude) + latin1(&s.longitudeSuffix, 1);
}

QString macAddressText(const std::vector<int>& mac) {
  if (mac.size() < 6) return QString();
  QStringList parts;
  for (int i = 0; i < 6; ++i) parts << QStringLiteral("%1").arg(mac[i] & 0xFF, 2, 16, QChar('0'));
  return parts.join(QLatin1Char('-'));
}

QString plate2TemperatureText(const SettingData& s) {
  return twoDecimals(plate2TemperatureCelsius(s));
}

QString stopTemperatureText(const SettingData& s) { return twoDecimals(stopTemperatureCelsius(s)); }

QString plate3VoltageText(const SettingData& s) {
  QString text;
  for (uint8_t v : s.voltage) text += QString::number(v);
  return text;
}

QString gpsStateText(const SettingData& s) { return QString::number(s.gpsState); }
QString ppsStateText(const SettingData& s) { return QString::number(s.ppsState); }
QString highTempPauseText(const SettingData& s) { return QString::number(s.highTempPause); }

QStringList lvdsItems() {
  // Entry 0 "LVDS locked", entry 1 "LVDS not locked"; the colon is the full-width one.
  return {QStringLiteral("0：LVDS锁定"), QStringLiteral("1：LVDS未锁定")};
}

int lvdsIndex(const SettingData& s) { return lvdsUnlocked(s) ? 1 : 0; }

QString lvdsText(const SettingData& s) { return lvdsItems().at(lvdsIndex(s)); }

QStringList cleanlinessItems() {
  return {QStringLiteral("Clean"), QStringLiteral("Mild pollution"),
          QStringLiteral("Serious pollution")};
}

int cleanlinessIndex(const std::vector<int>& mac) {
  if (mac.size() <= size_t(kMacCleanliness)) return -1;
  const int v = mac[kMacCleanliness];
  return v >= 0 && v <= 2 ? v : -1;
}

QString cleanlinessText(const std::vector<int>& mac) {
  const int i = cleanlinessIndex(mac);
  return i < 0 ? QString() : cleanlinessItems().at(i);
}

QStringList lidarStatusItems() { return {QStringLiteral("Running"), QStringLiteral("Sleep")}; }

int lidarStatusIndex(const uint8_t* packet) { return readU16BE(packet + 44); }

QString lidarStatusText(const uint8_t* packet) {
  const int i = lidarStatusIndex(packet);
  return i <= 1 ? lidarStatusItems().at(i) : QString();
}

QStringList motorStateItems() {
  return {QStringLiteral("Run"), QStringLiteral("Stop"), QStringLiteral("OutputRate")};
}

int motorStateIndex(const SettingData& s) { return s.motorState <= 2 ? int(s.motorState) : -1; }

QString motorStateText(const SettingData& s) {
  const int i = motorStateIndex(s);
  return i < 0 ? QString() : motorStateItems().at(i);
}

QString fpga2VersionText(const SettingData& s) {
  const uint8_t* v = s.fpga2Version;
  return QStringLiteral("V%1.%2.%3").arg(v[0]).arg(v[1] >> 4).arg(v[1] & 15);
}

QString fpga3VersionText(const SettingData& s) {
  const uint8_t* v = s.fpga3Version;
  return QStringLiteral("%1%2.%3.%4-V.%5.%6.%7")
      .arg(v[0])
      .arg(v[1])
      .arg(v[2])
      .arg(v[3])
      .arg(v[4])
      .arg(v[5] >> 4)
      .arg(v[5] & 15);
}

QString lidarIdText(const SettingData& s) {
  return latin1(reinterpret_cast<const char*>(s.lidarId), sizeof s.lidarId);
}

QString boardVersionText(const SettingData& s, int board) {
  if (board < 0 || board > 4) return QString();
  return QStringLiteral("V%1.%2")
      .arg(s.boardVersions[2 * board])
      .arg(s.boardVersions[2 * board + 1]);
}

QStringList deviceVersions(const SettingData& s) {
  QStringList list;
  list << fpga2VersionText(s) << fpga3VersionText(s) << lidarIdText(s);
  for (int board = 0; board < 5; ++board) list << boardVersionText(s, board);
  return list;
}

}  // namespace tovik
