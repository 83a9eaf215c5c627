// The live point receivers end to end: real threads, a real socket, datagrams over loopback.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <mutex>
#include <thread>

#include "acquisition/GetlidarData.h"
#include "acquisition/GetlidarData_1.h"
#include "acquisition/live_receive_loop.h"
#include "acquisition/udp_socket.h"
#include "loopback_sim.h"
#include "packet_builder.h"

using namespace std::chrono_literals;
using tovik::test::PacketImage;

namespace {

// Collects what a receiver emits, straight from its thread.
struct Collector {
  std::mutex mutex;
  std::vector<LidarData> frames;
  size_t count() {
    std::lock_guard<std::mutex> lock(mutex);
    return frames.size();
  }
  template <typename Receiver>
  void attach(Receiver& r) {
    QObject::connect(
        &r, &Receiver::SendData, &r,
        [this](LidarData f) {
          std::lock_guard<std::mutex> lock(mutex);
          frames.push_back(std::move(f));
        },
        Qt::DirectConnection);
  }
  // Copies each revolution out of its handle and drops the handle at once, so that the receiver
  // builds later revolutions in the frames it gets back.
  template <typename Receiver>
  void attachHandles(Receiver& r) {
    QObject::connect(
        &r, &Receiver::SendFrame, &r,
        [this](const tovik::SharedFrame& f) {
          std::lock_guard<std::mutex> lock(mutex);
          frames.push_back(*f);
        },
        Qt::DirectConnection);
  }
};

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

class Sender {
 public:
  explicit Sender(uint16_t port) : port_(port) { EXPECT_TRUE(socket_.open()); }
  void send(const uint8_t* data, size_t n) {
    ASSERT_TRUE(socket_.sendTo(data, n, "127.0.0.1", port_)) << socket_.lastError();
  }
  void send(const std::vector<PacketImage>& packets, size_t from = 0, size_t to = size_t(-1)) {
    to = std::min(to, packets.size());
    for (size_t i = from; i < to; ++i) {
      send(packets[i].data(), packets[i].size());
      // Keep well inside the socket buffer even on a loaded machine.
      if (i % 200 == 199) std::this_thread::sleep_for(2ms);
    }
  }

 private:
  tovik::net::UdpSocket socket_;
  uint16_t port_;
};

// The receiver is listening once its port is bound. (Counting a probe datagram instead told
// nothing on a restart, whose counts go on from the run before, and could count a second probe
// after the test had read the count.)
template <typename Receiver>
void startAndWaitUntilListening(Receiver& r) {
  r.start();
  ASSERT_TRUE(tovik::test::waitUntilBound(r.port));
}

template <typename Receiver>
void stopAndWait(Receiver& r) {
  r.stopRequested = true;
  ASSERT_TRUE(r.wait(5000));
  EXPECT_FALSE(r.stopRequested.load());
}

// Three single-return revolutions of 1000 blocks at 0.36 degree steps, then one more block.
std::vector<PacketImage> singleStream(size_t blocks = 3001) {
  return tovik::test::packetsFromAzimuths(
      tovik::test::steadyAzimuths(0, 36, blocks),
      [](size_t n, int j) { return 400 + (n + j) % 1000; }, 5000000);
}

}  // namespace

TEST(LiveSingleReceiver, EmitsEveryRevolutionWithTheExpectedPoints) {
  const uint16_t port = tovik::test::freeUdpPort();
  GetlidarData_1 receiver;
  receiver.port = port;
  receiver.multicastIp = "224.1.1.1";
  Collector got;
  got.attachHandles(receiver);
  Sender sender(port);
  startAndWaitUntilListening(receiver);

  // 3001 blocks need 251 packets; the stream wraps at blocks 1000, 2000 and 3000.
  const auto packets = singleStream();
  sender.send(packets);
  ASSERT_TRUE(waitFor([&] { return got.count() >= 3; })) << got.count();
  stopAndWait(receiver);

  ASSERT_EQ(got.frames.size(), 3u);
  // The first frame: blocks 0..1000 (the wrapping block included), 2 points per channel each.
  // Later frames begin with the 2 points per channel carried over from the wrapping block.
  for (size_t f = 0; f < 3; ++f) {
    for (int ch = 0; ch < 16; ++ch) {
      EXPECT_EQ(got.frames[f].pointCount(ch), 2002u) << "frame " << f << " channel " << ch;
      EXPECT_EQ(got.frames[f].distance[ch].size(), got.frames[f].azimuth[ch].size());
    }
  }
  const auto c = receiver.stats().snapshot();
  EXPECT_EQ(c.packets, packets.size());
  EXPECT_EQ(c.revolutions, 3u);
  EXPECT_EQ(c.lastRevolutionPoints, 16u * 2002u);
}

