// The device information packet: a 1206-byte UDP datagram the lidar sends periodically on its
// telemetry port. Multi-byte fields are big-endian. This header holds the record SettingData
// decoded from it, the 21-element Mac vector sent beside the record, and the decoding rules.
#pragma once

#include <QList>
#include <QMetaType>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "acquisition/geometry.h"
#include "acquisition/point_packet.h"

// The fields of a device information packet the GUI needs, as a plain record that consumers copy
// whole. Multi-byte arrays keep the packet's byte order (most significant byte first);
// motorSpeed, motorState and packetInterval hold the packet's 16-bit values.
struct SettingData {
  uint8_t destIp[4] = {};        // bytes 14-17, first octet first
  uint16_t dataPortRaw = 0;      // bytes 24-25 copied as they stand (network order in memory)
  uint32_t motorSpeed = 0;       // bytes 8-9, revolutions per minute
  uint32_t motorState = 0;       // bytes 40-41: 0 Run, 1 Stop, 2 OutputRate
  uint8_t gpsTime[6] = {};       // bytes 52-57: year - 2000, month, day, hour, minute, second
  uint32_t packetInterval = 0;   // bytes 42-43
  uint8_t ppsAngle[2] = {};      // bytes 48-49, hundredths of a degree
  uint8_t ppsDeviation[2] = {};  // bytes 50-51, hundredths of a degree, signed 16-bit
  char latitude[10] = {};        // bytes 58-67, ASCII
  char latitudeSuffix = 0;       // byte 78
  char longitude[10] = {};       // bytes 68-77, ASCII
  char longitudeSuffix = 0;      // byte 79
  uint8_t temperature[2] = {};   // bytes 80-81, plate-2 temperature raw value
  uint8_t lvds[2] = {};          // bytes 82-83; bit 0 of lvds[1]: 0 locked, 1 not locked
  uint8_t raw168 = 0;
  uint8_t raw169 = 0;
  uint8_t raw170[4] = {};
  uint8_t raw174[4] = {};
  uint8_t fpga2Version[2] = {};     // bytes 1196-1197: major; minor (high nibble), patch (low)
  uint8_t fpga3Version[6] = {};     // bytes 1198-1203: four leading numbers, major, minor|patch
  uint8_t verticalAngles[32] = {};  // bytes 245-276, 16 signed big-endian pairs, 0.01 degree
  uint8_t gpsState = 0;             // byte 84
  uint8_t ppsState = 0;             // byte 85
  uint8_t highTempPause = 0;        // byte 86
  uint8_t stopTemperature[2] = {};  // bytes 87-88, machine-stop temperature raw value, 0: none
  uint8_t voltage[10] = {};         // bytes 89-98, plate-3 voltage, one decimal value per byte
  uint8_t lidarId[20] = {};         // bytes 1164-1183, Latin-1 text
  uint8_t boardVersions[10] = {};   // bytes 1184-1193, five (major, minor) pairs
};

// Signals carry the record by pointer and the Mac vector by value through queued connections.
Q_DECLARE_METATYPE(SettingData)
Q_DECLARE_METATYPE(SettingData*)
Q_DECLARE_METATYPE(std::vector<int>)

// Registers SettingData, SettingData*, std::vector<int> and QList<int> for queued connections
// (Qt queues any other pointer argument, such as const u_char*, as a plain address). Safe to
// call more than once.
void registerDeviceMetaTypes();

namespace tovik {

constexpr size_t kDevicePacketSize = kPacketSize;
constexpr uint8_t kDeviceHeader[8] = {0xA5, 0xFF, 0x00, 0x5A, 0x11, 0x11, 0x55, 0x55};
constexpr int kMacVectorSize = 21;

// Positions in the Mac vector of the values other code reads by index.
enum MacIndex : int {
  kMacAddress0 = 0,  // 0-5: the MAC address bytes, first byte first
  kMacPpsDeviationRaw = 6,
  kMacDataPort = 7,
  kMacDevicePort = 8,
  kMacRange = 9,  // measuring range x 100
  kMacTailThreshold = 10,
  kMacTailDistance = 11,      // cm
  kMacZeroPosition = 12,      // 0 or 1
  kMacEchoMode = 13,          // 0 single, 1 dual
  kMacHorizontalOffset = 14,  // 0.01 degree, signed 16-bit
  kMacEncoderZero = 15,       // 0.01 degree, signed 16-bit
  kMacBoard2HighVoltage = 16,
  kMacBoard2HighVoltageAdjust = 17,
  kMacBoard2Threshold = 18,
  kMacCleanliness = 19,   // 0 Clean, 1 Mild pollution, 2 Serious pollution
  kMacAngleSpacing = 20,  // 0.01 degree: 133 selects the 1.33 degree table
};

inline uint16_t readU16BE(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

// The device encodes a negative value v as v + 65535 (not 65536), so a raw value above 32767
// means raw - 65535. Raw 65535 therefore reads 0 and raw 32768 reads -32767.
inline int decodeSigned16(uint16_t raw) { return raw > 32767 ? int(raw) - 65535 : int(raw); }

// A datagram is a device information packet exactly when its first eight bytes are the header;
// no other field and no length is checked. p must hold at least eight bytes.
bool isDevicePacket(const uint8_t* p);

// In the functions below p points to a full kDevicePacketSize buffer.

// The 21 Mac values in index order (see MacIndex); appendMacValues appends them to *out.
std::vector<int> buildMacVector(const uint8_t* p);
void appendMacValues(const uint8_t* p, std::vector<int>* out);

// Channel c's vertical angle in degrees: the signed pair at 245 + 2c divided by 100.
AngleTable decodeVerticalAngles(const uint8_t* p);

SettingData decodeSettingData(const uint8_t* p);

// Everything one device information packet yields.
struct DevicePacketContents {
  std::vector<int> mac;
  AngleTable verticalAngles{};
  SettingData record;
};

// Decodes in the device's order: the Mac vector, the vertical angles, the record. Pure.
DevicePacketContents decodeDevicePacket(const uint8_t* p);

// The receive step for one datagram: when p passes the header test, appends the Mac values to
// *mac, overwrites the process-wide deviceVerticalAngles and fills *record, in that order, and
// returns true. Otherwise changes nothing and returns false.
bool acceptDevicePacket(const uint8_t* p, SettingData* record, std::vector<int>* mac);

// Numeric readings of the record; device_text.h turns them into the texts the dialogs show.
// Motor speed as shown: 100 RPM or less reads 0 (the motor is not turning).
uint32_t displayedMotorSpeed(const SettingData& s);
double ppsSetAngleDegrees(const SettingData& s);
double ppsDeviationDegrees(const SettingData& s);
// The PPS is locked when the deviation lies within +-15 degrees.
bool ppsLocked(const SettingData& s);
// Degrees Celsius from the raw value t: t / 4096 x 330 - 50 when the FPGA 2nd board version is
// 3.0.x (byte 1196 is 3, high nibble of byte 1197 is 0), else t / 4096 x 250 - 50.
double plate2TemperatureCelsius(const SettingData& s);
// Degrees Celsius; a raw value of 0 means none and reads 0.
double stopTemperatureCelsius(const SettingData& s);
// true when the LVDS link is not locked (bit 0 of packet byte 83).
bool lvdsUnlocked(const SettingData& s);

}  // namespace tovik
