#include "acquisition/geometry.h"

#include <cmath>

#include "acquisition/lidar_data.h"

namespace tovik {

namespace {
const AngleTable kNominal2 = {-15.0f, 1.0f, -13.0f, 3.0f,  -11.0f, 5.0f,  -9.0f, 7.0f,
                              -7.0f,  9.0f, -5.0f,  11.0f, -3.0f,  13.0f, -1.0f, 15.0f};
const AngleTable kNominal133 = {-10.0f,  0.665f, -8.665f, 2.0f,  -7.33f, 3.33f,  -6.0f,   4.665f,
                                -4.665f, 6.0f,   -3.33f,  7.33f, -2.0f,  8.665f, -0.665f, 10.0f};
// The device's angles are trusted only within this distance of the nominal table, in degrees.
constexpr double kAngleTolerance = 1.5;
}  // namespace

std::array<std::atomic<float>, 16> deviceVerticalAngles{};

const AngleTable& nominalVerticalAngles(int degreeMode) {
  return degreeMode == kDegree133 ? kNominal133 : kNominal2;
}

AngleTable deviceVerticalAnglesSnapshot() {
  AngleTable t;
  for (int ch = 0; ch < 16; ++ch) t[ch] = deviceVerticalAngles[ch].load(std::memory_order_relaxed);
  return t;
}

void setDeviceVerticalAngles(const AngleTable& angles) {
  for (int ch = 0; ch < 16; ++ch)
    deviceVerticalAngles[ch].store(angles[ch], std::memory_order_relaxed);
}

AngleTable chooseVerticalAngles(int degreeMode, const AngleTable& device, int* mistakenChannel) {
  const AngleTable& nominal = nominalVerticalAngles(degreeMode);
  for (int ch = 0; ch < 16; ++ch) {
    if (std::fabs(double(device[ch]) - double(nominal[ch])) > kAngleTolerance) {
      if (mistakenChannel) *mistakenChannel = ch;
      return nominal;
    }
  }
  if (mistakenChannel) *mistakenChannel = -1;
  return device;
}

ChannelTrig channelTrig(const AngleTable& angles) {
  ChannelTrig t;
  for (int ch = 0; ch < 16; ++ch) {
    const double v = double(angles[ch]) * kDegToRad;
    t.cosV[ch] = std::cos(v);
    t.sinV[ch] = std::sin(v);
  }
  return t;
}

PointXYZ pointPosition(double d, double azimuthDeg, double cosV, double sinV) {
  // The optical centre of every channel sits 4.376 cm from the rotation axis, 14.67 degrees
  // ahead of the beam, and 0.426 cm above the origin.
  const double a = azimuthDeg * kDegToRad;
  const double b = (14.67 - azimuthDeg) * kDegToRad;
  PointXYZ p;
  p.x = float((d * cosV * std::cos(a) + 4.376 * std::cos(b)) / 100.0);
  p.y = float((-d * cosV * std::sin(a) + 4.376 * std::sin(b)) / 100.0);
  p.z = float((d * sinV + 0.426) / 100.0);
  return p;
}

}  // namespace tovik
