#include "dialogs/vertical_angle_packet.h"

#include <cmath>
#include <cstring>

#include "acquisition/geometry.h"

namespace tovik {

void TwoBytesDecToHex(int num, uint8_t& upperbytesnumber, uint8_t& lowerbytesnumber) {
  if (num <= 0 || num >= 65536) {
    upperbytesnumber = 0;
    lowerbytesnumber = 0;
    return;
  }
  upperbytesnumber = uint8_t(num >> 8);
  lowerbytesnumber = uint8_t(num & 0xFF);
}

int angleHundredths(double degrees) {
  if (!std::isfinite(degrees) || std::fabs(degrees) > 1e6) return 0;
  return int(std::lround(degrees * 100.0));
}

std::array<uint8_t, 2> encodeAngle(int hundredths) {
  std::array<uint8_t, 2> b{};
  TwoBytesDecToHex(hundredths < 0 ? hundredths + 65535 : hundredths, b[0], b[1]);
  return b;
}

int firstDeviatingChannel(const std::array<double, 16>& setAnglesDeg, int degreeMode) {
  const AngleTable& nominal = nominalVerticalAngles(degreeMode);
  for (int ch = 0; ch < 16; ++ch) {
    const double diff = std::fabs(setAnglesDeg[size_t(ch)] - double(nominal[size_t(ch)]));
    // The slack absorbs the single precision of the nominal table (0.665 is 0.66500002).
    if (!(diff <= kMaxAngleDeviationDeg + 1e-6)) return ch;
  }
  return -1;
}

ConfigPacket buildVerticalAnglePacket(const uint8_t* devicePacket,
                                      const std::array<int, 16>& hundredths) {
  ConfigPacket p;
  std::memcpy(p.data(), devicePacket, p.size());
  std::memcpy(p.data(), kFactoryDefaultHeader, sizeof kFactoryDefaultHeader);
  std::memcpy(p.data() + 160, kConfigBlock160, sizeof kConfigBlock160);
  for (size_t ch = 0; ch < 16; ++ch) {
    const std::array<uint8_t, 2> b = encodeAngle(hundredths[ch]);
    p[245 + 2 * ch] = b[0];
    p[246 + 2 * ch] = b[1];
  }
  std::memset(p.data() + 277, 0, 32);
  std::memcpy(p.data() + 1204, kConfigTail, sizeof kConfigTail);
  return p;
}

QString deviceAddress(const uint8_t* devicePacket) {
  return QStringLiteral("%1.%2.%3.%4")
      .arg(devicePacket[10])
      .arg(devicePacket[11])
      .arg(devicePacket[12])
      .arg(devicePacket[13]);
}

}  // namespace tovik
