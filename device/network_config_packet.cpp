#include "device/network_config_packet.h"

#include <QStringList>
#include <cstring>
#include <utility>

#include "device/setting_data.h"

namespace tovik {

namespace {

void putBe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v & 0xFF);
}

// Value of an ASCII digit 0-9, a-f or A-F; -1 for any other character.
int digitValue(QChar c) {
  const ushort u = c.unicode();
  if (u >= '0' && u <= '9') return u - '0';
  if (u >= 'a' && u <= 'f') return u - 'a' + 10;
  if (u >= 'A' && u <= 'F') return u - 'A' + 10;
  return -1;
}

// atoi: optional blanks and sign, then leading decimal digits; 0 when there are none.
long leadingNumber(const QString& text, int base) {
  int i = 0;
  const int n = text.size();
  while (i < n && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t'))) ++i;
  bool negative = false;
  if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
    negative = text[i] == QLatin1Char('-');
    ++i;
  }
  long value = 0;
  for (; i < n; ++i) {
    const int digit = digitValue(text[i]);
    if (digit < 0 || digit >= base) break;
    value = (value * base + digit) & 0xFFFFFF;  // only the low bits are ever stored
  }
  return negative ? -value : value;
}

bool startsWithDigit(const QString& piece) {
  int i = 0;
  while (i < piece.size() && piece[i] == QLatin1Char(' ')) ++i;
  if (i < piece.size() && (piece[i] == QLatin1Char('-') || piece[i] == QLatin1Char('+'))) ++i;
  return i < piece.size() && digitValue(piece[i]) >= 0 && digitValue(piece[i]) < 10;
}

// The text as the device would hold it in 16 bits; a text that is not a number reads 0.
uint16_t fieldValue16(const QString& text) {
  bool ok = false;
  const int v = text.trimmed().toInt(&ok);
  return ok ? uint16_t(v) : 0;
}

}  // namespace

bool encodeIpv4Field(const QString& text, uint8_t out[4]) {
  const QStringList pieces = (text + QLatin1Char('.')).split(QLatin1Char('.'));
  if (pieces.size() < 5) return false;  // four pieces plus the one after the appended "."
  for (int i = 0; i < 4; ++i)
    if (!startsWithDigit(pieces[i])) return false;
  for (int i = 0; i < 4; ++i) out[i] = uint8_t(leadingNumber(pieces[i], 10) & 0xFF);
  return true;
}

bool isDottedIpv4Text(const QString& text) {
  const QStringList pieces = text.split(QLatin1Char('.'));
  if (pieces.size() != 4) return false;
  for (const QString& piece : pieces) {
    if (piece.isEmpty() || piece.size() > 3) return false;
    for (QChar c : piece)
      if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    if (piece.toInt() > 255) return false;
  }
  return true;
}

ConfigField firstRefusedField(const NetworkConfigFields& f) {
  const std::pair<const QString*, ConfigField> addresses[] = {{&f.lidarIp, ConfigField::kLidarIp},
                                                              {&f.destIp, ConfigField::kDestIp},
                                                              {&f.ntpIp, ConfigField::kNtpIp}};
  for (const auto& [text, field] : addresses)
    if (!text->isEmpty() && !isDottedIpv4Text(*text)) return field;
  const std::pair<const QString*, ConfigField> ports[] = {
      {&f.dataPort, ConfigField::kDataPort}, {&f.devicePort, ConfigField::kDevicePort}};
  for (const auto& [text, field] : ports) {
    if (text->isEmpty()) continue;
    bool ok = false;
    const int v = text->trimmed().toInt(&ok, 10);
    if (!ok || v <= 1024 || v > 65535) return field;
  }
  return ConfigField::kNone;
}

bool encodeMacField(const QString& text, uint8_t out[6]) {
  if (text.size() != 17) {
    std::memcpy(out, kFallbackMac, sizeof kFallbackMac);
    return false;
  }
  for (int i = 0; i < 6; ++i) out[i] = uint8_t(leadingNumber(text.mid(3 * i, 2), 16) & 0xFF);
  return true;
}

