// The revolution pass: placement, filters, colours, the split by the selection box and the rows
// of the point table, on hand-made revolutions.
#include "app/revolution_pass.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

namespace tovik {
namespace {

struct RawPoint {
  float raw;  // distance counts
  float azimuth;
  int intensity;
};

// A point's adjustedTime is its index in its channel, so a table row tells which point it shows.
void addChannel(LidarData* scan, int ch, const std::vector<RawPoint>& points) {
  for (const RawPoint& p : points) {
    scan->adjustedTime[ch].push_back(scan->distance[ch].size());
    scan->distance[ch].push_back(p.raw);
    scan->azimuth[ch].push_back(p.azimuth);
    scan->intensity[ch].push_back(p.intensity);
  }
}

// n points 10 m away (4000 counts at 0.25 cm), spread over the first 30 degrees.
std::vector<RawPoint> steadyPoints(int n) {
  std::vector<RawPoint> points;
  for (int i = 0; i < n; ++i) points.push_back({4000.0f, 30.0f * i / float(n), 100});
  return points;
}

PassSettings nominalSettings() {
  PassSettings s;
  s.deviceAngles = nominalVerticalAngles(kDegree2);
  return s;
}

PassResult run(const LidarData& scan, const PassSettings& s) {
  PassResult r;
  runRevolutionPass(scan, s, &r);
  return r;
}

TEST(RevolutionPass, PlacesPointsWithScaledDistanceAndDeviceAngles) {
  LidarData scan;
  addChannel(&scan, 1, {{1000.0f, 0.0f, 10}});
  PassSettings s = nominalSettings();
  s.deviceAngles[1] = 0.0f;  // nominal 1 degree: within tolerance, the device's 0 is used
  PassResult r = run(scan, s);
  ASSERT_EQ(r.realTime.size(), 1u);
  EXPECT_EQ(r.mistakenChannel, -1);
  // A = 0 with V = 0: x = (d + 4.376 cos 14.67) / 100 with d = 1000 / 4 = 250 cm.
  EXPECT_NEAR(r.realTime[0].x, (250.0 + 4.376 * std::cos(14.67 * kDegToRad)) / 100.0, 1e-5);
  EXPECT_NEAR(r.realTime[0].y, 4.376 * std::sin(14.67 * kDegToRad) / 100.0, 1e-5);
  EXPECT_NEAR(r.realTime[0].z, 0.00426, 1e-6);

  s.accuaryMode = kResolution04;  // 0.4 cm per count: 1000 counts are 400 cm
  r = run(scan, s);
  ASSERT_EQ(r.normalRows.size(), 1u);
  EXPECT_FLOAT_EQ(r.normalRows[0].point.distanceM, 4.0f);
  EXPECT_NEAR(r.realTime[0].x, (400.0 + 4.376 * std::cos(14.67 * kDegToRad)) / 100.0, 1e-5);
}

// A device angle exactly 1.5 degrees from nominal is used; 1.51 switches the whole revolution to
// the nominal table and reports the channel.
TEST(RevolutionPass, DeviceAnglePlausibility) {
  LidarData scan;
  addChannel(&scan, 0, {{4000.0f, 0.0f, 10}});
  addChannel(&scan, 3, {{4000.0f, 0.0f, 10}});
  const AngleTable& nominal = nominalVerticalAngles(kDegree2);
  auto zOf = [](double vDeg) { return (1000.0 * std::sin(vDeg * kDegToRad) + 0.426) / 100.0; };

  PassSettings s = nominalSettings();
  s.deviceAngles[0] = nominal[0] + 1.0f;
  s.deviceAngles[3] = nominal[3] + 1.5f;
  PassResult r = run(scan, s);
  EXPECT_EQ(r.mistakenChannel, -1);
  ASSERT_EQ(r.realTime.size(), 2u);
  EXPECT_NEAR(r.realTime[0].z, zOf(nominal[0] + 1.0), 1e-4);
  EXPECT_NEAR(r.realTime[1].z, zOf(nominal[3] + 1.5), 1e-4);

  s.deviceAngles[3] = nominal[3] + 1.51f;
  r = run(scan, s);
  EXPECT_EQ(r.mistakenChannel, 3);
  ASSERT_EQ(r.realTime.size(), 2u);
  // Channel 0 deviated by only 1.0 but falls back to nominal too.
  EXPECT_NEAR(r.realTime[0].z, zOf(nominal[0]), 1e-4);
  EXPECT_NEAR(r.realTime[1].z, zOf(nominal[3]), 1e-4);
}

TEST(RevolutionPass, AllZeroDeviceTableUsesNominalOfAngleModeAndReportsChannel0) {
  LidarData scan;
  addChannel(&scan, 15, {{4000.0f, 0.0f, 10}});
  PassSettings s;
  s.degreeMode = kDegree133;
  PassResult r = run(scan, s);
  EXPECT_EQ(r.mistakenChannel, 0);
  ASSERT_EQ(r.realTime.size(), 1u);
  // Channel 15 of the 1.33 degree table points 10 degrees up.
  EXPECT_NEAR(r.realTime[0].z, (1000.0 * std::sin(10.0 * kDegToRad) + 0.426) / 100.0, 1e-4);
}

TEST(RevolutionPass, ZeroDistanceIsNeverDrawnTabledOrSelected) {
  LidarData scan;
  addChannel(&scan, 2, {{0.0f, 10.0f, 50}, {0.0f, 11.0f, 50}});
  PassSettings s = nominalSettings();
  // A box around everything near the device, including where a zero-distance point would sit.
  s.selectionActive = true;
  s.selectionBox = {-1, 1, -1, 1, -1, 1};
  PassResult r = run(scan, s);
  EXPECT_TRUE(r.realTime.empty());
  EXPECT_TRUE(r.clicked.empty());
  EXPECT_TRUE(r.inBox.empty());
  s.selectionActive = false;
  r = run(scan, s);
  EXPECT_TRUE(r.normalRows.empty());
  EXPECT_TRUE(r.clicked.empty());
}

class DisplayAngle : public ::testing::TestWithParam<std::tuple<float, float, bool>> {};

TEST_P(DisplayAngle, DropsAzimuthsStrictlyBetweenLimitAndItsMirror) {
  const auto [limit, azimuth, drawn] = GetParam();
  LidarData scan;
  addChannel(&scan, 4, {{4000.0f, azimuth, 10}});
  PassSettings s = nominalSettings();
  s.displayAngleLimit = limit;
  PassResult r = run(scan, s);
  EXPECT_EQ(r.realTime.size(), drawn ? 1u : 0u);
  EXPECT_EQ(r.normalRows.size(), drawn ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, DisplayAngle,
    ::testing::Values(std::make_tuple(180.0f, 0.0f, true), std::make_tuple(180.0f, 90.0f, true),
                      std::make_tuple(180.0f, 180.0f, true), std::make_tuple(180.0f, 359.99f, true),
                      std::make_tuple(90.0f, 90.0f, true), std::make_tuple(90.0f, 270.0f, true),
                      std::make_tuple(90.0f, 89.99f, true), std::make_tuple(90.0f, 90.01f, false),
                      std::make_tuple(90.0f, 180.0f, false), std::make_tuple(90.0f, 269.99f, false),
                      std::make_tuple(30.0f, 30.0f, true), std::make_tuple(30.0f, 31.0f, false),
                      std::make_tuple(30.0f, 330.0f, true), std::make_tuple(30.0f, 329.0f, false)));

TEST(RevolutionPass, SwitchedOffChannelGivesNoPointsAndNoRows) {
  LidarData scan;
  for (int ch = 0; ch < 16; ++ch) addChannel(&scan, ch, steadyPoints(10));
  PassSettings s = nominalSettings();
  s.channelShown[5] = false;
  PassResult r = run(scan, s);
  EXPECT_EQ(r.realTime.size(), 15u * 10u);
  EXPECT_EQ(r.normalRows.size(), 15u * 8u);
  for (const NormalRow& row : r.normalRows) {
    EXPECT_FALSE(row.row >= 40 && row.row < 48) << "row " << row.row;
    EXPECT_NE(row.point.channel, 5);
  }
}

TEST(RevolutionPass, TableRowsCarryChannelNumberTimeAndDistance) {
  LidarData scan;
  addChannel(&scan, 3, {{1000.0f, 12.5f, 77}});
  PassSettings s = nominalSettings();
  s.channelNumber[3] = 12;
  PassResult r = run(scan, s);
  ASSERT_EQ(r.normalRows.size(), 1u);
  const NormalRow& row = r.normalRows[0];
  EXPECT_EQ(row.row, 24);
  EXPECT_EQ(row.pointId, 0);
  EXPECT_EQ(row.point.channel, 12);
  EXPECT_EQ(row.point.intensity, 77);
  EXPECT_FLOAT_EQ(row.point.azimuth, 12.5f);
  EXPECT_FLOAT_EQ(row.point.distanceM, 2.5f);
  EXPECT_FLOAT_EQ(row.point.x, r.realTime[0].x);
  EXPECT_FLOAT_EQ(row.point.z, r.realTime[0].z);
}

struct RowsCase {
  const char* name;
  int points;                    // list length of the channel
  std::vector<int> hidden;       // indices with distance 0
  std::vector<int> sourceOfRow;  // expected point index of slot 0, 1, ...
};

class NormalRows : public ::testing::TestWithParam<RowsCase> {};

TEST_P(NormalRows, FirstFourThenFourBeyondTheMiddle) {
  const RowsCase& c = GetParam();
  std::vector<RawPoint> points = steadyPoints(c.points);
  for (int i : c.hidden) points[size_t(i)].raw = 0.0f;
  LidarData scan;
  addChannel(&scan, 6, points);
  PassResult r = run(scan, nominalSettings());
  ASSERT_EQ(r.normalRows.size(), c.sourceOfRow.size());
  for (size_t slot = 0; slot < c.sourceOfRow.size(); ++slot) {
    EXPECT_EQ(r.normalRows[slot].row, 48 + int(slot));
    EXPECT_EQ(r.normalRows[slot].pointId, int(slot));
    EXPECT_EQ(r.normalRows[slot].point.adjustedTime, uint64_t(c.sourceOfRow[slot]))
        << "slot " << slot;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Channels, NormalRows,
    ::testing::Values(RowsCase{"TenPoints", 10, {}, {0, 1, 2, 3, 6, 7, 8, 9}},
                      RowsCase{"ThreePoints", 3, {}, {0, 1, 2}},
                      // i = 3 is already beyond the middle of 4: it fills slots 3 and 4.
                      RowsCase{"FourPoints", 4, {}, {0, 1, 2, 3, 3}},
                      RowsCase{"LongChannel", 1000, {}, {0, 1, 2, 3, 501, 502, 503, 504}},
                      RowsCase{"HiddenPointsSkipped", 10, {0, 1, 7}, {2, 3, 4, 5, 6, 8, 9}},
                      RowsCase{"NothingDrawn", 5, {0, 1, 2, 3, 4}, {}}),
    [](const ::testing::TestParamInfo<RowsCase>& info) { return info.param.name; });

TEST(RevolutionPass, NoNormalRowsWhileSelectionIsActive) {
  LidarData scan;
  addChannel(&scan, 0, steadyPoints(10));
  PassSettings s = nominalSettings();
  s.selectionActive = true;
  PassResult r = run(scan, s);
  EXPECT_TRUE(r.normalRows.empty());
  EXPECT_EQ(r.realTime.size(), 10u);
}

TEST(RevolutionPass, SelectionBoxSplitIncludesItsBounds) {
  LidarData scan;
  addChannel(&scan, 0, {{4000.0f, 0.0f, 10}, {4000.0f, 5.0f, 20}, {4000.0f, 10.0f, 30}});
  PassSettings s = nominalSettings();
  const PassResult all = run(scan, s);
  ASSERT_EQ(all.realTime.size(), 3u);
  const DrawnPoint& mid = all.realTime[1];

  // A box of zero size exactly at the middle point holds that point only.
  s.selectionActive = true;
  s.selectionBox = {mid.x, mid.x, mid.y, mid.y, mid.z, mid.z};
  PassResult r = run(scan, s);
  ASSERT_EQ(r.clicked.size(), 1u);
  EXPECT_EQ(r.realTime.size(), 2u);
  EXPECT_FLOAT_EQ(r.clicked[0].y, mid.y);
  ASSERT_EQ(r.inBox.size(), 1u);
  EXPECT_EQ(r.inBox[0].intensity, 20);

  // Moving one bound a hair inside excludes it.
  s.selectionBox.maxY = std::nextafter(mid.y, -1.0f);
  r = run(scan, s);
  EXPECT_TRUE(r.clicked.empty());
  EXPECT_EQ(r.realTime.size(), 3u);

  // Without an active selection the box still splits, but lists no table points.
  s.selectionActive = false;
  s.selectionBox = {mid.x, mid.x, mid.y, mid.y, mid.z, mid.z};
  r = run(scan, s);
  EXPECT_EQ(r.clicked.size(), 1u);
  EXPECT_TRUE(r.inBox.empty());
}

TEST(RevolutionPass, InBoxListIsInChannelThenPointOrder) {
  LidarData scan;
  addChannel(&scan, 9, steadyPoints(4));
  addChannel(&scan, 2, steadyPoints(3));
  PassSettings s = nominalSettings();
  s.selectionActive = true;
  s.selectionBox = {-100, 100, -100, 100, -100, 100};
  PassResult r = run(scan, s);
  ASSERT_EQ(r.inBox.size(), 7u);
  const int channels[7] = {2, 2, 2, 9, 9, 9, 9};
  const uint64_t index[7] = {0, 1, 2, 0, 1, 2, 3};
  for (int n = 0; n < 7; ++n) {
    EXPECT_EQ(r.inBox[size_t(n)].channel, channels[n]);
    EXPECT_EQ(r.inBox[size_t(n)].adjustedTime, index[n]);
  }
  EXPECT_TRUE(r.realTime.empty());
}

TEST(RevolutionPass, ColourModeReachesDrawnPoints) {
  LidarData scan;
  addChannel(&scan, 0, {{4000.0f, 100.0f, 79}, {4000.0f, 200.0f, 80}});
  PassSettings s = nominalSettings();
  PassResult r = run(scan, s);
  ASSERT_EQ(r.realTime.size(), 2u);
  EXPECT_EQ(r.realTime[0].r, 252);
  EXPECT_EQ(r.realTime[1].r, 0);
  s.colorMode = kColorAzimuth;
  r = run(scan, s);
  EXPECT_EQ(r.realTime[0].b, 192);  // 90 <= A < 180
  EXPECT_EQ(r.realTime[1].g, 255);  // 180 <= A < 270
  EXPECT_EQ(r.realTime[1].b, 0);
}

TEST(RevolutionPass, ResultIsReplacedNotAppended) {
  LidarData scan;
  addChannel(&scan, 0, steadyPoints(10));
  PassResult r;
  runRevolutionPass(scan, nominalSettings(), &r);
  runRevolutionPass(scan, nominalSettings(), &r);
  EXPECT_EQ(r.realTime.size(), 10u);
  EXPECT_EQ(r.normalRows.size(), 8u);
}

TEST(RevolutionPass, LoopsAreBoundedByTheShortestList) {
  LidarData scan;
  addChannel(&scan, 0, steadyPoints(5));
  scan.azimuth[0].pop_back();  // a last block that never received azimuths
  PassResult r = run(scan, nominalSettings());
  EXPECT_EQ(r.realTime.size(), 4u);
}

TEST(PointsInBox, IgnoresChannelDisplayAngleAndZeroDistanceFilters) {
  LidarData scan;
  addChannel(&scan, 0, {{4000.0f, 200.0f, 1}, {0.0f, 10.0f, 2}});
  addChannel(&scan, 1, {{4000.0f, 5.0f, 3}});
  PassSettings s = nominalSettings();
  s.channelShown[1] = false;
  s.displayAngleLimit = 30.0f;
  const SelectionBox everything{-100, 100, -100, 100, -100, 100};
  std::vector<TablePoint> in = pointsInBox(scan, s, everything);
  ASSERT_EQ(in.size(), 3u);
  EXPECT_EQ(in[0].intensity, 1);
  EXPECT_EQ(in[1].intensity, 2);
  EXPECT_FLOAT_EQ(in[1].distanceM, 0.0f);
  EXPECT_EQ(in[2].intensity, 3);

  // Only the points inside: the zero-distance point sits a few centimetres from the origin.
  in = pointsInBox(scan, s, SelectionBox{-0.1f, 0.1f, -0.1f, 0.1f, -0.1f, 0.1f});
  ASSERT_EQ(in.size(), 1u);
  EXPECT_EQ(in[0].intensity, 2);
}

TEST(PointsInBox, UsesTheSameAnglesAsThePass) {
  LidarData scan;
  addChannel(&scan, 7, {{4000.0f, 45.0f, 9}});
  PassSettings s = nominalSettings();
  s.deviceAngles[7] += 1.4f;
  PassResult r = run(scan, s);
  ASSERT_EQ(r.realTime.size(), 1u);
  const DrawnPoint& p = r.realTime[0];
  std::vector<TablePoint> in = pointsInBox(scan, s, SelectionBox{p.x, p.x, p.y, p.y, p.z, p.z});
  ASSERT_EQ(in.size(), 1u);
  EXPECT_FLOAT_EQ(in[0].z, p.z);
}

// Colour tables.

struct ColorCase {
  int mode;
  int intensity;
  float z;
  float azimuth;
  int channel;
  int r, g, b;
};

class PointColor : public ::testing::TestWithParam<ColorCase> {};

TEST_P(PointColor, MatchesTable) {
  const ColorCase& c = GetParam();
  const Rgb rgb = pointColor(c.mode, c.intensity, c.z, c.azimuth, c.channel);
  EXPECT_EQ(int(rgb.r), c.r);
  EXPECT_EQ(int(rgb.g), c.g);
  EXPECT_EQ(int(rgb.b), c.b);
}

ColorCase intensity(int i, int r, int g, int b) { return {kColorIntensity, i, 0, 0, 0, r, g, b}; }
ColorCase elevation(float z, int r, int g, int b) { return {kColorElevation, 0, z, 0, 0, r, g, b}; }
ColorCase azimuth(float a, int r, int g, int b) { return {kColorAzimuth, 0, 0, a, 0, r, g, b}; }
ColorCase laser(int ch, int r, int g, int b) { return {kColorLaserId, 0, 0, 0, ch, r, g, b}; }

INSTANTIATE_TEST_SUITE_P(Intensity, PointColor,
                         ::testing::Values(intensity(0, 0, 0, 255), intensity(31, 0, 248, 255),
                                           intensity(32, 0, 255, 255), intensity(63, 0, 255, 131),
                                           intensity(64, 192, 255, 0), intensity(79, 252, 255, 0),
                                           intensity(80, 0, 255, 0), intensity(127, 188, 255, 0),
                                           intensity(128, 255, 254, 0), intensity(255, 255, 0, 0)));

INSTANTIATE_TEST_SUITE_P(
    Elevation, PointColor,
    ::testing::Values(elevation(-3.0f, 139, 69, 19), elevation(-2.0f, 0, 0, 255),
                      elevation(-1.99f, 255, 255, 0), elevation(-0.01f, 255, 255, 0),
                      elevation(0.0f, 0, 0, 255), elevation(0.01f, 255, 255, 255),
                      elevation(1.0f, 0, 0, 255), elevation(1.01f, 0, 128, 0),
                      elevation(4.99f, 0, 128, 0), elevation(5.0f, 0, 0, 255),
                      elevation(40.0f, 0, 0, 255), elevation(std::nanf(""), 0, 0, 255)));

INSTANTIATE_TEST_SUITE_P(Azimuth, PointColor,
                         ::testing::Values(azimuth(0.0f, 0, 255, 255), azimuth(89.99f, 0, 255, 255),
                                           azimuth(90.0f, 0, 125, 192),
                                           azimuth(179.99f, 0, 125, 192),
                                           azimuth(180.0f, 0, 255, 0), azimuth(269.99f, 0, 255, 0),
                                           azimuth(270.0f, 255, 255, 0),
                                           azimuth(359.99f, 255, 255, 0)));

INSTANTIATE_TEST_SUITE_P(LaserId, PointColor,
                         ::testing::Values(laser(0, 102, 102, 255), laser(1, 102, 102, 255),
                                           laser(2, 153, 153, 255), laser(3, 153, 153, 255),
                                           laser(4, 204, 204, 255), laser(5, 204, 204, 255),
                                           laser(6, 255, 255, 255), laser(7, 255, 255, 255),
                                           laser(8, 255, 178, 178), laser(9, 255, 178, 178),
                                           laser(10, 255, 102, 102), laser(11, 255, 102, 102),
                                           laser(12, 255, 76, 76), laser(13, 255, 76, 76),
                                           laser(14, 255, 0, 0), laser(15, 255, 0, 0)));

INSTANTIATE_TEST_SUITE_P(Solid, PointColor,
                         ::testing::Values(ColorCase{kColorSolid, 3, -4.0f, 100.0f, 14, 255, 255,
                                                     255}));

}  // namespace
}  // namespace tovik
