// Tests of point geometry: nominal vertical angles, the plausibility check of the device's own
// angles, distance scaling and the x, y, z of a point.
#include "acquisition/geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "acquisition/lidar_data.h"

namespace tovik {
namespace {

TEST(NominalAngles, TablesAsSinglePrecisionValues) {
  const AngleTable two = {-15, 1, -13, 3, -11, 5, -9, 7, -7, 9, -5, 11, -3, 13, -1, 15};
  const AngleTable third = {-10.0f,  0.665f, -8.665f, 2.0f,  -7.33f, 3.33f,  -6.0f,   4.665f,
                            -4.665f, 6.0f,   -3.33f,  7.33f, -2.0f,  8.665f, -0.665f, 10.0f};
  EXPECT_EQ(nominalVerticalAngles(kDegree2), two);
  EXPECT_EQ(nominalVerticalAngles(kDegree133), third);
  EXPECT_EQ(nominalVerticalAngles(kDegree133)[1], 0.665f);  // not 0.667
  EXPECT_EQ(nominalVerticalAngles(7), two);                 // any other code: the 2 degree table
}

// A device table as the device information packet delivers it: hundredths of a degree.
AngleTable deviceTable(int degreeMode, int ch, int offsetHundredths) {
  AngleTable t = nominalVerticalAngles(degreeMode);
  for (int c = 0; c < 16; ++c) {
    const int h = int(std::lround(double(t[c]) * 100.0)) + (c == ch ? offsetHundredths : 0);
    t[c] = float(h / 100.0);
  }
  return t;
}

struct ChoiceCase {
  const char* name;
  int degreeMode;
  AngleTable device;
  bool usesDevice;
  int mistakenChannel;
};
class ChooseAngles : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(ChooseAngles, DeviceTableOnlyWhenNoChannelIsOffByMoreThan1_5) {
  const auto& c = GetParam();
  int mistaken = 1234;
  const AngleTable chosen = chooseVerticalAngles(c.degreeMode, c.device, &mistaken);
  EXPECT_EQ(chosen, c.usesDevice ? c.device : nominalVerticalAngles(c.degreeMode));
  EXPECT_EQ(mistaken, c.mistakenChannel);
  EXPECT_EQ(chooseVerticalAngles(c.degreeMode, c.device), chosen);  // no report wanted
}

AngleTable allOffset(int degreeMode, float offset) {
  AngleTable t = nominalVerticalAngles(degreeMode);
  for (float& v : t) v += offset;
  return t;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChooseAngles,
    ::testing::Values(
        // Before any device packet the table is all zero: nominal, channel 0 reported.
        ChoiceCase{"AllZero2", kDegree2, AngleTable{}, false, 0},
        ChoiceCase{"AllZero133", kDegree133, AngleTable{}, false, 0},
        ChoiceCase{"Nominal", kDegree2, nominalVerticalAngles(kDegree2), true, -1},
        ChoiceCase{"ExactlyOneAndAHalfEverywhere", kDegree2, allOffset(kDegree2, 1.5f), true, -1},
        ChoiceCase{"ExactlyMinusOneAndAHalf", kDegree2, deviceTable(kDegree2, 7, -150), true, -1},
        ChoiceCase{"ExactlyOneAndAHalf133", kDegree133, deviceTable(kDegree133, 4, 150), true, -1},
        ChoiceCase{"SmallDeviations", kDegree133, deviceTable(kDegree133, 9, -37), true, -1},
        ChoiceCase{"OnePointSixRejectsAll", kDegree2, deviceTable(kDegree2, 9, 160), false, 9},
        ChoiceCase{"OnePointFiftyOne", kDegree2, deviceTable(kDegree2, 3, -151), false, 3},
        ChoiceCase{"OnePointFiftyOne133", kDegree133, deviceTable(kDegree133, 15, 151), false, 15},
        ChoiceCase{"FirstDeviatingReported", kDegree2,
                   [] {
                     AngleTable t = deviceTable(kDegree2, 12, 300);
                     t[4] += 2.0f;
                     return t;
                   }(),
                   false, 4},
        // A table for the other angle mode is mostly off by more than 1.5 degrees.
        ChoiceCase{"OtherModesTable", kDegree133, nominalVerticalAngles(kDegree2), false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DeviceAngles, SnapshotReturnsWhatWasSet) {
  const AngleTable before = deviceVerticalAnglesSnapshot();
  const AngleTable t = deviceTable(kDegree133, 2, 25);
  setDeviceVerticalAngles(t);
  EXPECT_EQ(deviceVerticalAnglesSnapshot(), t);
  EXPECT_EQ(deviceVerticalAngles[2].load(), t[2]);
  setDeviceVerticalAngles(before);
}

struct ScaleCase {
  double raw;
  int accuaryMode;
  double cm;
};
class ScaleDistance : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(ScaleDistance, RawCountsToCentimetres) {
  EXPECT_DOUBLE_EQ(scaleDistance(GetParam().raw, GetParam().accuaryMode), GetParam().cm);
}
INSTANTIATE_TEST_SUITE_P(Cases, ScaleDistance,
                         ::testing::Values(ScaleCase{1000, kResolution025, 250},
                                           ScaleCase{1000, kResolution04, 400},
                                           ScaleCase{65535, kResolution025, 16383.75},
                                           ScaleCase{65535, kResolution04, 26214},
                                           ScaleCase{1, kResolution04, 0.4},
                                           ScaleCase{0, kResolution025, 0}));

struct PositionCase {
  const char* name;
  double dCm, azimuth;
  int degreeMode, ch;  // the vertical angle is that nominal channel's; ch -1 means 0 degrees
  double x, y, z;      // metres
};
class PointPosition : public ::testing::TestWithParam<PositionCase> {};

TEST_P(PointPosition, InMetres) {
  const auto& c = GetParam();
  double cosV = 1.0, sinV = 0.0;
  if (c.ch >= 0) {
    const ChannelTrig trig = channelTrig(nominalVerticalAngles(c.degreeMode));
    cosV = trig.cosV[c.ch];
    sinV = trig.sinV[c.ch];
  }
  const PointXYZ p = pointPosition(c.dCm, c.azimuth, cosV, sinV);
  const double tol = 2e-7 * std::max(1.0, std::fabs(c.dCm) / 100.0) + 1e-6;
  EXPECT_NEAR(p.x, c.x, tol);
  EXPECT_NEAR(p.y, c.y, tol);
  EXPECT_NEAR(p.z, c.z, tol);
}
// Reference values worked out with pi taken as 3.14159. The optical centre lies 4.376 cm from
// the axis at 14.67 degrees and 0.426 cm up: at A = 0 on a level channel,
// x = (d + 4.376 cos 14.67) / 100 and y = 4.376 sin 14.67 / 100.
INSTANTIATE_TEST_SUITE_P(
    Cases, PointPosition,
    ::testing::Values(
        PositionCase{"Ahead", 1000, 0, 0, -1, 10.042333448, 0.011082274, 0.00426},
        PositionCase{"AtTheOrigin", 0, 0, 0, -1, 0.042333448, 0.011082274, 0.00426},
        PositionCase{"RightAt90HasNegativeY", 1000, 90, 0, -1, 0.011095598, -10.042333433, 0.00426},
        PositionCase{"Behind", 1000, 180, 0, -1, -10.042333418, -0.011108923, 0.00426},
        PositionCase{"LeftAt270", 1000, 270, 0, -1, -0.011122247, 10.042333404, 0.00426},
        PositionCase{"LowestChannel", 4000, 45, kDegree2, 0, 27.358298453, -27.342589462,
                     -10.348493260},
        PositionCase{"JustBeforeTheWrap", 400, 359.99, kDegree133, 15, 3.981562505, 0.011798318,
                     0.698852130},
        // Far enough for pi = 3.14159 to show: the exact pi gives x = -0.0110823.
        PositionCase{"FarAt270", 20000, 270, kDegree2, 15, -0.011851394, 193.227510107,
                     51.768026301}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ChannelTrig, UsesTheGivenAngles) {
  const ChannelTrig t = channelTrig(nominalVerticalAngles(kDegree2));
  EXPECT_NEAR(t.sinV[0], -0.258818, 1e-6);  // -15 degrees
  EXPECT_NEAR(t.cosV[15], 0.965926, 1e-6);  // 15 degrees
  EXPECT_NEAR(t.sinV[1], 0.0174524, 1e-6);  // 1 degree
}

}  // namespace
}  // namespace tovik
