// Point geometry: vertical angles, distance scaling and the x, y, z of a point. Drawing, the
// point table, the CSV export and the converter all place points through these functions.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace tovik {

using AngleTable = std::array<float, 16>;

// Nominal vertical angles in degrees by channel, as single-precision values (0.665, not 0.667).
const AngleTable& nominalVerticalAngles(int degreeMode);

// The device's own vertical angles, 0.0 at start, overwritten from every device information
// packet by the receiving thread and read by the GUI thread. Each entry is written whole; a
// reader may see a mix of two consecutive packets' tables.
extern std::array<std::atomic<float>, 16> deviceVerticalAngles;
AngleTable deviceVerticalAnglesSnapshot();
void setDeviceVerticalAngles(const AngleTable& angles);

// The angles a frame is drawn with: the device's table, unless one of its channels differs
// from the nominal table of degreeMode by more than 1.5 degrees; then the nominal table for all
// 16 channels, and *mistakenChannel (when given) receives the first such channel, else -1.
AngleTable chooseVerticalAngles(int degreeMode, const AngleTable& device,
                                int* mistakenChannel = nullptr);

// Raw distance counts to centimetres: 0.25 cm per count (accuaryMode 0) or 0.4 cm (1).
inline double scaleDistance(double raw, int accuaryMode) {
  return accuaryMode == 1 ? raw / 2.5 : raw / 4.0;
}

// Per-channel cos and sin of the vertical angle, computed once per frame.
struct ChannelTrig {
  double cosV[16];
  double sinV[16];
};
ChannelTrig channelTrig(const AngleTable& angles);

struct PointXYZ {
  float x, y, z;  // metres
};

// x, y, z in metres of a point d centimetres away at azimuth A degrees on a channel of the given
// vertical angle. The optical centre sits 4.376 cm from the axis at 14.67 degrees and 0.426 cm
// above it. Angles are converted with pi taken as 3.14159.
PointXYZ pointPosition(double dCm, double azimuthDeg, double cosV, double sinV);

constexpr double kPi = 3.14159;
constexpr double kDegToRad = kPi / 180.0;

}  // namespace tovik
