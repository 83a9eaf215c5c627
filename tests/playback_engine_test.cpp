// The offline playback engine on packet tables built in memory: forward play against the
// revolution assembler, the pause after each frame, backward play to the first packet, single
// steps, pause and resume through the gate, stopping while paused, and the end-of-file report.
//
// The engine's signals reach the recorder by direct connection (on the engine's thread); the
// frame pause is replaced by a recorder, except where a test needs the engine to be slow.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <ctime>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/ReadLiveOffData.h"
#include "acquisition/capture_file.h"
#include "acquisition/pcap_writer.h"
#include "acquisition/revolution_assembler.h"
#include "loopback_sim.h"
#include "packet_builder.h"

namespace {

using tovik::OfflineAssembler;
using tovik::test::PacketImage;

// One block per degree: 30 single-return packets, or 60 dual-return packets, per revolution.
std::vector<PacketImage> singlePackets(size_t count) {
  return tovik::test::packetsFromAzimuths(
      tovik::test::steadyAzimuths(0, 100, count * tovik::kBlocksPerPacket),
      [](size_t n, int j) { return 1000 + int(n % 50) * 10 + j; }, 5000);
}

std::vector<PacketImage> dualPackets(size_t count) {
  return tovik::test::packetsFromAzimuths(
      tovik::test::steadyPairAzimuths(0, 100, count * tovik::kBlocksPerPacket / 2),
      [](size_t n, int j) { return 2000 + int(n % 2) * 500 + j; }, 5000);
}

// What the engine emitted, in order: "F" a frame, "E" the end report, "P<ms>" a pause.
class Recorder {
 public:
  explicit Recorder(ReadLiveOffData& engine) {
    QObject::connect(&engine, &ReadLiveOffData::SendData, [this](LidarData d) {
      std::lock_guard<std::mutex> lock(mutex_);
      frames_.push_back(std::move(d));
      events_.push_back("F");
    });
    QObject::connect(&engine, &ReadLiveOffData::SendBool, [this](bool finished) {
      std::lock_guard<std::mutex> lock(mutex_);
      events_.push_back(finished ? "E" : "e");
    });
  }

  // Installs the recording pause; onPause runs after it on the engine's thread.
  void recordPauses(ReadLiveOffData& engine, std::function<void(size_t frames)> onPause = {}) {
    engine.setSleepFunction([this, onPause](int ms) {
      size_t frames;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back("P" + std::to_string(ms));
        frames = frames_.size();
      }
      if (onPause) onPause(frames);
    });
  }

  size_t frameCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_.size();
  }
  std::vector<LidarData> frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }
  std::vector<std::string> events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  int count(const std::string& e) const {
    int n = 0;
    for (const std::string& x : events())
      if (x == e) ++n;
    return n;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<LidarData> frames_;
  std::vector<std::string> events_;
};

// Polls cond for up to ms milliseconds.
bool waitFor(const std::function<bool()>& cond, int ms = 5000) {
  QElapsedTimer t;
  t.start();
  while (!cond()) {
    if (t.elapsed() > ms) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class PlaybackEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    playDirection = 1;
    playSpeed = 0;
    stepPending = 0;
  }
  void TearDown() override {
    engine_.requestStop();
    playDirection = 1;
    playSpeed = 0;
    stepPending = 0;
  }

  void load(const std::vector<PacketImage>& packets, const char* sensor) {
    packets_ = packets;
    pointers_.clear();
    for (const PacketImage& p : packets_) pointers_.push_back(p.data());
    engine_.sensorType = QString::fromLatin1(sensor);
    engine_.setPackets(pointers_.data(), uint32_t(pointers_.size()));
  }
  // Runs to the end; false when the run does not end within 10 s.
  bool playToEnd() {
    engine_.start();
    return engine_.wait(10000);
  }

  ReadLiveOffData engine_;
  Recorder recorder_{engine_};
  std::vector<PacketImage> packets_;
  std::vector<const uint8_t*> pointers_;
};