TEST(LiveSingleReceiver, DropsShortOversizedAndForeignDatagramsAndCountsThem) {
  const uint16_t port = tovik::test::freeUdpPort();
  GetlidarData_1 receiver;
  receiver.port = port;
  Collector got;
  got.attach(receiver);
  Sender sender(port);
  startAndWaitUntilListening(receiver);
  const uint64_t probes = receiver.stats().snapshot().shortDropped;

  const auto packets = singleStream(2001);
  // A short datagram starting FF EE must not be decoded over the previous datagram's bytes.
  sender.send(packets[0].data(), 600);
  std::vector<uint8_t> big(1300, 0);
  big[0] = 0xFF;
  big[1] = 0xEE;
  sender.send(big.data(), big.size());
  PacketImage foreign = packets[0];
  foreign[1] = 0xEF;
  sender.send(foreign.data(), foreign.size());
  sender.send(packets);
  ASSERT_TRUE(waitFor([&] { return got.count() >= 2; }));
  stopAndWait(receiver);

  const auto c = receiver.stats().snapshot();
  EXPECT_EQ(c.shortDropped - probes, 1u);
  EXPECT_EQ(c.oversized, 1u);
  EXPECT_EQ(c.ignored, 1u);
  EXPECT_EQ(c.packets, packets.size());
  // Nothing of the dropped datagrams reached a frame: the first holds exactly blocks 0..1000.
  EXPECT_EQ(got.frames[0].pointCount(0), 2002u);
}

TEST(LiveSingleReceiver, StopsWithoutTrafficAndRestartsOnAFreshRevolution) {
  const uint16_t port = tovik::test::freeUdpPort();
  GetlidarData_1 receiver;
  receiver.port = port;
  Collector got;
  got.attach(receiver);
  Sender sender(port);
  startAndWaitUntilListening(receiver);

  // Half a revolution, then a stop with nothing arriving.
  const auto packets = singleStream();
  sender.send(packets, 0, 40);
  ASSERT_TRUE(waitFor([&] { return receiver.stats().snapshot().packets == 40; }));
  auto timedStop = [&] {
    return tovik::test::elapsedMs([&] {
      receiver.stopRequested = true;
      EXPECT_TRUE(receiver.wait(5000));
    });
  };
  std::vector<double> stopMs = {timedStop()};
  EXPECT_FALSE(receiver.stopRequested.load());
  EXPECT_EQ(got.count(), 0u);

  // The restarted run must not keep the 40 packets of the first run.
  startAndWaitUntilListening(receiver);
  sender.send(packets, 84, 168);  // blocks 1008..2015: wraps once at block 2000
  ASSERT_TRUE(waitFor([&] { return got.count() >= 1; }));
  stopAndWait(receiver);
  ASSERT_EQ(got.frames.size(), 1u);
  // Blocks 1008..2000 only: 993 blocks, 2 points per channel each.
  EXPECT_EQ(got.frames[0].pointCount(3), 2u * 993u);

  // Four more stops with nothing arriving. A stop is seen within one 100 ms receive time-out:
  // the median of the five stays under three times that.
  while (stopMs.size() < 5) {
    startAndWaitUntilListening(receiver);
    stopMs.push_back(timedStop());
  }
  const double median =
      tovik::test::medianOfFiveMs([&, i = size_t(0)]() mutable { return stopMs[i++]; });
  EXPECT_LT(median, 300.0);
}

TEST(LiveDualReceiver, MergesBothEchoesAndFollowsTheEchoCode) {
  const uint16_t port = tovik::test::freeUdpPort();
  GetlidarData receiver;
  receiver.port = port;
  Collector got;
  got.attachHandles(receiver);
  Sender sender(port);
  startAndWaitUntilListening(receiver);

  // 1000 firing pairs per revolution, three revolutions and one more pair.
  const auto packets = tovik::test::packetsFromAzimuths(
      tovik::test::steadyPairAzimuths(0, 36, 3001),
      [](size_t n, int j) { return 400 + (n + j) % 1000; }, 5000000, 600);
  // Echo code 0 closes on the odd block of the wrapping pair: both echoes of 1001 pairs.
  sender.send(packets, 0, 168);
  ASSERT_TRUE(waitFor([&] { return got.count() >= 1; }));
  {
    std::lock_guard<std::mutex> lock(got.mutex);
    EXPECT_TRUE(got.frames[0].blockAzimuth.empty());
    EXPECT_EQ(got.frames[0].pointCount(0), 2u * 2002u);
  }
  // Strongest echo only from now on: frames of even blocks.
  receiver.Receive(tovik::kStrongEcho);
  EXPECT_EQ(receiver.echoCode(), 1);
  sender.send(packets, 168);
  ASSERT_TRUE(waitFor([&] { return got.count() >= 3; })) << got.count();
  stopAndWait(receiver);
  for (size_t f = 1; f < got.frames.size(); ++f) {
    EXPECT_FALSE(got.frames[f].blockAzimuth.empty());
    for (int ch = 0; ch < 16; ++ch) {
      const LidarData& fr = got.frames[f];
      EXPECT_EQ(fr.distance[ch].size(), fr.adjustedTime[ch].size()) << f;
      EXPECT_EQ(fr.distance[ch].size(), fr.azimuth[ch].size()) << f;
    }
  }
}

