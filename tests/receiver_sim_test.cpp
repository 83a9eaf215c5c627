// The live receivers fed by the simulated lidar over loopback: every revolution arrives whole.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <mutex>
#include <sstream>
#include <thread>

#include "acquisition/GetlidarData.h"
#include "acquisition/GetlidarData_1.h"
#include "acquisition/udp_socket.h"
#include "loopback_sim.h"
#include "tools/sim/sim_runner.h"

using namespace std::chrono_literals;

namespace {

struct Frames {
  std::mutex mutex;
  std::vector<LidarData> list;
};

// Streams packetCount packets of the simulator at rate times the real pace to receiver, and
// returns what it emitted.
template <typename Receiver>
std::vector<LidarData> receiveFromSimulator(Receiver& receiver, bool dual, uint64_t packetCount,
                                            tovik::sim::RunStats* simStats) {
  tovik::sim::RunOptions o;
  o.sim.dualReturn = dual;
  o.sim.dataPort = tovik::test::freeUdpPort();
  o.sim.devicePort = tovik::test::freeUdpPort();
  o.dataSourcePort = 0;
  o.deviceSourcePort = 0;
  o.rate = 4.0;
  o.packetLimit = packetCount;
  o.quiet = true;

  Frames frames;
  QObject::connect(
      &receiver, &Receiver::SendData, &receiver,
      [&frames](LidarData f) {
        std::lock_guard<std::mutex> lock(frames.mutex);
        frames.list.push_back(std::move(f));
      },
      Qt::DirectConnection);
  receiver.port = o.sim.dataPort;
  receiver.start();
  // Listening once its port is bound: a fixed pause lost the first packets whenever the thread
  // started late.
  EXPECT_TRUE(tovik::test::waitUntilBound(o.sim.dataPort));

  std::ostringstream log;
  tovik::sim::NetworkRunner runner(o, log);
  std::string error;
  EXPECT_TRUE(runner.open(&error)) << error;
  std::atomic<bool> stop{false};
  runner.run(stop);
  *simStats = runner.stats();

  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (receiver.stats().snapshot().packets < simStats->pointSent &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  receiver.stopRequested = true;
  EXPECT_TRUE(receiver.wait(5000));
  std::lock_guard<std::mutex> lock(frames.mutex);
  return frames.list;
}

}  // namespace

TEST(ReceiverWithSimulator, SingleReturnRevolutionsArriveWhole) {
  GetlidarData_1 receiver;
  tovik::sim::RunStats sim;
  // At 600 rpm a firing position advances 0.36 degrees: 1000 blocks a revolution, 84 packets.
  const auto frames = receiveFromSimulator(receiver, false, 84 * 8, &sim);
  EXPECT_EQ(receiver.stats().snapshot().packets, sim.pointSent) << "no datagram lost";
  ASSERT_GE(frames.size(), 6u);
  // The first frame begins wherever the stream began; every later one is a whole revolution:
  // the wrapping block plus 1000 blocks, 2 points per channel each.
  for (size_t f = 1; f < frames.size(); ++f) {
    for (int ch = 0; ch < 16; ++ch) EXPECT_EQ(frames[f].pointCount(ch), 2002u) << f;
    size_t returns = 0;
    for (float d : frames[f].distance[5]) returns += d > 0;
    EXPECT_GT(returns, 1500u) << "the room answers most beams";
  }
}

TEST(ReceiverWithSimulator, DualReturnRevolutionsArriveWholeWithBothEchoes) {
  GetlidarData receiver;
  tovik::sim::RunStats sim;
  // 1000 firing pairs a revolution, 6 pairs a packet: about 167 packets.
  const auto frames = receiveFromSimulator(receiver, true, 167 * 5, &sim);
  EXPECT_EQ(receiver.stats().snapshot().packets, sim.pointSent);
  ASSERT_GE(frames.size(), 3u);
  for (size_t f = 1; f < frames.size(); ++f) {
    EXPECT_TRUE(frames[f].blockAzimuth.empty());
    for (int ch = 0; ch < 16; ++ch) EXPECT_EQ(frames[f].pointCount(ch), 2u * 2002u) << f;
  }
}

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