// --- Forward play matches the assembler ----------------------------------------------------

struct ForwardCase {
  const char* name;
  const char* sensor;
  int echo;
};

class ForwardPlay : public PlaybackEngine, public ::testing::WithParamInterface<ForwardCase> {};

TEST_P(ForwardPlay, EmitsTheAssemblersFramesThenReportsTheEndOnce) {
  const ForwardCase& c = GetParam();
  const bool dual = c.sensor == std::string(tovik::kSensorDualOffline);
  // 3 full revolutions and a part of the fourth.
  const auto packets = dual ? dualPackets(200) : singlePackets(100);
  load(packets, c.sensor);
  engine_.ReceiveMode(c.echo);
  recorder_.recordPauses(engine_);
  ASSERT_TRUE(playToEnd());

  OfflineAssembler reference(dual ? OfflineAssembler::Layout::Dual
                                  : OfflineAssembler::Layout::Single);
  reference.setEchoCode(c.echo);
  std::vector<LidarData> expected;
  for (const PacketImage& p : packets) reference.addPacket(p.data(), +1, expected);
  ASSERT_EQ(expected.size(), 3u);

  const std::vector<LidarData> frames = recorder_.frames();
  ASSERT_EQ(frames.size(), expected.size());
  for (size_t f = 0; f < frames.size(); ++f) {
    EXPECT_EQ(frames[f].totalPoints(), expected[f].totalPoints()) << "frame " << f;
    EXPECT_EQ(frames[f].blockAzimuth, expected[f].blockAzimuth) << "frame " << f;
    EXPECT_EQ(frames[f].distance, expected[f].distance) << "frame " << f;
    EXPECT_EQ(frames[f].adjustedTime, expected[f].adjustedTime) << "frame " << f;
  }
  // Every frame is followed by its pause; the partial last revolution is not emitted.
  std::vector<std::string> want;
  for (size_t f = 0; f < expected.size(); ++f) want.insert(want.end(), {"F", "P110"});
  want.push_back("E");
  EXPECT_EQ(recorder_.events(), want);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ForwardPlay,
                         ::testing::Values(ForwardCase{"Single", "Tovik16-1", 0},
                                           ForwardCase{"DualMerged", "Tovik16-2", 0},
                                           ForwardCase{"DualStrong", "Tovik16-2", 1},
                                           ForwardCase{"DualSecond", "Tovik16-2", 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The pause after each frame ------------------------------------------------------------

class FramePause : public PlaybackEngine,
                   public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(FramePause, FollowsPlaySpeed) {
  const auto [speed, ms] = GetParam();
  EXPECT_EQ(tovik::framePauseMs(speed), ms);
  load(singlePackets(70), tovik::kSensorSingleOffline);
  playSpeed = speed;
  recorder_.recordPauses(engine_);
  ASSERT_TRUE(playToEnd());
  EXPECT_EQ(recorder_.count("P" + std::to_string(ms)), 2);
  EXPECT_EQ(recorder_.count("F"), 2);
}

INSTANTIATE_TEST_SUITE_P(Speeds, FramePause,
                         ::testing::Values(std::pair{0, 110}, std::pair{1, 80}, std::pair{2, 50},
                                           std::pair{3, 130}, std::pair{4, 150},
                                           std::pair{9, 150}));

TEST_F(PlaybackEngine, ASpeedChangeTakesEffectAtTheNextFrame) {
  load(singlePackets(100), tovik::kSensorSingleOffline);
  recorder_.recordPauses(engine_, [](size_t frames) {
    if (frames == 1) playSpeed = 2;
  });
  ASSERT_TRUE(playToEnd());
  EXPECT_EQ(recorder_.events(),
            (std::vector<std::string>{"F", "P110", "F", "P50", "F", "P50", "E"}));
}

TEST_F(PlaybackEngine, TheRealPauseIsRoughlyTheSelectedOne) {
  // Two frames at 150 ms: well above 250 ms, and a generous upper bound.
  load(singlePackets(70), tovik::kSensorSingleOffline);
  playSpeed = 4;
  QElapsedTimer t;
  t.start();
  ASSERT_TRUE(playToEnd());
  EXPECT_EQ(recorder_.count("F"), 2);
  EXPECT_GE(t.elapsed(), 280);
  EXPECT_LT(t.elapsed(), 3000);
}

// --- Ends of the table ---------------------------------------------------------------------

TEST_F(PlaybackEngine, AnEmptyTableEndsAtOnceWithoutASignal) {
  load({}, tovik::kSensorSingleOffline);
  ASSERT_TRUE(playToEnd());
  engine_.setPackets(nullptr, 5);
  EXPECT_EQ(engine_.packetCount(), 0u);
  ASSERT_TRUE(playToEnd());
  EXPECT_TRUE(recorder_.events().empty());
}

struct OnePacketCase {
  const char* name;
  const char* sensor;
  int direction;
  std::vector<std::string> events;
};

class OnePacket : public PlaybackEngine, public ::testing::WithParamInterface<OnePacketCase> {};

// The end used to be reported once per block of a one-packet table; once per run now.
TEST_P(OnePacket, ReportsTheEndOnce) {
  const OnePacketCase& c = GetParam();
  load(singlePackets(1), c.sensor);
  playDirection = c.direction;
  ASSERT_TRUE(playToEnd());
  EXPECT_EQ(recorder_.events(), c.events);
  EXPECT_EQ(playDirection.load(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Directions, OnePacket,
    ::testing::Values(OnePacketCase{"SingleForward", "Tovik16-1", 1, {"E"}},
                      OnePacketCase{"DualForward", "Tovik16-2", 1, {"E"}},
                      OnePacketCase{"SingleBackward", "Tovik16-1", -1, {"E", "F"}},
                      OnePacketCase{"DualBackward", "Tovik16-2", -1, {"E", "F"}},
                      // Nothing is decoded, but the window still learns of the end.
                      OnePacketCase{"UnknownSensor", "Tovik16", 1, {"E"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PlaybackEngine, StartingBackwardEndsAfterTheFirstPacket) {
  load(singlePackets(100), tovik::kSensorSingleOffline);
  playDirection = -1;
  recorder_.recordPauses(engine_);
  ASSERT_TRUE(playToEnd());
  // The partial frame of block 0 (no azimuths yet, so no points), then the end.
  EXPECT_EQ(recorder_.events(), (std::vector<std::string>{"F", "E"}));
  EXPECT_EQ(recorder_.frames().at(0).totalPoints(), 0u);
  EXPECT_EQ(playDirection.load(), 1);
}

TEST_F(PlaybackEngine, UnknownSensorTypeSkipsEveryPacket) {
  load(singlePackets(100), "Tovik161");
  recorder_.recordPauses(engine_);
  ASSERT_TRUE(playToEnd());
  EXPECT_EQ(recorder_.events(), (std::vector<std::string>{"E"}));
}

TEST_F(PlaybackEngine, PacketsWithoutTheBlockFlagAreSkipped) {
  auto packets = singlePackets(100);
  for (size_t p = 0; p < packets.size(); p += 2) packets[p][1] = 0xEF;
  load(packets, tovik::kSensorSingleOffline);
  recorder_.recordPauses(engine_);
  ASSERT_TRUE(playToEnd());
  // Half the blocks of each revolution: still one close per wrap, with half the points.
  const auto frames = recorder_.frames();
  ASSERT_FALSE(frames.empty());
  EXPECT_LT(frames[0].totalPoints(), size_t(360 * 32 * 3 / 4));
  EXPECT_EQ(recorder_.count("E"), 1);
}

TEST_F(PlaybackEngine, ReversingWalksBackToTheFirstPacketAndReportsOnce) {
  // Forward through two revolutions, then backward from packet ~70 to packet 0.
  load(singlePackets(100), tovik::kSensorSingleOffline);
  recorder_.recordPauses(engine_, [](size_t frames) {
    if (frames == 2) playDirection = -1;
  });
  ASSERT_TRUE(playToEnd());
  const auto events = recorder_.events();
  EXPECT_EQ(recorder_.count("E"), 1);
  ASSERT_GE(events.size(), 2u);
  // The last emission is the partial frame at packet 0, right before the end report.
  EXPECT_EQ(events[events.size() - 2], "F");
  EXPECT_EQ(events.back(), "E");
  // The turn happens at packet 60 block 0 (azimuth 0): going back, the wrap to 359 degrees
  // closes a frame of 11 blocks at once, the wrap between packets 30 and 29 a whole revolution,
  // and packet 0 gives the partial frame.
  const auto frames = recorder_.frames();
  ASSERT_EQ(frames.size(), 5u);
  EXPECT_EQ(recorder_.count("P110"), 4);
  EXPECT_EQ(frames[2].totalPoints(), size_t(11 * 32));
  // A backward frame that closes at block 0 of a packet drops that block: it has no azimuths.
  EXPECT_EQ(frames[3].totalPoints(), size_t(359 * 32));
  for (const LidarData& f : frames)
    for (int ch = 0; ch < kChannelCount; ++ch)
      EXPECT_EQ(f.azimuth[size_t(ch)].size(), f.distance[size_t(ch)].size());
  EXPECT_EQ(playDirection.load(), 1);
}

// --- Steps, pause, resume and stop ---------------------------------------------------------

TEST_F(PlaybackEngine, AStepEmitsOneFrameThenWaitsAtTheGate) {
  load(singlePackets(200), tovik::kSensorSingleOffline);
  recorder_.recordPauses(engine_);
  stepPending = 1;
  engine_.start();
  ASSERT_TRUE(waitFor([&] { return recorder_.frameCount() == 1 && engine_.playGate.isClosed(); }));
  EXPECT_EQ(stepPending.load(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(recorder_.frameCount(), 1u);
  EXPECT_TRUE(engine_.isRunning());

  // A pause pressed now finds the gate closed and returns at once.
  QElapsedTimer t;
  t.start();
  engine_.playGate.close();
  EXPECT_LT(t.elapsed(), 1000);

  // The next step plays exactly one more frame.
  stepPending = 1;
  engine_.playGate.open();
  ASSERT_TRUE(waitFor([&] { return recorder_.frameCount() == 2 && engine_.playGate.isClosed(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(recorder_.frameCount(), 2u);

  // Resume: plays to the end.
  engine_.playGate.open();
  ASSERT_TRUE(engine_.wait(10000));
  EXPECT_EQ(recorder_.count("E"), 1);
  EXPECT_EQ(recorder_.frameCount(), 6u);
}

TEST_F(PlaybackEngine, ClosingTheGatePausesBetweenPacketsAndOpeningResumes) {
  load(singlePackets(400), tovik::kSensorSingleOffline);  // 13 frames
  // The first frame's pause lasts until the window has asked to close the gate, so the pause
  // lands after exactly one frame however the two threads are scheduled.
  std::atomic<bool> firstFrame{false};
  recorder_.recordPauses(engine_, [&](size_t frames) {
    if (frames != 1) return;
    firstFrame = true;
    waitFor([&] { return engine_.playGate.isClosed(); });
  });
  engine_.start();
  ASSERT_TRUE(waitFor([&] { return firstFrame.load(); }));
  engine_.playGate.close();
  const size_t atPause = recorder_.frameCount();
  EXPECT_EQ(atPause, 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(recorder_.frameCount(), atPause);
  EXPECT_TRUE(engine_.isRunning());
  engine_.playGate.open();
  ASSERT_TRUE(waitFor([&] { return recorder_.frameCount() > atPause; }));
  ASSERT_TRUE(engine_.wait(10000));
  EXPECT_EQ(recorder_.frameCount(), 13u);
  EXPECT_EQ(recorder_.count("E"), 1);
}

TEST_F(PlaybackEngine, StopEndsARunPausedAtTheGateWithoutReportingTheEnd) {
  load(singlePackets(400), tovik::kSensorSingleOffline);
  engine_.playGate.close();  // paused before the first packet
  engine_.start();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(engine_.isRunning());
  QElapsedTimer t;
  t.start();
  engine_.requestStop();
  EXPECT_LT(t.elapsed(), 1000);
  EXPECT_TRUE(engine_.isFinished());
  EXPECT_FALSE(engine_.playGate.isClosed());
  EXPECT_TRUE(recorder_.events().empty());

  // The engine plays again after a stop.
  recorder_.recordPauses(engine_);
  ASSERT_TRUE(playToEnd());
  EXPECT_EQ(recorder_.frameCount(), 13u);
}

TEST_F(PlaybackEngine, StopInterruptsTheFramePauseAndAStepWait) {
  load(singlePackets(400), tovik::kSensorSingleOffline);
  playSpeed = 4;
  // Each stop lands at the start of a 150 ms pause; one that waited the pause out would take
  // most of it.
  const double medianMs = tovik::test::medianOfFiveMs([&] {
    const size_t before = recorder_.frameCount();
    engine_.start();
    EXPECT_TRUE(waitFor([&] { return recorder_.frameCount() > before; }));
    return tovik::test::elapsedMs([&] { engine_.requestStop(); });
  });
  EXPECT_LT(medianMs, 100.0);

  QElapsedTimer t;
  stepPending = 1;
  engine_.start();
  ASSERT_TRUE(waitFor([&] { return engine_.playGate.isClosed(); }));
  t.restart();
  engine_.requestStop();
  EXPECT_LT(t.elapsed(), 1000);
  EXPECT_EQ(recorder_.count("E"), 0);
}

// --- Seeking by revolution ------------------------------------------------------------------

struct SeekCase {
  const char* name;
  const char* sensor;
  int echo;
};

class Seek : public PlaybackEngine, public ::testing::WithParamInterface<SeekCase> {
 protected:
  // The frames of playing the table from packet 0, and the engine's index of it.
  std::vector<LidarData> playAll(bool dual, int echo) {
    const auto layout = dual ? OfflineAssembler::Layout::Dual : OfflineAssembler::Layout::Single;
    OfflineAssembler reference(layout);
    reference.setEchoCode(echo);
    std::vector<LidarData> frames;
    for (const PacketImage& p : packets_) reference.addPacket(p.data(), +1, frames);
    engine_.setSeekIndex(std::make_shared<tovik::RevolutionIndex>(
        tovik::RevolutionIndex::build(pointers_, layout, echo)));
    return frames;
  }
};

// A seek, paused or playing, shows the revolution that playing up to it shows, point for point,
// numbered as such; play goes on with the next whole revolution.
TEST_P(Seek, ShowsTheRevolutionPlayingShowsAndPlaysOnFromIt) {
  const SeekCase& c = GetParam();
  const bool dual = c.sensor == std::string(tovik::kSensorDualOffline);
  // Starts at 123.45 degrees, so that no revolution starts at a packet's first block.
  load(tovik::test::packetsFromAzimuths(
           dual ? tovik::test::steadyPairAzimuths(12345, 100, 200 * 6)
                : tovik::test::steadyAzimuths(12345, 100, 100 * 12),
           [](size_t n, int j) { return 1000 + int(n % 97) * 7 + j; }, 5000),
       c.sensor);
  engine_.ReceiveMode(c.echo);
  const std::vector<LidarData> expected = playAll(dual, c.echo);
  ASSERT_EQ(expected.size(), 3u);
  std::vector<int> numbers;
  std::mutex numbersMutex;
  QObject::connect(&engine_, &ReadLiveOffData::SendRevolution, [&](int r) {
    std::lock_guard<std::mutex> lock(numbersMutex);
    numbers.push_back(r);
  });
  recorder_.recordPauses(engine_);

  const auto sameFrame = [](const LidarData& a, const LidarData& b) {
    return a.blockAzimuth == b.blockAzimuth && a.distance == b.distance &&
           a.intensity == b.intensity && a.azimuth == b.azimuth &&
           a.adjustedTime == b.adjustedTime && a.totalPoints() > 0;
  };
  // Paused: each seek emits exactly the sought revolution and the engine stays paused.
  engine_.playGate.close();
  engine_.requestSeek(2);  // asked for before the run: honoured as it starts
  engine_.start();
  const int order[] = {2, 0, 1, 2, 7};  // 7 is past the last revolution: the last one
  for (size_t n = 0; n < std::size(order); ++n) {
    if (n > 0) engine_.requestSeek(order[n]);
    ASSERT_TRUE(waitFor([&] { return recorder_.frameCount() == n + 1; })) << n;
    const int r = std::min(order[n], 2);
    EXPECT_TRUE(sameFrame(recorder_.frames()[n], expected[size_t(r)])) << "seek " << order[n];
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(recorder_.frameCount(), 5u);
  EXPECT_TRUE(engine_.isRunning());

  // A step back (a seek while playDirection is -1), then Play forward: play goes on with the
  // revolution after the one shown, whole.
  playDirection = -1;
  engine_.requestSeek(1);
  ASSERT_TRUE(waitFor([&] { return recorder_.frameCount() == 6; }));
  playDirection = 1;
  engine_.playGate.open();
  ASSERT_TRUE(engine_.wait(10000));
  const std::vector<LidarData> frames = recorder_.frames();
  ASSERT_EQ(frames.size(), 7u);
  EXPECT_TRUE(sameFrame(frames[5], expected[1]));
  EXPECT_TRUE(sameFrame(frames[6], expected[2]));
  std::lock_guard<std::mutex> lock(numbersMutex);
  EXPECT_EQ(numbers, (std::vector<int>{2, 0, 1, 2, 2, 1, 2}));
  EXPECT_EQ(recorder_.count("E"), 1);
}

INSTANTIATE_TEST_SUITE_P(Layouts, Seek,
                         ::testing::Values(SeekCase{"Single", "Tovik16-1", 0},
                                           SeekCase{"DualMerged", "Tovik16-2", 0},
                                           SeekCase{"DualSecond", "Tovik16-2", 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// Real time: the pause after a frame is the capture time since the previous frame's close (the
// frame's own span for the first), divided by the speed factor.
TEST_F(PlaybackEngine, RealTimePausesFollowThePacketTimesScaledBySpeed) {
  load(singlePackets(100), tovik::kSensorSingleOffline);  // frames close in packets 30, 60, 90
  // Packet p was captured at p * p / 10 ms: uneven steps that no fixed pause could match.
  std::vector<uint64_t> times(100);
  for (size_t p = 0; p < times.size(); ++p) times[p] = 1700000000000000000ull + p * p * 100000;
  engine_.setPacketTimes(times.data());
  engine_.setRealTime(true);
  // Speeds 2 (3x), then 3 (0.5x), then 4 (0.25x), each set before its frame's pause.
  recorder_.recordPauses(engine_, [](size_t frames) { playSpeed = int(frames) + 2; });
  playSpeed = 2;
  ASSERT_TRUE(playToEnd());
  EXPECT_EQ(recorder_.events(), (std::vector<std::string>{"F", "P30",    // 0..90 ms at 3x
                                                          "F", "P540",   // 90..360 ms at 0.5x
                                                          "F", "P1800",  // 360..810 ms at 0.25x
                                                          "E"}));
  // A gap in the capture does not hold playback for its length.
  EXPECT_EQ(tovik::realTimePauseMs(0, 3600000000000ull, 0), tovik::kMaxRealTimePauseMs);
}

// --- A capture file changed under playback -------------------------------------------------

// Issue 9: playback reads the packets out of the capture's mapping; a file shortened under it
// raised SIGBUS and the viewer died, and a file rewritten in place played the new bytes. Either
// change ends the run with SendFileChanged, before the first frame, and the process lives on.
class ChangedCapture : public PlaybackEngine, public ::testing::WithParamInterface<const char*> {};

TEST_P(ChangedCapture, EndsTheRunWithFileChanged) {
  const std::string change = GetParam();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string file = dir.filePath(QStringLiteral("played.pcap")).toStdString();
  {
    std::ofstream out(file, std::ios::binary);
    tovik::capture::CaptureWriter writer(out);
    for (const PacketImage& p : singlePackets(400))
      writer.writeUdp(0, 0x7F000002, 2368, 0x7F000001, 2368, p.data(), p.size());
    ASSERT_TRUE(writer.ok());
  }
  // An hour old, so that a rewrite within the same clock tick still moves the time.
  const timespec old[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), old, 0), 0);
  tovik::capture::CaptureFile capture;
  ASSERT_TRUE(capture.open(file)) << capture.errorString();
  ASSERT_EQ(capture.pointCount(), 400u);
  engine_.sensorType = QString::fromLatin1(tovik::kSensorSingleOffline);
  engine_.setPackets(capture.index().pointPackets.data(), uint32_t(capture.pointCount()));
  engine_.setSourceCheck([&capture] { return !capture.changedOnDisk(); });
  std::atomic<int> changed{0};
  QObject::connect(&engine_, &ReadLiveOffData::SendFileChanged, [&changed] { ++changed; });
  recorder_.recordPauses(engine_);

  engine_.playGate.close();
  engine_.start();
  if (change == "shortened") {
    // Two pages stay: packet 7 on lies past the end of the file, and reading it faults.
    ASSERT_EQ(truncate(file.c_str(), 8192), 0);
  } else {
    std::fstream f(file, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(20000);
    f.write("rewritten", 9);
  }
  engine_.playGate.open();
  ASSERT_TRUE(engine_.wait(10000));
  EXPECT_EQ(changed.load(), 1);
  EXPECT_TRUE(recorder_.events().empty()) << "no frame and no end report";
}

INSTANTIATE_TEST_SUITE_P(Changes, ChangedCapture, ::testing::Values("shortened", "rewritten"));

// --- The gate on its own ---------------------------------------------------------------------

TEST(PlayGate, CloseWaitsForThePacketInProgress) {
  tovik::PlayGate gate;
  std::atomic<bool> stop{false};
  ASSERT_TRUE(gate.enter(stop));
  std::atomic<bool> closed{false};
  std::thread gui([&] {
    gate.close();
    closed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(closed.load());
  gate.leave();
  gui.join();
  EXPECT_TRUE(closed.load());
  EXPECT_TRUE(gate.isClosed());

  // Closed: the engine waits; another thread opens it.
  std::atomic<bool> entered{false};
  std::thread engine([&] {
    entered = gate.enter(stop);
    gate.leave();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(entered.load());
  gate.close();  // already closed: returns at once
  gate.open();
  engine.join();
  EXPECT_TRUE(entered.load());
}

TEST(PlayGate, StopReleasesAWaitingEngine) {
  tovik::PlayGate gate;
  std::atomic<bool> stop{false};
  gate.close();
  std::atomic<int> result{-1};
  std::thread engine([&] { result = gate.enter(stop) ? 1 : 0; });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(result.load(), -1);
  stop = true;
  gate.wake();
  engine.join();
  EXPECT_EQ(result.load(), 0);
}

}  // namespace
