// The simulated lidar: packet timing and azimuths, the device information packet, the scene,
// the configuration datagrams, determinism, the loopback-only rule, captures and the network
// runner over loopback.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/geometry.h"
#include "acquisition/revolution_assembler.h"
#include "acquisition/udp_socket.h"
#include "tools/sim/address_policy.h"
#include "tools/sim/faults.h"
#include "tools/sim/scene.h"
#include "tools/sim/sim_runner.h"
#include "tools/sim/simulator.h"

namespace tovik::sim {
namespace {

using Packet = std::array<uint8_t, kDatagramSize>;

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
int blockAzimuth(const Packet& p, int k) { return le16(p.data() + 100 * k + 2); }
int rawDistance(const Packet& p, int k, int j) { return le16(p.data() + 100 * k + 4 + 3 * j); }
int intensity(const Packet& p, int k, int j) { return p[100 * size_t(k) + 6 + 3 * size_t(j)]; }
int deviceSigned(uint16_t v) { return v > 32767 ? int(v) - 65535 : int(v); }

std::vector<Packet> generate(Simulator& sim, size_t n, std::vector<uint64_t>* times = nullptr) {
  std::vector<Packet> out(n);
  for (size_t i = 0; i < n; ++i) {
    uint64_t t = 0;
    sim.nextPointPacket(out[i].data(), &t);
    if (times) times->push_back(t);
  }
  return out;
}

// Azimuths of the firing positions in stream order: every block, or every even block of the
// dual-return layout (its odd block repeats the azimuth).
std::vector<int> positionAzimuths(const std::vector<Packet>& packets, bool dual,
                                  std::vector<size_t>* packetOf = nullptr) {
  std::vector<int> az;
  for (size_t i = 0; i < packets.size(); ++i)
    for (int k = 0; k < 12; k += dual ? 2 : 1) {
      az.push_back(blockAzimuth(packets[i], k));
      if (packetOf) packetOf->push_back(i);
    }
  return az;
}

SimConfig exactConfig() {
  SimConfig c;
  c.noiseCm = 0;
  return c;
}

// ---------------------------------------------------------------------------------------------
// Timing and azimuths

struct RateCase {
  int rpm;
  bool dual;
};

class PacketsPerRevolution : public ::testing::TestWithParam<RateCase> {};

TEST_P(PacketsPerRevolution, WrapSpacingMatchesFiringRateAndMotorSpeed) {
  const RateCase c = GetParam();
  SimConfig config = exactConfig();
  config.rpm = c.rpm;
  config.dualReturn = c.dual;
  Simulator sim(config);
  // A packet spans 1.2 ms (single) or 0.6 ms (dual); the head turns rpm / 60 times a second.
  const double packetsPerSecond = c.dual ? 1e6 / 600.0 : 1e6 / 1200.0;
  const double expected = packetsPerSecond / (c.rpm / 60.0);
  const int revolutions = 6;
  const auto packets = generate(sim, size_t(expected * (revolutions + 1)) + 2);

  std::vector<size_t> packetOf;
  const std::vector<int> az = positionAzimuths(packets, c.dual, &packetOf);
  std::vector<size_t> wrapPackets;
  for (size_t i = 1; i < az.size(); ++i) {
    ASSERT_GE(az[i], 0);
    ASSERT_LT(az[i], 36000);
    int step = az[i] - az[i - 1];
    if (step < 0) {
      wrapPackets.push_back(packetOf[i]);
      step += 36000;
    }
    // Each firing position advances rpm x 0.06 hundredths (rounded to whole hundredths).
    EXPECT_NEAR(step, c.rpm * 0.06, 1.0) << "position " << i;
  }
  ASSERT_GE(wrapPackets.size(), size_t(revolutions));
  EXPECT_EQ(sim.revolutions(), wrapPackets.size());
  const double spacing =
      double(wrapPackets[revolutions - 1] - wrapPackets[0]) / double(revolutions - 1);
  EXPECT_NEAR(spacing, expected, 1.0);
}

INSTANTIATE_TEST_SUITE_P(RpmAndLayout, PacketsPerRevolution,
                         ::testing::Values(RateCase{300, false}, RateCase{600, false},
                                           RateCase{1200, false}, RateCase{300, true},
                                           RateCase{600, true}, RateCase{1200, true}),
                         [](const auto& info) {
                           return std::to_string(info.param.rpm) +
                                  (info.param.dual ? "Dual" : "Single");
                         });

class LayoutTiming : public ::testing::TestWithParam<bool> {};

TEST_P(LayoutTiming, TimestampsFollowTheFiringClock) {
  const bool dual = GetParam();
  SimConfig config = exactConfig();
  config.dualReturn = dual;
  Simulator sim(config);
  const uint64_t periodNs = dual ? 600000 : 1200000;
  const uint64_t firingsPerPacket = 384;  // 12 blocks of 32 records, whatever the layout
  EXPECT_EQ(sim.nowNs(), config.startTimeNs);

  std::vector<uint64_t> times;
  uint64_t announced = sim.nextPacketTimeNs();
  const auto packets = generate(sim, 50, &times);
  EXPECT_EQ(times[0], announced);
  for (size_t i = 0; i < packets.size(); ++i) {
    const uint32_t ts = le32(packets[i].data() + 1200);
    // The timestamp is the send time (the last firing) in us since the top of the hour.
    EXPECT_EQ(ts, (times[i] / 1000) % 3600000000ull);
    // The first firing by the receivers' time formula is the packet's start on the simulated
    // clock (to the microsecond the timestamp is truncated to).
    const double packetStartUs =
        double(config.startTimeNs % 3600000000000ull) / 1000.0 + double(i * periodNs) / 1000.0;
    const double first = dual ? ts - 596.875 : ts - 1196.875;
    EXPECT_NEAR(first, packetStartUs, 1.0);
    if (i > 0) {
      EXPECT_EQ(times[i] - times[i - 1], periodNs);
      EXPECT_EQ(ts - le32(packets[i - 1].data() + 1200), periodNs / 1000);
    }
  }
  EXPECT_EQ(times.back() - times.front(), 49 * firingsPerPacket * 3125 / (dual ? 2 : 1));
}

TEST_P(LayoutTiming, TimestampWrapsAtTheTopOfTheHour) {
  SimConfig config = exactConfig();
  config.dualReturn = GetParam();
  // 5 ms before a full hour.
  config.startTimeNs = (1700000000ull / 3600 + 1) * 3600 * 1000000000ull - 5000000;
  Simulator sim(config);
  const auto packets = generate(sim, 20);
  int wraps = 0;
  for (size_t i = 1; i < packets.size(); ++i) {
    const uint32_t prev = le32(packets[i - 1].data() + 1200);
    const uint32_t cur = le32(packets[i].data() + 1200);
    ASSERT_LT(cur, 3600000000u);
    if (cur < prev) {
      ++wraps;
      EXPECT_GT(prev, 3600000000u - 2000);
      EXPECT_LT(cur, 2000u);
    }
  }
  EXPECT_EQ(wraps, 1);
}

INSTANTIATE_TEST_SUITE_P(Layouts, LayoutTiming, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Dual" : "Single"; });

TEST(SimDualReturn, PairsShareAzimuthAndWalkerEdgesHaveASecondEchoBehind) {
  SimConfig config = exactConfig();
  config.dualReturn = true;
  Simulator sim(config);
  const auto packets = generate(sim, 167 * 4);
  int differing = 0;
  for (const Packet& p : packets) {
    for (int k = 0; k < 12; k += 2) {
      ASSERT_EQ(p[size_t(100 * k)], 0xFF);
      ASSERT_EQ(p[size_t(100 * (k + 1) + 1)], 0xEE);
      ASSERT_EQ(blockAzimuth(p, k), blockAzimuth(p, k + 1));
      for (int j = 0; j < 32; ++j) {
        const int strong = rawDistance(p, k, j), second = rawDistance(p, k + 1, j);
        if (strong == second) {
          EXPECT_EQ(intensity(p, k, j), intensity(p, k + 1, j));
          continue;
        }
        ++differing;
        // The second echo comes from behind the walker, weaker.
        EXPECT_GT(second, strong);
        EXPECT_LT(intensity(p, k + 1, j), 255);
      }
    }
  }
  EXPECT_GT(differing, 0);
}

// The team's assemblers cut the stream into revolutions, and the points placed by the shared
// geometry with the angles the device reports lie on the simulated room's surfaces: the
// simulator and the decoders agree on the layout, the azimuth direction, the distance unit and
// the calibrated vertical angles (channel 3 is calibrated a whole degree off its nominal angle
// here; decoded with the nominal table, floor points land about 8 cm off the floor).
class DecodedScene : public ::testing::TestWithParam<bool> {};

TEST_P(DecodedScene, RevolutionsCloseAndPointsLieInTheRoom) {
  const bool dual = GetParam();
  SimConfig config;
  config.dualReturn = dual;
  config.scene = SceneLayout::emptyRoom();
  config.angleErrorChannel = 3;
  config.angleErrorDeg = 1.0;
  Simulator sim(config);
  AngleTable reported{};
  for (int ch = 0; ch < 16; ++ch) reported[size_t(ch)] = float(sim.state().verticalAngleDeg(ch));
  LiveSingleAssembler single;
  LiveDualAssembler pairs;
  std::vector<LidarData> frames;
  Packet p;
  uint64_t t;
  for (int i = 0; i < (dual ? 167 : 84) * 3 + 2; ++i) {
    sim.nextPointPacket(p.data(), &t);
    if (dual)
      pairs.addPacket(p.data(), frames);
    else
      single.addPacket(p.data(), frames);
  }
  ASSERT_GE(frames.size(), 2u);
  const LidarData& frame = frames[1];  // a full revolution
  const SceneLayout& l = config.scene;
  const ChannelTrig trig = channelTrig(reported);
  size_t points = 0, onWalls = 0;
  double worstOffPlane = 0;
  for (int ch = 0; ch < 16; ++ch) {
    for (size_t i = 0; i < frame.pointCount(ch); ++i) {
      if (frame.distance[ch][i] == 0) continue;
      ++points;
      const double cm = scaleDistance(frame.distance[ch][i], 0);
      const PointXYZ q = pointPosition(cm, frame.azimuth[ch][i], trig.cosV[ch], trig.sinV[ch]);
      // Noise (1 cm), the optical offset (4.4 cm) and the interpolated azimuth stay within 15 cm.
      const double m = 0.15;
      ASSERT_GT(q.x, l.minX - m);
      ASSERT_LT(q.x, l.maxX + m);
      ASSERT_GT(q.y, l.minY - m);
      ASSERT_LT(q.y, l.maxY + m);
      ASSERT_GT(q.z, l.floorZ - m);
      ASSERT_LT(q.z, l.ceilingZ + m);
      onWalls += std::fabs(q.x - l.maxX) < m || std::fabs(q.x - l.minX) < m ||
                 std::fabs(q.y - l.maxY) < m || std::fabs(q.y - l.minY) < m;
      // Floor and ceiling points: their height depends on the vertical angle alone (the
      // optical offset and the azimuth interpolation move points sideways only).
      const double fromWalls = std::min({std::fabs(q.x - l.maxX), std::fabs(q.x - l.minX),
                                         std::fabs(q.y - l.maxY), std::fabs(q.y - l.minY)});
      if (fromWalls > 0.3)
        worstOffPlane = std::max(worstOffPlane,
                                 std::min(std::fabs(q.z - l.floorZ), std::fabs(q.z - l.ceilingZ)));
    }
  }
  EXPECT_LT(worstOffPlane, 0.02) << "floor and ceiling points lie on them";
  // One revolution: 1000 firing positions of 32 records (twice over, merged, in dual-return).
  EXPECT_NEAR(double(points), dual ? 64000.0 : 32000.0, dual ? 640.0 : 320.0);
  EXPECT_GT(onWalls, points / 4);
}

INSTANTIATE_TEST_SUITE_P(Layouts, DecodedScene, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Dual" : "Single"; });

// The factory calibration belongs to the device: the same seed gives the same angles, another
// seed another device; an angle error moves only its channel.
TEST(SimCalibration, FixedBySeedAndMovedByAnAngleError) {
  SimConfig a;
  a.seed = 7;
  SimConfig b = a;
  b.seed = 8;
  EXPECT_EQ(calibratedVerticalAngles(a), calibratedVerticalAngles(a));
  EXPECT_NE(calibratedVerticalAngles(a), calibratedVerticalAngles(b));
  SimConfig mistaken = a;
  mistaken.angleErrorChannel = 11;
  mistaken.angleErrorDeg = -2.5;
  const auto base = calibratedVerticalAngles(a);
  const auto moved = calibratedVerticalAngles(mistaken);
  for (size_t ch = 0; ch < 16; ++ch) EXPECT_EQ(moved[ch] - base[ch], ch == 11 ? -250 : 0) << ch;
}

// ---------------------------------------------------------------------------------------------
// Device information packet

struct DeviceCase {
  bool dual;
  int degreeMode;
  int accuaryMode;
  int rpm;
};

class DevicePacketFields : public ::testing::TestWithParam<DeviceCase> {};

TEST_P(DevicePacketFields, DecodeToTheConfiguredValues) {
  const DeviceCase c = GetParam();
  SimConfig config;
  config.dualReturn = c.dual;
  config.degreeMode = c.degreeMode;
  config.accuaryMode = c.accuaryMode;
  config.rpm = c.rpm;
  config.dataPort = 2400;
  config.devicePort = 2401;
  Simulator sim(config);
  Packet p;
  // 2023-11-14 22:13:20 UTC.
  sim.devicePacket(p.data(), 1700000000ull * 1000000000ull);

  const uint8_t header[8] = {0xA5, 0xFF, 0x00, 0x5A, 0x11, 0x11, 0x55, 0x55};
  EXPECT_EQ(std::memcmp(p.data(), header, 8), 0);
  EXPECT_EQ(be16(&p[8]), c.rpm);
  EXPECT_EQ(std::vector<int>(p.begin() + 10, p.begin() + 14), (std::vector<int>{127, 0, 0, 2}));
  EXPECT_EQ(std::vector<int>(p.begin() + 14, p.begin() + 18), (std::vector<int>{127, 0, 0, 1}));
  EXPECT_EQ(be16(&p[24]), 2400);
  EXPECT_EQ(be16(&p[26]), 2401);
  EXPECT_EQ(be16(&p[40]), 0);  // motor Run
  EXPECT_EQ(be16(&p[44]), 0);  // Running
  // PPS deviation stays within the lock window of +-15 hundredths.
  EXPECT_LE(std::abs(deviceSigned(be16(&p[50]))), 15);
  const uint8_t time[6] = {23, 11, 14, 22, 13, 20};
  EXPECT_EQ(std::memcmp(&p[52], time, 6), 0);
  for (int i = 58; i < 78; ++i) EXPECT_TRUE(std::isprint(p[size_t(i)])) << i;
  EXPECT_EQ(p[78], 'N');
  EXPECT_EQ(p[79], 'E');
  // Plate-2 temperature on the 250 scale of the FPGA 2nd board V2.x: plausible room values.
  ASSERT_EQ(p[1196], 2);
  const double celsius = be16(&p[80]) / 4096.0 * 250.0 - 50.0;
  EXPECT_GT(celsius, 20.0);
  EXPECT_LT(celsius, 70.0);
  EXPECT_EQ(p[83] & 1, 0);          // LVDS locked
  EXPECT_EQ(be16(&p[178]), 20000);  // 200 m
  EXPECT_NE(be16(&p[180]), 0);
  EXPECT_NE(be16(&p[182]), 0);
  EXPECT_EQ(p[185], c.dual ? 1 : 0);
  // Vertical angles in hundredths, negative v written as v + 65535: a calibrated device, each
  // channel within half a degree of the nominal table.
  const AngleTable& nominal = nominalVerticalAngles(c.degreeMode);
  int offNominal = 0;
  for (int ch = 0; ch < 16; ++ch) {
    const double angle = deviceSigned(be16(&p[245 + 2 * size_t(ch)])) / 100.0;
    EXPECT_NEAR(angle, nominal[size_t(ch)], 0.505) << "channel " << ch;
    EXPECT_NEAR(angle, sim.state().verticalAngleDeg(ch), 1e-9) << "channel " << ch;
    offNominal += std::fabs(angle - nominal[size_t(ch)]) > 0.015;
  }
  EXPECT_GE(offNominal, 8) << "calibrated, not the nominal table";
  EXPECT_EQ(p[1164], 'T');
  EXPECT_EQ(be16(&p[1194]), c.degreeMode == 1 ? 133 : 200);
  // Distance resolution as receivers read it: major >= 3 and minor 5..9 means 0.4 cm.
  const int major = p[1202], minor = p[1203] >> 4;
  EXPECT_EQ(major >= 3 && minor >= 5 && minor <= 9, c.accuaryMode == 1);
  EXPECT_EQ(p[1204], 0x0F);
  EXPECT_EQ(p[1205], 0xF0);
}

INSTANTIATE_TEST_SUITE_P(Modes, DevicePacketFields,
                         ::testing::Values(DeviceCase{false, 0, 0, 600},
                                           DeviceCase{true, 1, 1, 1200},
                                           DeviceCase{true, 0, 1, 300},
                                           DeviceCase{false, 1, 0, 600}),
                         [](const auto& info) {
                           const DeviceCase& c = info.param;
                           return std::string(c.dual ? "Dual" : "Single") + "Angle" +
                                  std::to_string(c.degreeMode) + "Resolution" +
                                  std::to_string(c.accuaryMode) + "Rpm" + std::to_string(c.rpm);
                         });

// ---------------------------------------------------------------------------------------------
// Scene

struct RayCase {
  const char* name;
  double elevation, azimuth;
  Surface surface;
};

TEST(SimScene, RaysInTheEmptyRoomMeetTheExpectedSurfaceAtTheExpectedDistance) {
  const SceneLayout l = SceneLayout::emptyRoom();
  const Scene scene(l);
  const double d2r = M_PI / 180.0;
  struct Expect {
    RayCase ray;
    double distance;
  } cases[] = {
      // Azimuth 0 looks along +x, 90 along -y (clockwise seen from above).
      {{"ahead", 0, 0, Surface::Wall}, l.maxX},
      {{"right", 0, 90, Surface::Wall}, -l.minY},
      {{"behind", 0, 180, Surface::Wall}, -l.minX},
      {{"left", 0, 270, Surface::Wall}, l.maxY},
      {{"ahead, 1 degree up", 1, 0, Surface::Wall}, l.maxX / std::cos(1 * d2r)},
      {{"floor", -15, 0, Surface::Floor}, -l.floorZ / std::sin(15 * d2r)},
      {{"ceiling", 15, 180, Surface::Ceiling}, l.ceilingZ / std::sin(15 * d2r)},
  };
  for (const Expect& e : cases) {
    const Hit h = scene.cast(Scene::beamDirection(e.ray.elevation, e.ray.azimuth), 0.0);
    EXPECT_EQ(h.surface, e.ray.surface) << e.ray.name;
    EXPECT_NEAR(h.distance, e.distance, 1e-6) << e.ray.name;
    EXPECT_GT(h.intensity, 0) << e.ray.name;
  }
  // Surfaces differ in intensity: floor and wall at similar incidence.
  const Hit floor = scene.cast(Scene::beamDirection(-15, 45), 0.0);
  const Hit wall = scene.cast(Scene::beamDirection(0, 45), 0.0);
  EXPECT_NE(floor.intensity, wall.intensity);
}

TEST(SimScene, PacketRecordEncodesTheWallDistanceInBothResolutions) {
  for (int resolution : {0, 1}) {
    SimConfig config = exactConfig();
    config.scene = SceneLayout::emptyRoom();
    config.accuaryMode = resolution;
    Simulator sim(config);
    Packet p;
    uint64_t t;
    sim.nextPointPacket(p.data(), &t);
    // Block 0 fires at azimuth 0; record 14 is channel 14, 1 degree down in the 2 degree table.
    ASSERT_EQ(blockAzimuth(p, 0), 0);
    const double cm = config.scene.maxX / std::cos(1.0 * M_PI / 180.0) * 100.0;
    const double countsPerCm = resolution == 0 ? 4.0 : 2.5;
    EXPECT_NEAR(rawDistance(p, 0, 14), cm * countsPerCm, 1.0) << "resolution " << resolution;
    EXPECT_GT(intensity(p, 0, 14), 0);
  }
}

TEST(SimScene, TheWalkerMovesAtWalkingSpeedAndTurnsAtTheEnds) {
  const Scene scene;
  ASSERT_EQ(scene.layout().walkers.size(), 1u);
  const SceneWalker& w = scene.layout().walkers[0];
  const Vec3 a = scene.walkerPosition(0, 0.0), b = scene.walkerPosition(0, 1.0);
  EXPECT_NEAR(std::hypot(b.x - a.x, b.y - a.y), 1.0, 1e-9);
  double lo = 1e9, hi = -1e9;
  for (double t = 0; t < 30; t += 0.05) {
    const double y = scene.walkerPosition(0, t).y;
    lo = std::min(lo, y);
    hi = std::max(hi, y);
  }
  EXPECT_NEAR(lo, w.yMin, 0.06);
  EXPECT_NEAR(hi, w.yMax, 0.06);

  // A horizontal beam aimed at the walker's start position hits it, and misses it 3 s later.
  const double az = -std::atan2(a.y, a.x) * 180.0 / M_PI;
  const Vec3 dir = Scene::beamDirection(-5, az < 0 ? az + 360 : az);
  const Hit before = scene.cast(dir, 0.0), after = scene.cast(dir, 3.0);
  EXPECT_EQ(before.surface, Surface::Walker);
  EXPECT_NE(after.surface, Surface::Walker);
  EXPECT_GT(after.distance, before.distance);
}

// ---------------------------------------------------------------------------------------------
// Determinism and faults

TEST(SimDeterminism, SameSeedSameBytesOtherSeedOtherNoise) {
  SimConfig config;
  config.seed = 7;
  Simulator a(config), b(config);
  config.seed = 8;
  Simulator c(config);
  const auto pa = generate(a, 300), pb = generate(b, 300), pc = generate(c, 300);
  EXPECT_EQ(pa, pb);
  EXPECT_NE(pa, pc);
  // The seed changes the range noise only: azimuths and timestamps agree.
  for (size_t i = 0; i < pa.size(); ++i) {
    EXPECT_EQ(blockAzimuth(pa[i], 5), blockAzimuth(pc[i], 5));
    EXPECT_EQ(le32(pa[i].data() + 1200), le32(pc[i].data() + 1200));
  }
}

TEST(SimFaults, RatiosHoldAndTheSequenceRepeatsForASeed) {
  FaultConfig f;
  f.dropRatio = 0.1;
  f.shortRatio = 0.2;
  f.badHeaderRatio = 0.05;
  f.junkRatio = 0.1;
  f.seed = 42;
  auto run = [&](std::vector<size_t>* lengths) {
    FaultInjector inj(f);
    std::vector<uint8_t> junkBuf(kMaxJunkSize);
    for (int i = 0; i < 20000; ++i) {
      Packet p{};
      p[0] = 0xFF;
      p[1] = 0xEE;
      size_t n = kDatagramSize;
      const bool sent = inj.apply(p.data(), &n);
      lengths->push_back(sent ? n : 0);
      if (sent) {
        const bool flagOk = p[0] == 0xFF && p[1] == 0xEE;
        lengths->push_back(flagOk ? 1 : 0);
        EXPECT_GE(n, 1u);
        EXPECT_LE(n, kDatagramSize);
      }
      size_t jn = 0;
      if (inj.junkAfter(junkBuf.data(), &jn)) {
        EXPECT_FALSE(junkBuf[0] == 0xFF || junkBuf[0] == 0xA5);
        EXPECT_GE(jn, 1u);
        EXPECT_LE(jn, kMaxJunkSize);
      }
    }
    return inj.counts();
  };
  std::vector<size_t> first, second;
  const FaultCounts c = run(&first);
  run(&second);
  EXPECT_EQ(first, second);
  const double n = 20000;
  EXPECT_NEAR(c.dropped / n, 0.1, 0.015);
  EXPECT_NEAR(c.shortened / (n - c.dropped), 0.2, 0.02);
  EXPECT_NEAR(c.badHeader / (n - c.dropped), 0.05, 0.01);
  EXPECT_NEAR(c.junk / n, 0.1, 0.015);
}

// ---------------------------------------------------------------------------------------------
// Configuration datagrams, built field by field as the viewer builds them

void put16(Packet& p, size_t at, uint16_t v) {
  p[at] = uint8_t(v >> 8);
  p[at + 1] = uint8_t(v);
}
void putIp(Packet& p, size_t at, std::array<uint8_t, 4> ip) {
  std::copy(ip.begin(), ip.end(), p.begin() + long(at));
}

// A network configuration datagram: a copy of the device packet with a new header, the edited
// fields and the tail 0F F0.
Packet networkConfig(const Simulator& sim) {
  Packet p;
  sim.devicePacket(p.data());
  const uint8_t header[8] = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xAA, 0xAA};
  std::memcpy(p.data(), header, 8);
  p[1204] = 0x0F;
  p[1205] = 0xF0;
  return p;
}

Packet advancedConfig(const Simulator& sim) {
  Packet p = networkConfig(sim);
  p[6] = p[7] = 0xBB;
  const uint8_t marker[8] = {0x55, 0xAA, 0xAA, 0x55, 0x33, 0x33, 0x11, 0x11};
  std::memcpy(&p[160], marker, 8);
  return p;
}

Packet verticalAngleConfig(const Simulator& sim) {
  Packet p = advancedConfig(sim);
  p[6] = p[7] = 0xAA;
  std::fill(p.begin() + 277, p.begin() + 309, 0);
  return p;
}

Packet factoryDefaults() {
  Packet p{};
  const uint8_t header[8] = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xAA, 0xAA};
  std::memcpy(p.data(), header, 8);
  put16(p, 8, 300);
  putIp(p, 10, {192, 168, 1, 200});
  putIp(p, 14, {192, 168, 1, 102});
  put16(p, 24, 2368);
  put16(p, 26, 2369);
  const uint8_t time[6] = {24, 5, 1, 12, 0, 0};
  std::memcpy(&p[52], time, 6);
  p[1204] = 0x0F;
  p[1205] = 0xF0;
  return p;
}

TEST(SimConfigDatagrams, NetworkConfigurationChangesEveryEditableField) {
  Simulator sim((SimConfig()));
  Packet p = networkConfig(sim);
  put16(p, 8, 1200);
  putIp(p, 10, {127, 0, 0, 5});
  putIp(p, 14, {127, 0, 0, 9});
  const uint8_t mac[6] = {0x60, 0x76, 0x88, 0x00, 0x00, 0x07};
  std::memcpy(&p[18], mac, 6);
  put16(p, 24, 2370);
  put16(p, 26, 2371);
  putIp(p, 28, {10, 1, 2, 3});
  put16(p, 40, kMotorStop);
  put16(p, 42, 3);
  put16(p, 44, kLidarSleep);
  put16(p, 48, 36000);
  const uint8_t time[6] = {24, 5, 1, 12, 30, 15};
  std::memcpy(&p[52], time, 6);

  const std::string log = sim.applyDatagram(p.data(), p.size());
  EXPECT_NE(log.find("network configuration"), std::string::npos) << log;
  EXPECT_NE(log.find("rpm 600 -> 1200"), std::string::npos) << log;
  EXPECT_NE(log.find("data port 2368 -> 2370"), std::string::npos) << log;
  const SimState& s = sim.state();
  EXPECT_EQ(s.rpm, 1200);
  EXPECT_EQ(s.listenAddress, "127.0.0.5");
  EXPECT_EQ(s.sendAddress, "127.0.0.9");
  EXPECT_EQ(s.dataPort, 2370);
  EXPECT_EQ(s.devicePort, 2371);
  EXPECT_EQ(s.packetInterval, 3);
  EXPECT_EQ(s.ppsAngle, 36000);
  EXPECT_FALSE(s.streaming());

  // The next device packet reports the new values.
  Packet d;
  sim.devicePacket(d.data());
  EXPECT_EQ(be16(&d[8]), 1200);
  EXPECT_EQ(d[13], 5);
  EXPECT_EQ(d[17], 9);
  EXPECT_EQ(std::memcmp(&d[18], mac, 6), 0);
  EXPECT_EQ(be16(&d[24]), 2370);
  EXPECT_EQ(be16(&d[26]), 2371);
  EXPECT_EQ(d[28], 10);
  EXPECT_EQ(be16(&d[40]), kMotorStop);
  EXPECT_EQ(be16(&d[44]), kLidarSleep);
  EXPECT_EQ(be16(&d[48]), 36000);
  EXPECT_EQ(std::memcmp(&d[52], time, 6), 0);  // the device clock was set
}

TEST(SimConfigDatagrams, MotorSpeedChangesPacketsPerRevolution) {
  SimConfig config = exactConfig();
  Simulator sim(config);
  auto wrapsIn = [&](size_t n) {
    const uint64_t before = sim.revolutions();
    generate(sim, n);
    return sim.revolutions() - before;
  };
  EXPECT_NEAR(double(wrapsIn(834 * 2)), 20.0, 1.0);  // 10 rev/s over 2 s
  Packet p = networkConfig(sim);
  put16(p, 8, 1200);
  ASSERT_FALSE(sim.applyDatagram(p.data(), p.size()).empty());
  EXPECT_NEAR(double(wrapsIn(834 * 2)), 40.0, 1.0);
}

TEST(SimConfigDatagrams, AddressesOffThisMachineAreNeverUsed) {
  Simulator sim((SimConfig()));
  Packet p = networkConfig(sim);
  putIp(p, 10, {192, 168, 1, 200});
  putIp(p, 14, {8, 8, 8, 8});
  const std::string log = sim.applyDatagram(p.data(), p.size());
  EXPECT_NE(log.find("reported only"), std::string::npos) << log;
  EXPECT_NE(log.find("lidar IP 192.168.1.200 refused"), std::string::npos) << log;
  const SimState& s = sim.state();
  // The viewer sends to the reported lidar address: it stays on this machine.
  EXPECT_EQ(s.lidarIp, (Ipv4{127, 0, 0, 2}));
  EXPECT_EQ(s.destIp, (Ipv4{8, 8, 8, 8}));
  EXPECT_EQ(s.listenAddress, "127.0.0.2");
  EXPECT_EQ(s.sendAddress, "127.0.0.1");
  // A multicast destination is taken: it is sent through the loopback interface.
  putIp(p, 14, {224, 1, 1, 1});
  sim.applyDatagram(p.data(), p.size());
  EXPECT_EQ(sim.state().sendAddress, "224.1.1.1");
}

TEST(SimConfigDatagrams, AdvancedSettingsChangeLayoutRangeAndParameters) {
  SimConfig config = exactConfig();
  config.scene = SceneLayout::emptyRoom();
  Simulator sim(config);
  Packet p = advancedConfig(sim);
  put16(p, 178, 500);  // 5 m
  put16(p, 180, 7);
  put16(p, 182, 90);
  p[184] = 1;
  p[185] = 1;                // dual-return
  put16(p, 186, 0xFFFF);     // -0.01 in 16-bit two's complement
  put16(p, 194, 65535 - 1);  // -0.01 as the device encodes it
  const std::string log = sim.applyDatagram(p.data(), p.size());
  EXPECT_NE(log.find("advanced settings"), std::string::npos) << log;
  EXPECT_NE(log.find("echo mode single -> dual"), std::string::npos) << log;
  const SimState& s = sim.state();
  EXPECT_TRUE(s.dualReturn);
  EXPECT_EQ(s.rangeX100, 500);
  EXPECT_EQ(s.tailThreshold, 7);
  EXPECT_EQ(s.tailDistanceCm, 90);
  EXPECT_EQ(s.zeroDegreePosition, 1);
  Packet d;
  sim.devicePacket(d.data());
  EXPECT_EQ(d[185], 1);
  EXPECT_EQ(be16(&d[186]), 0xFFFF);
  EXPECT_EQ(deviceSigned(be16(&d[194])), -1);

  // The stream switches to block pairs, and walls beyond 5 m give no return.
  uint64_t t;
  Packet data;
  sim.nextPointPacket(data.data(), &t);
  int within = 0;
  for (int k = 0; k < 12; ++k) {
    EXPECT_EQ(blockAzimuth(data, k), blockAzimuth(data, k & ~1));
    for (int j = 0; j < 32; ++j) {
      const int raw = rawDistance(data, k, j);
      EXPECT_LE(raw, 500 * 4 + 4);
      within += raw > 0;
    }
  }
  EXPECT_GT(within, 0);  // the floor close by still answers
}

TEST(SimConfigDatagrams, FactoryDefaultsRestoreTheDeviceAndApplyTheirNetworkFields) {
  Simulator sim((SimConfig()));
  Packet adv = advancedConfig(sim);
  put16(adv, 178, 1234);
  sim.applyDatagram(adv.data(), adv.size());
  ASSERT_EQ(sim.state().rangeX100, 1234);

  const Packet p = factoryDefaults();
  const std::string log = sim.applyDatagram(p.data(), p.size());
  EXPECT_NE(log.find("factory defaults"), std::string::npos) << log;
  const SimState& s = sim.state();
  EXPECT_EQ(s.rangeX100, 20000);
  EXPECT_EQ(s.rpm, 300);
  EXPECT_EQ(s.lidarIp, (Ipv4{127, 0, 0, 2}));  // 192.168.1.200 would leave the machine
  EXPECT_EQ(s.destIp, (Ipv4{192, 168, 1, 102}));
  EXPECT_EQ(s.mac, (MacAddress{}));
  EXPECT_EQ(s.sendAddress, "127.0.0.1");
  EXPECT_EQ(s.listenAddress, "127.0.0.2");
  EXPECT_TRUE(s.streaming());
}

TEST(SimConfigDatagrams, VerticalAnglesAreStoredAndReported) {
  Simulator sim((SimConfig()));
  Packet p = verticalAngleConfig(sim);
  const AngleTable& nominal = nominalVerticalAngles(0);
  for (int ch = 0; ch < 16; ++ch) {
    const int v = int(std::lround(nominal[size_t(ch)] * 100)) + 50;  // half a degree up
    put16(p, 245 + 2 * size_t(ch), uint16_t(v < 0 ? v + 65535 : v));
  }
  const std::string log = sim.applyDatagram(p.data(), p.size());
  EXPECT_NE(log.find("vertical angles"), std::string::npos) << log;
  Packet d;
  sim.devicePacket(d.data());
  for (int ch = 0; ch < 16; ++ch)
    EXPECT_NEAR(deviceSigned(be16(&d[size_t(245 + 2 * ch)])) / 100.0, nominal[size_t(ch)] + 0.5,
                0.011)
        << ch;
  // Not a network configuration: the network fields stay.
  EXPECT_EQ(sim.state().rpm, 600);
}

TEST(SimConfigDatagrams, UnrecognisedDatagramsChangeNothing) {
  Simulator sim((SimConfig()));
  Packet point;
  uint64_t t;
  sim.nextPointPacket(point.data(), &t);
  Packet device;
  sim.devicePacket(device.data());
  Packet shortConfig = networkConfig(sim);
  put16(shortConfig, 8, 1200);
  Packet badHeader = networkConfig(sim);
  badHeader[7] = 0xAB;
  put16(badHeader, 8, 1200);
  struct {
    const char* name;
    const uint8_t* data;
    size_t size;
  } cases[] = {{"point packet", point.data(), point.size()},
               {"device packet", device.data(), device.size()},
               {"short configuration", shortConfig.data(), 600},
               {"wrong header", badHeader.data(), badHeader.size()}};
  for (const auto& c : cases) {
    EXPECT_EQ(sim.applyDatagram(c.data, c.size), "") << c.name;
    EXPECT_EQ(sim.state().rpm, 600) << c.name;
    EXPECT_FALSE(describeIgnored(c.data, c.size).empty());
  }
}

// ---------------------------------------------------------------------------------------------
// Loopback-only rule

TEST(SimAddressPolicy, OnlyLoopbackAndMulticastAreDestinations) {
  const struct {
    const char* address;
    DestinationKind kind;
  } cases[] = {
      {"127.0.0.1", DestinationKind::Loopback},  {"127.255.255.254", DestinationKind::Loopback},
      {"224.1.1.1", DestinationKind::Multicast}, {"239.255.0.1", DestinationKind::Multicast},
      {"8.8.8.8", DestinationKind::Refused},     {"192.168.1.102", DestinationKind::Refused},
      {"0.0.0.0", DestinationKind::Refused},     {"255.255.255.255", DestinationKind::Refused},
      {"128.0.0.1", DestinationKind::Refused},   {"localhost", DestinationKind::Refused},
      {"127.0.0", DestinationKind::Refused},     {"", DestinationKind::Refused}};
  for (const auto& c : cases) {
    EXPECT_EQ(classifyDestination(c.address), c.kind) << c.address;
    EXPECT_EQ(destinationRefusal(c.address).empty(), c.kind != DestinationKind::Refused)
        << c.address;
  }
}

TEST(SimAddressPolicy, RunnersRefuse8888WithoutSending) {
  RunOptions o;
  o.sim.destAddress = "8.8.8.8";
  o.dataSourcePort = 0;
  o.deviceSourcePort = 0;
  o.packetLimit = 10;
  std::ostringstream log;
  NetworkRunner runner(o, log);
  std::string error;
  EXPECT_FALSE(runner.open(&error));
  EXPECT_NE(error.find("refusing to send to 8.8.8.8"), std::string::npos) << error;
  EXPECT_EQ(runner.dataSourcePort(), 0);  // nothing was bound
  EXPECT_EQ(runner.stats().pointSent + runner.stats().devicePackets, 0u);

  std::ostringstream capture;
  RunStats stats;
  EXPECT_FALSE(writeCapture(o, capture, &stats, &error));
  EXPECT_TRUE(capture.str().empty());

  o.sim.destAddress = "127.0.0.1";
  o.sim.lidarAddress = "192.168.1.200";
  NetworkRunner offMachine(o, log);
  EXPECT_FALSE(offMachine.open(&error));
  EXPECT_NE(error.find("192.168.1.200"), std::string::npos) << error;
}

std::string runTool(const std::string& args, int* status) {
  const std::string cmd = std::string(TOVIK_SIM_EXE) + " " + args + " 2>&1";
  FILE* f = popen(cmd.c_str(), "r");
  std::string out;
  if (!f) return out;
  char buf[512];
  while (size_t n = fread(buf, 1, sizeof buf, f)) out.append(buf, n);
  *status = pclose(f);
  return out;
}

TEST(SimTool, RefusesAnOffMachineDestinationWithAClearMessage) {
  int status = 0;
  const std::string out = runTool("--dest 8.8.8.8 --count 5", &status);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_NE(out.find("refusing to send to 8.8.8.8"), std::string::npos) << out;
  EXPECT_NE(out.find("never off this machine"), std::string::npos) << out;
}

// ---------------------------------------------------------------------------------------------
// Captures

struct CaptureRecord {
  uint64_t timeUs;
  std::vector<uint8_t> frame;
};

std::vector<CaptureRecord> readCapture(const std::string& path, int* linkType) {
  std::vector<CaptureRecord> out;
  char err[PCAP_ERRBUF_SIZE];
  pcap_t* p = pcap_open_offline(path.c_str(), err);
  EXPECT_NE(p, nullptr) << err;
  if (!p) return out;
  *linkType = pcap_datalink(p);
  pcap_pkthdr* h;
  const u_char* data;
  while (pcap_next_ex(p, &h, &data) == 1)
    out.push_back({uint64_t(h->ts.tv_sec) * 1000000 + uint64_t(h->ts.tv_usec),
                   std::vector<uint8_t>(data, data + h->caplen)});
  pcap_close(p);
  return out;
}

std::string tempPath(const char* name) {
  return std::string(TOVIK_TEST_DATA_DIR) + "/" + name + "-" + std::to_string(getpid()) + ".pcap";
}

TEST(SimCapture, PacketBoundWithDevicePacketsReadsBackWithLibpcap) {
  RunOptions o;
  o.packetLimit = 2000;  // 2.4 s: device packets at 0, 1 and 2 s
  o.withDevicePackets = true;
  const std::string path = tempPath("sim-packets");
  {
    std::ofstream f(path, std::ios::binary);
    std::string error;
    RunStats stats;
    ASSERT_TRUE(writeCapture(o, f, &stats, &error)) << error;
    EXPECT_EQ(stats.pointSent, 2000u);
    EXPECT_EQ(stats.devicePackets, 3u);
  }
  int link = 0;
  const auto records = readCapture(path, &link);
  std::remove(path.c_str());
  EXPECT_EQ(link, DLT_EN10MB);
  ASSERT_EQ(records.size(), 2003u);
  int points = 0, devices = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    const auto& f = records[i].frame;
    ASSERT_EQ(f.size(), 14u + 20u + 8u + kDatagramSize) << i;
    const uint8_t* ip = &f[14];
    EXPECT_EQ(ip[9], 17);  // UDP
    EXPECT_EQ(ip[12], 127);
    EXPECT_EQ(ip[19], 1);  // to 127.0.0.1
    const uint16_t dstPort = be16(&f[36]);
    const uint8_t* payload = &f[42];
    if (payload[0] == 0xFF && payload[1] == 0xEE) {
      ++points;
      EXPECT_EQ(dstPort, 2368);
    } else {
      ++devices;
      EXPECT_EQ(payload[0], 0xA5);
      EXPECT_EQ(dstPort, 2369);
    }
    if (i > 0) {
      EXPECT_GE(records[i].timeUs, records[i - 1].timeUs);
    }
  }
  EXPECT_EQ(points, 2000);
  EXPECT_EQ(devices, 3);
  // Capture times follow the simulated clock: 1999 packet periods of 1.2 ms.
  EXPECT_NEAR(double(records.back().timeUs - records[1].timeUs), 1999 * 1200.0, 2.0);
}

TEST(SimCapture, RevolutionBoundFromTheToolEndsWithTheLastWrap) {
  const std::string path = tempPath("sim-revs");
  int status = 0;
  const std::string out = runTool("--pcap " + path + " --revolutions 3 --dual --rpm 1200", &status);
  ASSERT_EQ(status, 0) << out;
  int link = 0;
  const auto records = readCapture(path, &link);
  std::remove(path.c_str());
  std::vector<Packet> packets;
  for (const auto& r : records) {
    ASSERT_EQ(r.frame.size(), 42 + kDatagramSize);
    Packet p;
    std::copy(r.frame.begin() + 42, r.frame.end(), p.begin());
    packets.push_back(p);
  }
  std::vector<size_t> packetOf;
  const std::vector<int> az = positionAzimuths(packets, true, &packetOf);
  std::vector<size_t> wraps;
  for (size_t i = 1; i < az.size(); ++i)
    if (az[i] < az[i - 1]) wraps.push_back(packetOf[i]);
  ASSERT_EQ(wraps.size(), 3u);
  EXPECT_EQ(wraps.back(), packets.size() - 1);
  // 1667 dual packets per second at 20 rev/s: about 83 packets per revolution.
  EXPECT_NEAR(double(packets.size()), 3 * 1e6 / 600.0 / 20.0, 2.0);
}

// ---------------------------------------------------------------------------------------------
// Network runner over loopback

struct Receiver {
  net::UdpSocket socket;
  uint16_t port = 0;
  Receiver() {
    EXPECT_TRUE(socket.open());
    EXPECT_TRUE(socket.bind("127.0.0.1", 0));
    EXPECT_TRUE(socket.setReceiveTimeout(50));
    EXPECT_TRUE(socket.setReceiveBufferSize(4 << 20));
    port = socket.localEndpoint().port;
  }
  using Datagrams = std::vector<std::vector<uint8_t>>;
  // Datagrams received for the given seconds, or until enough(what was received) holds. Tests
  // that wait for something give a generous time and say what is enough: a simulator thread
  // that starts late on a busy machine must not make them miss it.
  Datagrams drain(double seconds, std::vector<double>* at = nullptr,
                  const std::function<bool(const Datagrams&)>& enough = {}) {
    Datagrams out;
    const auto t0 = std::chrono::steady_clock::now();
    uint8_t buf[2048];
    while (std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() < seconds) {
      if (enough && enough(out)) break;
      size_t n = 0;
      if (socket.receive(buf, sizeof buf, &n) != net::RecvStatus::Ok) continue;
      out.emplace_back(buf, buf + n);
      if (at)
        at->push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return out;
  }
  Datagrams drainUntil(const std::function<bool(const Datagrams&)>& enough, double seconds = 5) {
    return drain(seconds, nullptr, enough);
  }
};

auto atLeast(size_t n) {
  return [n](const Receiver::Datagrams& d) { return d.size() >= n; };
}

RunOptions loopbackOptions(uint16_t dataPort, uint16_t devicePort) {
  RunOptions o;
  o.sim.dataPort = dataPort;
  o.sim.devicePort = devicePort;
  o.dataSourcePort = 0;  // leave 2368/2369 to anything else running on this machine
  o.deviceSourcePort = 0;
  o.quiet = true;
  return o;
}

TEST(SimNetwork, StreamsPacedPacketsAndDevicePacketsToLoopback) {
  Receiver data, device;
  RunOptions o = loopbackOptions(data.port, device.port);
  o.packetLimit = 300;  // 0.36 s at 833 packets/s
  std::ostringstream log;
  NetworkRunner runner(o, log);
  std::string error;
  ASSERT_TRUE(runner.open(&error)) << error;
  std::atomic<bool> stop{false};
  std::thread t([&] { runner.run(stop); });
  std::vector<double> at;
  const auto packets = data.drain(5, &at, atLeast(300));
  const auto devices = device.drainUntil(atLeast(1));
  t.join();

  EXPECT_EQ(runner.stats().pointSent, 300u);
  ASSERT_EQ(packets.size(), 300u);
  for (const auto& p : packets) {
    ASSERT_EQ(p.size(), kDatagramSize);
    EXPECT_EQ(p[0], 0xFF);
    EXPECT_EQ(p[1], 0xEE);
  }
  // Paced, not flooded: 300 packets of 1.2 ms take about 0.36 s. The upper bound is loose: a
  // receiving thread held off the processor stretches the span it sees.
  EXPECT_GT(at.back() - at.front(), 0.25);
  EXPECT_LT(at.back() - at.front(), 1.5);
  ASSERT_GE(devices.size(), 1u);
  EXPECT_EQ(devices[0][0], 0xA5);
  EXPECT_EQ(devices[0].size(), kDatagramSize);
}

TEST(SimNetwork, AppliesANetworkConfigurationReceivedOnItsDataSocket) {
  Receiver data, device, moved;
  RunOptions o = loopbackOptions(data.port, device.port);
  o.durationS = 3;
  std::ostringstream log;
  NetworkRunner runner(o, log);
  std::string error;
  ASSERT_TRUE(runner.open(&error)) << error;
  std::atomic<bool> stop{false};
  std::thread t([&] { runner.run(stop); });

  // Like the viewer: take a received device packet, edit it and send it to the lidar address.
  const auto devices = device.drainUntil(atLeast(1));
  ASSERT_FALSE(devices.empty());
  Packet cfg;
  std::copy(devices[0].begin(), devices[0].end(), cfg.begin());
  const uint8_t header[8] = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xAA, 0xAA};
  std::memcpy(cfg.data(), header, 8);
  put16(cfg, 24, moved.port);
  net::UdpSocket sender;
  ASSERT_TRUE(sender.open());
  ASSERT_TRUE(sender.sendTo(cfg.data(), cfg.size(), "127.0.0.2", runner.dataSourcePort()));
  // Junk to the device socket is ignored and logged.
  const uint8_t junk[3] = {1, 2, 3};
  ASSERT_TRUE(sender.sendTo(junk, sizeof junk, "127.0.0.2", runner.deviceSourcePort()));

