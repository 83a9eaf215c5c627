// The advanced configuration (ACWP) packet, the factory-default packet and the settings file of
// the advanced settings window. All three share the 1206-byte layout of the device information
// packet (multi-byte fields big-endian). Pure functions: no sockets, no files opened by name.
#pragma once

#include <QDateTime>
#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "device/setting_data.h"

class QIODevice;

namespace tovik {

using ConfigPacket = std::array<uint8_t, kDevicePacketSize>;

constexpr uint8_t kAcwpHeader[8] = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xBB, 0xBB};
constexpr uint8_t kFactoryDefaultHeader[8] = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xAA, 0xAA};
// Constant block at byte 160 of the advanced and vertical angle packets.
constexpr uint8_t kConfigBlock160[8] = {0x55, 0xAA, 0xAA, 0x55, 0x33, 0x33, 0x11, 0x11};
constexpr uint8_t kConfigTail[2] = {0x0F, 0xF0};  // bytes 1204-1205 of every configuration

// An Ethernet frame carrying one device information packet: Ethernet (14), IPv4 (20) and UDP (8)
// headers, then the 1206 payload bytes.
constexpr size_t kDeviceFrameSize = 1248;
constexpr size_t kFramePayloadOffset = 42;

inline void putU16BE(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v & 0xFF);
}

// The device's two-byte form of a signed value: a negative v is sent as v + 65535 (not 65536),
// so that decodeSigned16 reads it back unchanged. A value that does not fit (the result is 0
// or 65536 and more, or below 0) is sent as 0.
uint16_t encodeSigned16(int v);

// Date and time fields (6 bytes at p): year - 2000, month, day, hour, minute, second.
void putLocalTime(uint8_t* p, const QDateTime& local);

// The motor speed combo: index 0 " 5 HZ" (300 RPM), 1 " 10 HZ" (600), anything else 1200.
int rotateSpeedRpm(int comboIndex);
// The combo index a reported speed selects (250..350, 550..650, 1150..1250 RPM, bounds
// included), -1 for any other speed (the combo is left as it is).
int rotateSpeedIndex(uint32_t rpm);
// The motor state word: 0 for Run, 1 for Stop, 2 for any other recorded state.
uint16_t motorStateWord(uint32_t recordedState);

// Board-2 high voltage from the raw reading e16 (already signed-decoded): FPGA 2nd board 3.0.x
// (byte 1196 is 3, high nibble of 1197 is 0) uses (13180.2 - e16 x 3.25) / 40.5504, every other
// board (13394 - e16 x 2.5) / 52.56 - 3.27. Volts, single precision.
float board2HighVoltage(const SettingData& s, int e16);

// A decimal text in hundredths, rounded to the nearest hundredth ("150.5" gives 15050, "-0.01"
// gives -1, "0.29" gives 29). Empty or not a number: nullopt.
std::optional<int> parseHundredths(const QString& text);

// Bounds of the typed advanced fields in the units they travel in. The measuring range and both
// tail fields are unsigned two-byte values; the horizontal offset and the encoder zero are signed
// ones in the device's v + 65535 form, which reads back unchanged only from -32767 to 32767.
constexpr int kUnsignedFieldMax = 65535;
constexpr int kSignedFieldMax = 32767;

enum class FieldError { kNone, kEmpty, kNotANumber, kOutOfRange };
struct TypedField {
  FieldError error = FieldError::kNone;
  int value = 0;  // in the field's units; meaningful only without an error
  int min = 0;    // the bounds it was read against
  int max = 0;
};
// A decimal text (degrees, metres) in hundredths, rounded; refused outside [min, max].
TypedField readHundredthsField(const QString& text, int min, int max);
// A base-10 integer text; "3.5" is not a number here. Refused outside [min, max].
TypedField readIntegerField(const QString& text, int min, int max);
// The general number format with six significant digits used by the form ("150.5", "-0.01").
QString generalNumber(double v);

// What the operator set in the window, already scaled.
struct AcwpSettings {
  int rpm = 600;
  uint32_t recordedMotorState = 0;  // SettingData::motorState of the last status record
  int zeroDegreePosition = 0;       // 0 or 1
  int echoMode = 0;                 // 0 single, 1 dual
  int rangeX100 = 0;                // measuring range in metres x 100
  int tailThreshold = 0;
  int tailDistanceCm = 0;
  int horizontalOffsetX100 = 0;        // signed, hundredths of a degree
  std::optional<int> encoderZeroX100;  // signed; nullopt keeps the captured bytes
};

// A device information packet taken off the wire, with the addresses of its IPv4 and UDP
// headers.
struct CapturedDevicePacket {
  ConfigPacket payload{};
  std::array<uint8_t, 4> sourceIp{};
  std::array<uint8_t, 4> destIp{};
  uint16_t sourcePort = 0;
  uint16_t destPort = 0;
};

// True when frame (length bytes, Ethernet link layer) is a full device frame: exactly
// kDeviceFrameSize bytes. With requireDeviceHeader the payload must also begin A5 FF 00 5A.
// On true, *out (when given) receives payload and addresses.
bool parseDeviceFrame(const uint8_t* frame, size_t length, bool requireDeviceHeader,
                      CapturedDevicePacket* out);

QString dottedAddress(const std::array<uint8_t, 4>& ip);

// The ACWP packet: a copy of the captured payload with the fields the window controls
// overwritten; every other byte travels back to the device unchanged.
ConfigPacket buildAcwpPacket(const CapturedDevicePacket& captured, const AcwpSettings& settings,
                             const QDateTime& local);

// The factory-default packet: header, 300 RPM, 192.168.1.200 -> 192.168.1.102, ports 2368 and
// 2369, the local date and time, the tail; every other byte 0.
ConfigPacket buildFactoryDefaultPacket(const QDateTime& local);

// The settings file: each of the 1206 payload bytes as two lowercase hexadecimal digits and one
// blank, no line breaks (3618 characters).
constexpr int kSettingsFileLength = int(kDevicePacketSize) * 3;
QByteArray settingsFileText(const uint8_t* payload);
// Writes the settings file to an open device; false when the device took fewer bytes.
bool writeSettingsFile(QIODevice* device, const uint8_t* payload);

}  // namespace tovik