bool portFieldValue(const QString& text, uint16_t* value) {
  bool ok = false;
  const int v = text.trimmed().toInt(&ok);
  if (!ok || v <= 1024 || v >= 65536) return false;
  *value = uint16_t(v);
  return true;
}

uint16_t rotateSpeedRpm(const QString& comboText) {
  if (comboText == QLatin1String(" 5 HZ")) return kRpm5Hz;
  if (comboText == QLatin1String(" 10 HZ")) return kRpm10Hz;
  return kRpm20Hz;
}

uint16_t motorStateCode(const QString& comboText) {
  if (comboText == QLatin1String("Stop")) return 1;
  if (comboText == QLatin1String("OutputRate")) return 2;
  return 0;
}

bool substituteBroadcastLidarIp(uint8_t* devicePacket) {
  static constexpr uint8_t kBroadcast[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  if (std::memcmp(devicePacket + 10, kBroadcast, 4) != 0) return false;
  std::memcpy(devicePacket + 10, kBroadcastLidarReplacement, 4);
  return true;
}

QString ipv4Text(const uint8_t* ip) {
  return QStringLiteral("%1.%2.%3.%4").arg(ip[0]).arg(ip[1]).arg(ip[2]).arg(ip[3]);
}

QString lidarAddressText(const uint8_t* devicePacket) { return ipv4Text(devicePacket + 10); }

ConfigField buildNetworkConfigPacket(uint8_t* devicePacket, const NetworkConfigFields& f,
                                     uint8_t* out) {
  // Refuse before anything changes, the device packet included.
  uint8_t lidarIp[4], destIp[4], ntpIp[4] = {0, 0, 0, 0};
  if (!f.lidarIp.isEmpty() && !encodeIpv4Field(f.lidarIp, lidarIp)) return ConfigField::kLidarIp;
  if (!f.destIp.isEmpty() && !encodeIpv4Field(f.destIp, destIp)) return ConfigField::kDestIp;
  if (!f.ntpIp.isEmpty() && !encodeIpv4Field(f.ntpIp, ntpIp)) return ConfigField::kNtpIp;

  std::memcpy(out, devicePacket, kDevicePacketSize);
  std::memcpy(out, kNetworkConfigHeader, sizeof kNetworkConfigHeader);
  putBe16(out + 8, rotateSpeedRpm(f.rotateSpeed));

  substituteBroadcastLidarIp(devicePacket);
  std::memcpy(out + 10, f.lidarIp.isEmpty() ? devicePacket + 10 : lidarIp, 4);
  if (!f.destIp.isEmpty()) std::memcpy(out + 14, destIp, 4);
  encodeMacField(f.mac, out + 18);

  uint16_t port = 0;
  if (!f.dataPort.isEmpty() && portFieldValue(f.dataPort, &port)) putBe16(out + 24, port);
  if (!f.devicePort.isEmpty() && portFieldValue(f.devicePort, &port)) putBe16(out + 26, port);
  std::memcpy(out + 28, ntpIp, 4);

  putBe16(out + 40, motorStateCode(f.motorState));
  putBe16(out + 42, f.interval.isEmpty() ? 0 : fieldValue16(f.interval));
  if (f.lidarStatusIndex == 0 || f.lidarStatusIndex == 1)
    putBe16(out + 44, uint16_t(f.lidarStatusIndex));
  // Degrees to hundredths, kept to 16 bits as the device field holds them.
  if (!f.ppsAngle.isEmpty()) putBe16(out + 48, uint16_t(fieldValue16(f.ppsAngle) * 100u));

  if (f.sendLocalTime && f.localTime.isValid()) {
    const QDate d = f.localTime.date();
    const QTime t = f.localTime.time();
    out[52] = uint8_t(d.year() - 2000);
    out[53] = uint8_t(d.month());
    out[54] = uint8_t(d.day());
    out[55] = uint8_t(t.hour());
    out[56] = uint8_t(t.minute());
    out[57] = uint8_t(t.second());
  } else {
    std::memset(out + 52, 0, 6);
  }
  out[1204] = 0x0F;
  out[1205] = 0xF0;
  return ConfigField::kNone;
}

}  // namespace tovik