  const auto after = moved.drainUntil(atLeast(201));
  EXPECT_GT(after.size(), 200u);

  // Motor Stop ends the data; device packets go on and report it.
  put16(cfg, 24, moved.port);
  put16(cfg, 40, kMotorStop);
  ASSERT_TRUE(sender.sendTo(cfg.data(), cfg.size(), "127.0.0.2", runner.dataSourcePort()));
  const auto stillReporting = device.drainUntil(
      [](const Receiver::Datagrams& d) { return !d.empty() && be16(&d.back()[40]) == kMotorStop; });
  // Loopback delivers at send time: what was sent before the stop is in the buffer by now.
  moved.drain(0.1);
  const auto stopped = moved.drain(0.4);
  stop = true;
  t.join();
  EXPECT_TRUE(stopped.empty()) << stopped.size();
  ASSERT_FALSE(stillReporting.empty());
  EXPECT_EQ(be16(&stillReporting.back()[40]), kMotorStop);
  EXPECT_EQ(runner.simulator().state().dataPort, moved.port);
  EXPECT_EQ(runner.stats().configsApplied, 2u);
  EXPECT_EQ(runner.stats().datagramsIgnored, 1u);
  EXPECT_NE(log.str().find("data port " + std::to_string(data.port) + " -> " +
                           std::to_string(moved.port)),
            std::string::npos)
      << log.str();
  EXPECT_NE(log.str().find("ignored datagram"), std::string::npos) << log.str();
}

}  // namespace
}  // namespace tovik::sim
