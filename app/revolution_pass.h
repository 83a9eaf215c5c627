// The revolution pass: places, filters, colours and splits the points of one revolution and
// picks the rows of the point table. No PCL and no widgets, so the drawing, the table and the
// tests share one implementation.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "acquisition/geometry.h"
#include "acquisition/lidar_data.h"

namespace tovik {

// Index of the colour combo (comboBox_4).
enum ColorMode : int {
  kColorIntensity = 0,
  kColorSolid = 1,
  kColorElevation = 2,
  kColorAzimuth = 3,
  kColorLaserId = 4
};

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
};
// Colour of a point by mode; z in metres, azimuth in degrees, channel index 0..15.
Rgb pointColor(int mode, int intensity, float z, float azimuth, int channel);

// The colour scale of a colour mode, for the view's legend: the value range cut into entries
// equal slices, each holding the colour the pass gives to every value in it (except values
// exactly on a band edge, where the colouring's open bands meet), and the tick values to label.
struct ColorScale {
  const char* title = "";  // the quantity and its unit
  double min = 0, max = 0;
  int entries = 0;
  std::vector<double> ticks;
};
// False for a mode without a scale ("Solid": one colour for every point).
bool colorScale(int mode, ColorScale* scale);
// The colour of entry (0 .. entries - 1) of mode's scale.
Rgb colorScaleEntry(int mode, int entry);

// Axis-aligned box of an area selection, metres; all zero until a selection is made.
struct SelectionBox {
  float minX = 0, maxX = 0, minY = 0, maxY = 0, minZ = 0, maxZ = 0;
  bool contains(float x, float y, float z) const {
    return x >= minX && x <= maxX && y >= minY && y <= maxY && z >= minZ && z <= maxZ;
  }
};

struct DrawnPoint {
  float x, y, z;
  uint8_t r, g, b;
};

// What a table row shows about one point.
struct TablePoint {
  float x, y, z;    // metres
  float azimuth;    // degrees
  float distanceM;  // scaled distance / 100
  int intensity;
  int channel;  // channelNumber of the channel index
  uint64_t adjustedTime;
};

// A normal-mode table row: row = 8 * channel index + slot, pointId = slot (0..7).
struct NormalRow {
  int row;
  int pointId;
  TablePoint point;
};

struct PassSettings {
  int degreeMode = 0;
  int accuaryMode = 0;
  int colorMode = kColorIntensity;
  float displayAngleLimit = 180.0f;
  // Display flag by channel index, already resolved through the channel dialog's row map.
  std::array<bool, 16> channelShown{true, true, true, true, true, true, true, true,
                                    true, true, true, true, true, true, true, true};
  std::array<int, 16> channelNumber{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  bool selectionActive = false;
  SelectionBox selectionBox;
  AngleTable deviceAngles{};  // deviceVerticalAngles as read for this revolution
};

struct PassResult {
  std::vector<DrawnPoint> realTime;   // drawn points outside the selection box
  std::vector<DrawnPoint> clicked;    // drawn points inside the selection box
  std::vector<NormalRow> normalRows;  // only while no selection is active
  std::vector<TablePoint> inBox;      // drawn points inside the box, channel and point order
  int mistakenChannel = -1;           // first channel whose device angle was rejected, or -1
  void clear();
};

// Runs the pass over scan. Loops are bounded by LidarData::pointCount.
void runRevolutionPass(const LidarData& scan, const PassSettings& settings, PassResult* out);

// Every point of scan inside box, without channel, display-angle or zero-distance filters (the
// selection rows filled once from the stored revolution). No angle-mistake notification.
std::vector<TablePoint> pointsInBox(const LidarData& scan, const PassSettings& settings,
                                    const SelectionBox& box);

}  // namespace tovik
