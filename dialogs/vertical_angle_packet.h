// The vertical angle packet: a copy of the last device information packet with the 16 channel
// elevations replaced. Angles travel as big-endian pairs in hundredths of a degree, a negative
// value v encoded as v + 65535. Pure functions.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

#include "dialogs/acwp_packet.h"

namespace tovik {

// Table row of each channel (packet order): rows are sorted by nominal elevation.
constexpr int kChannelRow[16] = {0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15};
// The device listens for vertical angle packets on this port.
constexpr uint16_t kVerticalAnglePort = 2368;
// Largest accepted difference between a set angle and the nominal angle of its channel.
constexpr double kMaxAngleDeviationDeg = 1.5;

// High and low byte of num; both 0 when num is 0, negative or 65536 and more.
void TwoBytesDecToHex(int num, uint8_t& upperbytesnumber, uint8_t& lowerbytesnumber);

// Degrees to hundredths, rounded to the nearest hundredth (-14.99 gives -1499). The device's own
// rule takes the angle x 100 in single precision and truncates it toward zero; that writes 0.53
// as 52 and -16.47 as -1646 (their single-precision products are 52.999996 and -1646.9999), so a
// read-back angle written back unchanged would move by 0.01 degree. Rounding keeps it. (0.29 is
// not such a case in single precision, where it gives 29; only a double product truncates to 28.)
int angleHundredths(double degrees);

// The two bytes of an angle in hundredths: a negative v is written as v + 65535.
std::array<uint8_t, 2> encodeAngle(int hundredths);

// First channel (packet order) whose set angle differs from the nominal angle of degreeMode by
// more than 1.5 degrees, or -1 when every channel is within.
int firstDeviatingChannel(const std::array<double, 16>& setAnglesDeg, int degreeMode);

// The packet: the device packet with the configuration header, the block at 160, the 16 angles
// at 245 (channel 0 first), bytes 277-308 zeroed and the tail.
ConfigPacket buildVerticalAnglePacket(const uint8_t* devicePacket,
                                      const std::array<int, 16>& hundredths);

// Where the device listens: bytes 10-13 of its device information packet, dotted decimal.
QString deviceAddress(const uint8_t* devicePacket);

}  // namespace tovik
