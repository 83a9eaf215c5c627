// The device's own vertical angles on their two roads to the geometry: live (the simulated lidar
// -> the device status receiver -> the chosen table) and recorded (the simulator's capture with
// device packets -> the capture's description -> the chosen table). A calibrated device draws
// with its own angles; one channel past the 1.5 degree limit sends the whole table back to
// nominal and names the channel.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "acquisition/capture_description.h"
#include "acquisition/capture_file.h"
#include "acquisition/geometry.h"
#include "device/GetSet.h"
#include "loopback_sim.h"
#include "tools/sim/sim_state.h"

using namespace std::chrono_literals;

namespace {

struct AngleCase {
  const char* name;
  int degreeMode;
  int mistakenChannel;  // -1: a well calibrated device
};

class DeviceAngles : public ::testing::TestWithParam<AngleCase> {
 protected:
  tovik::sim::SimConfig config() const {
    tovik::sim::SimConfig c;
    c.degreeMode = GetParam().degreeMode;
    c.seed = 11;
    if (GetParam().mistakenChannel >= 0) {
      c.angleErrorChannel = GetParam().mistakenChannel;
      c.angleErrorDeg = 2.5;
    }
    return c;
  }
  // What the geometry must use for angles the device reported.
  void expectChosen(const tovik::AngleTable& reported) const {
    const AngleCase& c = GetParam();
    const tovik::sim::SimState state = tovik::sim::initialState(config());
    for (int ch = 0; ch < 16; ++ch)
      ASSERT_FLOAT_EQ(reported[size_t(ch)], float(state.verticalAngleDeg(ch))) << ch;
    int mistaken = -2;
    const tovik::AngleTable chosen = tovik::chooseVerticalAngles(c.degreeMode, reported, &mistaken);
    EXPECT_EQ(mistaken, c.mistakenChannel);
    EXPECT_EQ(chosen,
              c.mistakenChannel < 0 ? reported : tovik::nominalVerticalAngles(c.degreeMode));
  }
};

TEST_P(DeviceAngles, LiveFromTheDeviceStatusReceiver) {
  tovik::setDeviceVerticalAngles(tovik::AngleTable{});
  tovik::sim::RunOptions o =
      tovik::test::loopbackSimulator(tovik::test::freeUdpPort(), tovik::test::freeUdpPort());
  o.sim = [&] {
    tovik::sim::SimConfig c = config();
    c.dataPort = o.sim.dataPort;
    c.devicePort = o.sim.devicePort;
    return c;
  }();
  GetSet receiver;
  receiver.port = o.sim.devicePort;
  receiver.start();
  ASSERT_TRUE(tovik::test::waitUntilBound(o.sim.devicePort));
  tovik::test::SimulatedLidar lidar(o);
  std::string error;
  ASSERT_TRUE(lidar.start(&error)) << error;
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (receiver.stats().accepted == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  lidar.stop();
  receiver.stopRequested = true;
  ASSERT_TRUE(receiver.wait(5000));
  ASSERT_GE(receiver.stats().accepted, 1u);
  expectChosen(tovik::deviceVerticalAnglesSnapshot());
}

TEST_P(DeviceAngles, RecordedInTheSimulatorsCapture) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string file = dir.filePath(QStringLiteral("described.pcap")).toStdString();
  std::string args = " --pcap " + file + " --with-device-packets --duration 2.5 --quiet --seed 11" +
                     " --angle-mode " + std::to_string(GetParam().degreeMode);
  if (GetParam().mistakenChannel >= 0)
    args += " --mistaken-channel " + std::to_string(GetParam().mistakenChannel);
  ASSERT_EQ(std::system((std::string(TOVIK_SIM_EXE) + args).c_str()), 0) << args;

  tovik::capture::CaptureFile capture;
  ASSERT_TRUE(capture.open(file)) << capture.errorString();
  ASSERT_GE(capture.index().devicePackets.size(), 2u);
  const tovik::CaptureDescription d = tovik::describeCapture(capture.index().devicePackets);
  ASSERT_TRUE(d.fromDevice);
  EXPECT_EQ(d.degreeMode, GetParam().degreeMode);
  expectChosen(d.verticalAngles);
}

INSTANTIATE_TEST_SUITE_P(Devices, DeviceAngles,
                         ::testing::Values(AngleCase{"Calibrated2Degree", 0, -1},
                                           AngleCase{"Calibrated133Degree", 1, -1},
                                           AngleCase{"MistakenChannel6", 0, 6},
                                           AngleCase{"MistakenChannel15", 1, 15}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