// #9: a receiver whose socket could not be set up ended without a word, and the window read
// "Connected". It now says why, for a port held by a socket that does not share it and for a
// group text that is no address.
TEST(LiveReceivers, ReportWhyTheirSocketCouldNotBeSetUp) {
  const uint16_t port = tovik::test::freeUdpPort();
  tovik::net::UdpSocket holder;  // without SO_REUSEADDR: the port cannot be shared
  ASSERT_TRUE(holder.open() && holder.bind(std::string(), port)) << holder.lastError();

  const auto failureOf = [](auto& receiver) {
    std::mutex mutex;
    QString reason;
    QObject::connect(
        &receiver, &std::remove_reference_t<decltype(receiver)>::SendSocketError, &receiver,
        [&](const QString& r) {
          std::lock_guard<std::mutex> lock(mutex);
          reason = r;
        },
        Qt::DirectConnection);
    receiver.start();
    EXPECT_TRUE(receiver.wait(5000));  // the run ends by itself
    EXPECT_FALSE(receiver.stopRequested.load());
    EXPECT_EQ(reason.toStdString(), receiver.lastError());
    return reason.toStdString();
  };
  GetlidarData dual;
  dual.port = port;
  const std::string taken = failureOf(dual);
  EXPECT_NE(taken.find(std::to_string(port)), std::string::npos) << taken;
  EXPECT_NE(taken.find("Address already in use"), std::string::npos) << taken;

  GetlidarData_1 single;
  single.port = tovik::test::freeUdpPort();
  single.multicastIp = "224.1.1";
  const std::string group = failureOf(single);
  EXPECT_NE(group.find("\"224.1.1\" is not an IPv4 address"), std::string::npos) << group;
}

// #9: a receive error that persists returns at once; without a pause the loop spun a core.
TEST(LiveReceiveLoop, BacksOffWhileReceiveErrorsPersist) {
  struct FailingSocket {
    std::atomic<int> calls{0};
    tovik::net::RecvStatus receive(uint8_t*, size_t, size_t*) {
      ++calls;
      return tovik::net::RecvStatus::Error;
    }
  } socket;
  std::atomic<bool> stop{false};
  tovik::ReceiverStats stats;
  std::thread loop([&] {
    tovik::receiveUntilStopped(
        socket, stop, stats, [](const uint8_t*, std::vector<LidarData>&) {}, [](LidarData&) {});
  });
  std::this_thread::sleep_for(500ms);
  stop = true;
  loop.join();
  // Pauses of 10, 20, 40, 80 and then 100 ms: about 8 calls in half a second. A spinning loop
  // makes millions; a slow machine only makes fewer.
  EXPECT_GE(socket.calls.load(), 1);
  EXPECT_LE(socket.calls.load(), 100);
  EXPECT_EQ(stats.snapshot().receiveErrors, uint64_t(socket.calls.load()));
}

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

// Issue 9: a stream whose azimuth never wraps (a stopped motor that keeps firing) must not grow
// one revolution forever; the receiver drops it at the cap and counts it.
TEST(LiveSingleReceiver, DropsARevolutionThatNeverClosesAndCountsIt) {
  const uint16_t port = tovik::test::freeUdpPort();
  GetlidarData_1 receiver;
  receiver.port = port;
  Collector got;
  got.attach(receiver);
  Sender sender(port);
  startAndWaitUntilListening(receiver);

  const auto packets = tovik::test::packetsFromAzimuths(
      tovik::test::steadyAzimuths(9000, 0, 16800), [](size_t, int) { return 500; }, 0);
  sender.send(packets);
  const bool capped =
      waitFor([&] { return receiver.stats().snapshot().cappedRevolutions >= 1; }, 10000ms);
  stopAndWait(receiver);
  EXPECT_TRUE(capped) << "packets decoded: " << receiver.stats().snapshot().packets;
  EXPECT_EQ(receiver.stats().snapshot().cappedRevolutions, 1u);
  EXPECT_EQ(got.count(), 0u);
}
