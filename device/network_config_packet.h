// The network configuration datagram: a copy of the last device information packet with a new
// header and the fields the network settings window edits written over it, so every byte the
// window does not edit goes back to the lidar unchanged. Multi-byte fields are big-endian. The
// datagram is sent once to UDP port kNetworkConfigPort at the lidar's reported address.
#pragma once

#include <QDateTime>
#include <QString>
#include <cstdint>

namespace tovik {

constexpr uint16_t kNetworkConfigPort = 2368;
constexpr uint8_t kNetworkConfigHeader[8] = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xAA, 0xAA};
// Sent when the MAC field is not exactly 17 characters long.
constexpr uint8_t kFallbackMac[6] = {0x60, 0x76, 0x88, 0x00, 0x00, 0x00};
// A device that reports the lidar IP 255.255.255.255 is addressed as 192.168.1.200.
constexpr uint8_t kBroadcastLidarReplacement[4] = {0xC0, 0xA8, 0x01, 0xC8};

// Motor speeds in RPM for the speed selector's entries.
constexpr uint16_t kRpm5Hz = 300;
constexpr uint16_t kRpm10Hz = 600;
constexpr uint16_t kRpm20Hz = 1200;

// The texts and selections of the network settings window that go into the datagram.
struct NetworkConfigFields {
  QString lidarIp;           // empty: keep the device's address
  QString destIp;            // empty: keep the device's address
  QString mac;               // 17 characters "xx-xx-xx-xx-xx-xx", else the fallback MAC
  QString dataPort;          // taken when 1024 < value < 65536
  QString devicePort;        // same rule
  QString ntpIp;             // empty: 0.0.0.0
  QString interval;          // empty: 0
  QString ppsAngle;          // degrees; empty: keep the device's angle
  QString rotateSpeed;       // the speed selector's text: " 5 HZ", " 10 HZ", anything else 20 Hz
  QString motorState;        // "Run", "Stop" or "OutputRate"; anything else is Run
  int lidarStatusIndex = 0;  // 0 Running, 1 Sleep; any other index keeps the device's bytes
  bool sendLocalTime = false;
  QDateTime localTime;  // the host's local time, used when sendLocalTime is set
};

// Which field refused to encode; kNone when the datagram was built.
enum class ConfigField { kNone, kLidarIp, kDestIp, kNtpIp, kDataPort, kDevicePort };

// Four decimal numbers from 0 to 255 joined by dots ("192.168.1.200"), nothing else.
bool isDottedIpv4Text(const QString& text);
// The first typed field the window must refuse before building: an address field that is not
// empty and not a dotted IPv4 address, or a port field that is not empty and not a number from
// 1025 to 65535 (the device keeps its own port for 1024 and below, so such a value would be
// reported as set while nothing changes). kNone when every field may go on.
ConfigField firstRefusedField(const NetworkConfigFields& fields);

// Encodes an address field: the text with "." appended is cut at every "."; each of the first
// four pieces is read like atoi (leading decimal digits, 0 when there are none) and stored as
// its low 8 bits. Returns false, leaving out untouched, when the text has fewer than four
// pieces that start with a number (such as "192.168.1", which the input validator lets stand).
bool encodeIpv4Field(const QString& text, uint8_t out[4]);

// Encodes "xx-xx-xx-xx-xx-xx": the two-character groups at positions 0, 3, 6, 9, 12 and 15 read
// as hexadecimal (leading hex digits, 0 when there are none). Returns false, writing
// kFallbackMac, when the text is not exactly 17 characters long.
bool encodeMacField(const QString& text, uint8_t out[6]);

// A port field's value when it is taken (1024 < value < 65536); a text that is not a number
// reads 0 and is not taken.
bool portFieldValue(const QString& text, uint16_t* value);

// The speed selector's RPM: 300 for " 5 HZ", 600 for " 10 HZ", 1200 otherwise.
uint16_t rotateSpeedRpm(const QString& comboText);
// The motor state code: 1 for "Stop", 2 for "OutputRate", 0 otherwise.
uint16_t motorStateCode(const QString& comboText);

// Replaces a reported lidar IP of FF FF FF FF (bytes 10-13 of the device packet) by
// 192.168.1.200 in place. Returns whether it did.
bool substituteBroadcastLidarIp(uint8_t* devicePacket);

// Bytes 10-13 of a device packet as dotted decimal: where the datagram goes.
QString lidarAddressText(const uint8_t* devicePacket);
// Four bytes as dotted decimal, first octet first.
QString ipv4Text(const uint8_t* ip);

// Builds the kDevicePacketSize-byte datagram into out from devicePacket (kDevicePacketSize
// bytes; its lidar IP is substituted in place first, see substituteBroadcastLidarIp) and the
// field texts. Returns kNone on success; otherwise the address field that has fewer than four
// numbers, and out must not be sent.
ConfigField buildNetworkConfigPacket(uint8_t* devicePacket, const NetworkConfigFields& fields,
                                     uint8_t* out);

}  // namespace tovik
