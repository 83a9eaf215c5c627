// A capture's device packets decide its decoding and its vertical angles.
#include "acquisition/capture_description.h"

#include <gtest/gtest.h>

#include <array>

#include "acquisition/lidar_data.h"
#include "tools/sim/sim_state.h"

namespace {

using tovik::CaptureDescription;
using tovik::describeCapture;

struct DescribeCase {
  bool dual;
  int degreeMode;
  int accuaryMode;
};

class DescribeCapture : public ::testing::TestWithParam<DescribeCase> {};

TEST_P(DescribeCapture, TheFirstDevicePacketNamesSensorModesAndAngles) {
  const DescribeCase c = GetParam();
  tovik::sim::SimConfig config;
  config.dualReturn = c.dual;
  config.degreeMode = c.degreeMode;
  config.accuaryMode = c.accuaryMode;
  tovik::sim::SimState state = tovik::sim::initialState(config);
  // A calibrated device: channel ch off its nominal angle by ch hundredths, 5 and 12 negative.
  for (int ch = 0; ch < 16; ++ch) {
    const int nominal = int(tovik::nominalVerticalAngles(c.degreeMode)[ch] * 100 +
                            (tovik::nominalVerticalAngles(c.degreeMode)[ch] < 0 ? -0.5 : 0.5));
    state.verticalAnglesRaw[ch] =
        tovik::sim::encodeSigned(nominal + (ch == 5 || ch == 12 ? -ch : ch));
  }
  std::array<uint8_t, 1206> first{};
  tovik::sim::buildDevicePacket(state, config.startTimeNs, first.data());
  // A later packet from a device switched to the other layout must not win.
  tovik::sim::SimState later = state;
  later.dualReturn = !c.dual;
  std::array<uint8_t, 1206> second{};
  tovik::sim::buildDevicePacket(later, config.startTimeNs, second.data());

  const CaptureDescription d = describeCapture({first.data(), second.data()});
  ASSERT_TRUE(d.fromDevice);
  EXPECT_EQ(d.devicePackets, 2u);
  EXPECT_EQ(d.sensorType, c.dual ? "Tovik16-2" : "Tovik16-1");
  EXPECT_EQ(d.dualReturn(), c.dual);
  EXPECT_EQ(d.layout(), c.dual ? tovik::OfflineAssembler::Layout::Dual
                               : tovik::OfflineAssembler::Layout::Single);
  EXPECT_EQ(d.degreeMode, c.degreeMode);
  EXPECT_EQ(d.accuaryMode, c.accuaryMode);
  for (int ch = 0; ch < 16; ++ch)
    EXPECT_NEAR(d.verticalAngles[ch], state.verticalAngleDeg(ch), 1e-4) << "channel " << ch;
}

INSTANTIATE_TEST_SUITE_P(Modes, DescribeCapture,
                         ::testing::Values(DescribeCase{false, 0, 0}, DescribeCase{true, 0, 0},
                                           DescribeCase{false, 1, 1}, DescribeCase{true, 1, 0}));

TEST(DescribeCapture, NoDevicePacketDescribesNothing) {
  const CaptureDescription d = describeCapture({});
  EXPECT_FALSE(d.fromDevice);
  EXPECT_EQ(d.devicePackets, 0u);
}

}  // namespace
