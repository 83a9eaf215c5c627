#include "dialogs/acwp_packet.h"

#include <QIODevice>
#include <QRegularExpression>
#include <cmath>
#include <cstring>

namespace tovik {

uint16_t encodeSigned16(int v) {
  const long r = v < 0 ? long(v) + 65535 : long(v);
  if (r <= 0 || r >= 65536) return 0;
  return uint16_t(r);
}

void putLocalTime(uint8_t* p, const QDateTime& local) {
  const QDate d = local.date();
  const QTime t = local.time();
  p[0] = uint8_t(d.year() - 2000);
  p[1] = uint8_t(d.month());
  p[2] = uint8_t(d.day());
  p[3] = uint8_t(t.hour());
  p[4] = uint8_t(t.minute());
  p[5] = uint8_t(t.second());
}

int rotateSpeedRpm(int comboIndex) {
  switch (comboIndex) {
    case 0:
      return 300;
    case 1:
      return 600;
    default:
      return 1200;
  }
}

int rotateSpeedIndex(uint32_t rpm) {
  if (rpm >= 250 && rpm <= 350) return 0;
  if (rpm >= 550 && rpm <= 650) return 1;
  if (rpm >= 1150 && rpm <= 1250) return 2;
  return -1;
}

uint16_t motorStateWord(uint32_t recordedState) { return recordedState <= 1 ? recordedState : 2; }

float board2HighVoltage(const SettingData& s, int e16) {
  const bool board30 = s.fpga2Version[0] == 3 && (s.fpga2Version[1] >> 4) == 0;
  const double hv = board30 ? (13180.2 - e16 * 3.25) / 40.5504 : (13394 - e16 * 2.5) / 52.56 - 3.27;
  return float(hv);
}

std::optional<int> parseHundredths(const QString& text) {
  bool ok = false;
  const double v = text.trimmed().toDouble(&ok);
  // Beyond this the value cannot be sent anyway; keeps the conversion to int defined.
  if (!ok || !std::isfinite(v) || std::fabs(v) > 1e7) return std::nullopt;
  // Rounded, not truncated. Truncating value x 100 would change what was typed: in double
  // precision 0.29 gives 28, in single precision 0.53 gives 52 and -16.47 gives -1646.
  return int(std::lround(v * 100.0));
}

TypedField readHundredthsField(const QString& text, int min, int max) {
  TypedField f{FieldError::kNone, 0, min, max};
  const QString t = text.trimmed();
  bool ok = false;
  const double v = t.toDouble(&ok);
  if (t.isEmpty())
    f.error = FieldError::kEmpty;
  else if (!ok || !std::isfinite(v))
    f.error = FieldError::kNotANumber;
  else if (const std::optional<int> h = parseHundredths(t); !h || *h < min || *h > max)
    f.error = FieldError::kOutOfRange;
  else
    f.value = *h;
  return f;
}

TypedField readIntegerField(const QString& text, int min, int max) {
  TypedField f{FieldError::kNone, 0, min, max};
  const QString t = text.trimmed();
  bool ok = false;
  const qlonglong v = t.toLongLong(&ok, 10);
  // Digits beyond what a 64-bit number holds are still a number, just far too large.
  static const QRegularExpression digits(QStringLiteral("^[+-]?[0-9]+$"));
  if (t.isEmpty())
    f.error = FieldError::kEmpty;
  else if (!ok)
    f.error = digits.match(t).hasMatch() ? FieldError::kOutOfRange : FieldError::kNotANumber;
  else if (v < min || v > max)
    f.error = FieldError::kOutOfRange;
  else
    f.value = int(v);
  return f;
}

QString generalNumber(double v) { return QString::number(v, 'g', 6); }

bool parseDeviceFrame(const uint8_t* frame, size_t length, bool requireDeviceHeader,
                      CapturedDevicePacket* out) {
  if (frame == nullptr || length != kDeviceFrameSize) return false;
  const uint8_t* payload = frame + kFramePayloadOffset;
  if (requireDeviceHeader && std::memcmp(payload, kDeviceHeader, 4) != 0) return false;
  if (out != nullptr) {
    std::memcpy(out->payload.data(), payload, kDevicePacketSize);
    std::memcpy(out->sourceIp.data(), frame + 26, 4);
    std::memcpy(out->destIp.data(), frame + 30, 4);
    out->sourcePort = readU16BE(frame + 34);
    out->destPort = readU16BE(frame + 36);
  }
  return true;
}

QString dottedAddress(const std::array<uint8_t, 4>& ip) {
  return QStringLiteral("%1.%2.%3.%4").arg(ip[0]).arg(ip[1]).arg(ip[2]).arg(ip[3]);
}

ConfigPacket buildAcwpPacket(const CapturedDevicePacket& captured, const AcwpSettings& settings,
                             const QDateTime& local) {
  ConfigPacket p = captured.payload;
  std::memcpy(p.data(), kAcwpHeader, sizeof kAcwpHeader);
  putU16BE(p.data() + 8, encodeSigned16(settings.rpm));
  std::memcpy(p.data() + 10, captured.sourceIp.data(), 4);
  std::memcpy(p.data() + 14, captured.destIp.data(), 4);
  putU16BE(p.data() + 40, motorStateWord(settings.recordedMotorState));
  putLocalTime(p.data() + 52, local);
  std::memcpy(p.data() + 160, kConfigBlock160, sizeof kConfigBlock160);
  p[184] = uint8_t(settings.zeroDegreePosition);
  p[185] = uint8_t(settings.echoMode);
  putU16BE(p.data() + 186, encodeSigned16(settings.horizontalOffsetX100));
  putU16BE(p.data() + 178, encodeSigned16(settings.rangeX100));
  putU16BE(p.data() + 180, encodeSigned16(settings.tailThreshold));
  putU16BE(p.data() + 182, encodeSigned16(settings.tailDistanceCm));
  if (settings.encoderZeroX100) putU16BE(p.data() + 194, encodeSigned16(*settings.encoderZeroX100));
  std::memcpy(p.data() + 1204, kConfigTail, sizeof kConfigTail);
  return p;
}

ConfigPacket buildFactoryDefaultPacket(const QDateTime& local) {
  ConfigPacket p{};
  std::memcpy(p.data(), kFactoryDefaultHeader, sizeof kFactoryDefaultHeader);
  putU16BE(p.data() + 8, 300);
  static const uint8_t kAddresses[8] = {192, 168, 1, 200, 192, 168, 1, 102};
  std::memcpy(p.data() + 10, kAddresses, sizeof kAddresses);
  putU16BE(p.data() + 24, 2368);
  putU16BE(p.data() + 26, 2369);
  putLocalTime(p.data() + 52, local);
  std::memcpy(p.data() + 1204, kConfigTail, sizeof kConfigTail);
  return p;
}

QByteArray settingsFileText(const uint8_t* payload) {
  static const char kHex[] = "0123456789abcdef";
  QByteArray text(kSettingsFileLength, ' ');
  for (size_t i = 0; i < kDevicePacketSize; ++i) {
    text[int(3 * i)] = kHex[payload[i] >> 4];
    text[int(3 * i + 1)] = kHex[payload[i] & 15];
  }
  return text;
}

bool writeSettingsFile(QIODevice* device, const uint8_t* payload) {
  if (device == nullptr || !device->isWritable()) return false;
  const QByteArray text = settingsFileText(payload);
  return device->write(text) == text.size();
}

}  // namespace tovik
