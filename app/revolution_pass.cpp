#include "app/revolution_pass.h"

#include <algorithm>

namespace tovik {

namespace {

// Colours of the "LaserID" mode, one per pair of channel indices (0-1, 2-3, ... 14-15).
constexpr Rgb kLaserPairColors[8] = {{102, 102, 255}, {153, 153, 255}, {204, 204, 255},
                                     {255, 255, 255}, {255, 178, 178}, {255, 102, 102},
                                     {255, 76, 76},   {255, 0, 0}};

constexpr Rgb rgb(int r, int g, int b) { return Rgb{uint8_t(r), uint8_t(g), uint8_t(b)}; }

Rgb intensityColor(int i) {
  if (i < 32) return rgb(0, 8 * i, 255);
  if (i < 64) return rgb(0, 255, 383 - 4 * i);
  // Red keeps only the low 8 bits of 4I - 64: it climbs to 252 at I = 79 and wraps to 0 at 80.
  if (i < 128) return rgb((4 * i - 64) & 0xFF, 255, 0);
  return rgb(255, 2 * (255 - i), 0);
}

Rgb elevationColor(float z) {
  // Every band is open, so z exactly -2, 0 or 1 (and NaN) falls through to blue.
  if (z < -2.0f) return rgb(139, 69, 19);
  if (z > -2.0f && z < 0.0f) return rgb(255, 255, 0);
  if (z > 0.0f && z < 1.0f) return rgb(255, 255, 255);
  if (z > 1.0f && z < 5.0f) return rgb(0, 128, 0);
  return rgb(0, 0, 255);
}

Rgb azimuthColor(float a) {
  if (a < 90.0f) return rgb(0, 255, 255);
  if (a < 180.0f) return rgb(0, 125, 192);
  if (a < 270.0f) return rgb(0, 255, 0);
  return rgb(255, 255, 0);
}

TablePoint tablePoint(const PointXYZ& p, float azimuth, float dCm, int intensity, int channel,
                      uint64_t time) {
  return TablePoint{p.x, p.y, p.z, azimuth, float(double(dCm) / 100.0), intensity, channel, time};
}

}  // namespace

Rgb pointColor(int mode, int intensity, float z, float azimuth, int channel) {
  switch (mode) {
    case kColorIntensity:
      return intensityColor(intensity);
    case kColorElevation:
      return elevationColor(z);
    case kColorAzimuth:
      return azimuthColor(azimuth);
    case kColorLaserId:
      return kLaserPairColors[std::clamp(channel, 0, 15) / 2];
    case kColorSolid:
    default:  // the colour combo offers no other index
      return rgb(255, 255, 255);
  }
}

bool colorScale(int mode, ColorScale* scale) {
  switch (mode) {
    case kColorIntensity:
      // One entry per reflectivity value 0..255; the ticks mark where the rule changes, and the
      // wrap of red at 80.
      *scale = ColorScale{"Intensity (0-255)", 0.0, 255.0, 256, {0, 32, 64, 80, 128, 255}};
      return true;
    case kColorElevation:
      // Metre slices from 3 m below the sensor to 6 m above: every band edge (-2, 0, 1, 5 m)
      // falls on a slice edge, and values beyond the ends take the end colours, as the bands
      // below -2 m and from 5 m up do.
      *scale = ColorScale{"Elevation (m)", -3.0, 6.0, 9, {-3, -2, 0, 1, 5, 6}};
      return true;
    case kColorAzimuth:
      *scale = ColorScale{"Azimuth (deg)", 0.0, 360.0, 4, {0, 90, 180, 270, 360}};
      return true;
    case kColorLaserId:
      // One entry per pair of channel indices.
      *scale = ColorScale{"Channel index", 0.0, 16.0, 8, {0, 2, 4, 6, 8, 10, 12, 14, 16}};
      return true;
    default:
      return false;
  }
}

Rgb colorScaleEntry(int mode, int entry) {
  ColorScale scale;
  if (!colorScale(mode, &scale)) return pointColor(mode, 0, 0.0f, 0.0f, 0);
  entry = std::clamp(entry, 0, scale.entries - 1);
  // The middle of the entry's slice, clear of the band edges on its borders.
  const double middle = scale.min + (entry + 0.5) * (scale.max - scale.min) / scale.entries;
  switch (mode) {
    case kColorIntensity:
      return pointColor(mode, entry, 0.0f, 0.0f, 0);
    case kColorLaserId:
      return pointColor(mode, 0, 0.0f, 0.0f, 2 * entry);
    default:
      return pointColor(mode, 0, float(middle), float(middle), 0);
  }
}

void PassResult::clear() {
  realTime.clear();
  clicked.clear();
  normalRows.clear();
  inBox.clear();
  mistakenChannel = -1;
}

void runRevolutionPass(const LidarData& scan, const PassSettings& settings, PassResult* out) {
  out->clear();
  const AngleTable angles =
      chooseVerticalAngles(settings.degreeMode, settings.deviceAngles, &out->mistakenChannel);
  const ChannelTrig trig = channelTrig(angles);

  const size_t total = scan.totalPoints();
  if (out->realTime.capacity() < total) out->realTime.reserve(total);
  if (settings.selectionActive && out->clicked.capacity() < total) out->clicked.reserve(total);
  out->normalRows.reserve(8 * kChannelCount);

  // Points whose azimuth lies strictly between the limit and 360 minus the limit are hidden.
  const float hideAbove = settings.displayAngleLimit;
  const float hideBelow = 360.0f - settings.displayAngleLimit;
  const SelectionBox& box = settings.selectionBox;

  for (int k = 0; k < kChannelCount; ++k) {
    if (!settings.channelShown[k]) continue;
    const size_t count = scan.pointCount(k);
    const float* distance = scan.distance[k].data();
    const int* intensity = scan.intensity[k].data();
    const float* azimuth = scan.azimuth[k].data();
    const uint64_t* time = scan.adjustedTime[k].data();
    const double cosV = trig.cosV[k];
    const double sinV = trig.sinV[k];
    const int channel = settings.channelNumber[k];
    // The second half of the table rows of a channel starts beyond the middle of its list.
    const size_t middle = count / 2;
    int rowsInChannel = 0;

    for (size_t i = 0; i < count; ++i) {
      const float d = float(scaleDistance(distance[i], settings.accuaryMode));  // cm
      const float a = azimuth[i];
      if (d <= 0.0f || (a > hideAbove && a < hideBelow)) continue;
      const PointXYZ p = pointPosition(d, a, cosV, sinV);

      if (!settings.selectionActive) {
        if (rowsInChannel < 4) {
          out->normalRows.push_back(NormalRow{8 * k + rowsInChannel, rowsInChannel,
                                              tablePoint(p, a, d, intensity[i], channel, time[i])});
          ++rowsInChannel;
        }
        if (rowsInChannel > 3 && rowsInChannel < 8 && i > middle) {
          out->normalRows.push_back(NormalRow{8 * k + rowsInChannel, rowsInChannel,
                                              tablePoint(p, a, d, intensity[i], channel, time[i])});
          ++rowsInChannel;
        }
      }

      const Rgb c = pointColor(settings.colorMode, intensity[i], p.z, a, k);
      const DrawnPoint drawn{p.x, p.y, p.z, c.r, c.g, c.b};
      if (box.contains(p.x, p.y, p.z)) {
        out->clicked.push_back(drawn);
        if (settings.selectionActive)
          out->inBox.push_back(tablePoint(p, a, d, intensity[i], channel, time[i]));
      } else {
        out->realTime.push_back(drawn);
      }
    }
  }
}

std::vector<TablePoint> pointsInBox(const LidarData& scan, const PassSettings& settings,
                                    const SelectionBox& box) {
  std::vector<TablePoint> result;
  const ChannelTrig trig =
      channelTrig(chooseVerticalAngles(settings.degreeMode, settings.deviceAngles, nullptr));
  for (int k = 0; k < kChannelCount; ++k) {
    const size_t count = scan.pointCount(k);
    for (size_t i = 0; i < count; ++i) {
      const float d = float(scaleDistance(scan.distance[k][i], settings.accuaryMode));
      const float a = scan.azimuth[k][i];
      const PointXYZ p = pointPosition(d, a, trig.cosV[k], trig.sinV[k]);
      if (box.contains(p.x, p.y, p.z))
        result.push_back(tablePoint(p, a, d, scan.intensity[k][i], settings.channelNumber[k],
                                    scan.adjustedTime[k][i]));
    }
  }
  return result;
}

}  // namespace tovik
