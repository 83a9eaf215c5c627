// Recording the data port into capture files: the simulated lidar recorded on the loopback
// interface and read back, prompt stops, failures that start nothing, the interface choice, and
// (with the GUI library) the Record button's controller.
//
// Capturing needs root or CAP_NET_RAW; without it the capture tests skip and say so.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>
#include <tuple>
#include <vector>

#include "acquisition/capture_description.h"
#include "acquisition/capture_file.h"
#include "acquisition/pcap_recorder.h"
#include "acquisition/pcap_writer.h"
#include "acquisition/point_packet.h"
#include "acquisition/revolution_assembler.h"
#include "acquisition/udp_socket.h"
#include "loopback_sim.h"
#include "tools/sim/sim_runner.h"

#ifdef TOVIK_TEST_RECORD_CONTROLLER
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QWidget>

#include "app/record_controller.h"
#endif

using namespace std::chrono_literals;
using tovik::capture::CaptureInterface;
using tovik::capture::PcapRecorder;
using tovik::capture::RecordError;
using tovik::capture::RecordSettings;

namespace {

constexpr const char* kNoPermission =
    "capturing needs root or CAP_NET_RAW; run the recording tests as root";

uint16_t freePort() {
  tovik::net::UdpSocket s;
  EXPECT_TRUE(s.open());
  EXPECT_TRUE(s.bind("127.0.0.1", 0));
  return s.localEndpoint().port;
}

bool fileExists(const std::string& path) { return QFile::exists(QString::fromStdString(path)); }

RecordSettings loopbackSettings(const std::string& path, int port) {
  RecordSettings s;
  s.interfaceName = "lo";
  s.filePath = path;
  s.port = port;
  return s;
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// Set by main() when this process has a mount namespace of its own (as root): a test may then
// mount a small file system that nobody else sees and that goes away with the process.
bool privateMounts = false;

// A directory on a 64 KB tmpfs: a disk that fills up after about fifty recorded packets.
class SmallDisk {
 public:
  explicit SmallDisk(const std::string& dir) : dir_(dir) {
    mounted_ = privateMounts && ::mkdir(dir.c_str(), 0700) == 0 &&
               ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k") == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  std::string file(const char* name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
  bool mounted_ = false;
};
constexpr const char* kNoSmallDisk = "a small tmpfs needs root and a mount namespace of our own";

// Sends n point packets to 127.0.0.1:port.
void sendPackets(uint16_t port, int n) {
  tovik::net::UdpSocket sender;
  ASSERT_TRUE(sender.open());
  std::vector<uint8_t> packet(tovik::kPacketSize, 0);
  packet[0] = 0xFF;
  packet[1] = 0xEE;
  for (int i = 0; i < n; ++i)
    ASSERT_TRUE(sender.sendTo(packet.data(), packet.size(), "127.0.0.1", port));
}

const std::string kDiskFull = std::strerror(ENOSPC);

// Receives every datagram on 127.0.0.1:port on a thread of its own: what the simulator sent, as
// a socket sees it.
class PayloadSink {
 public:
  explicit PayloadSink(uint16_t port) {
    EXPECT_TRUE(socket_.open());
    EXPECT_TRUE(socket_.setReceiveBufferSize(16 << 20));
    EXPECT_TRUE(socket_.setReceiveTimeout(50));
    EXPECT_TRUE(socket_.bind("127.0.0.1", port));
    thread_ = std::thread([this] {
      std::vector<uint8_t> buffer(2048);
      while (!stop_) {
        const auto n = ::recv(socket_.nativeHandle(), buffer.data(), buffer.size(), 0);
        if (n > 0) {
          std::lock_guard<std::mutex> lock(mutex_);
          payloads_.emplace_back(buffer.begin(), buffer.begin() + n);
        }
      }
    });
  }
  ~PayloadSink() { finish(); }
  void finish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  std::vector<std::vector<uint8_t>> payloads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return payloads_;
  }
  size_t count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return payloads_.size();
  }

 private:
  tovik::net::UdpSocket socket_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::vector<uint8_t>> payloads_;
};

// Captured lengths and link type of a classic pcap file, read without the capture library.
struct RawRecords {
  uint32_t linkType = 0;
  std::vector<std::vector<uint8_t>> frames;
};

RawRecords readClassicPcap(const std::string& path) {
  RawRecords r;
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  auto u32 = [&](size_t at) {
    uint32_t v;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
  };
  if (bytes.size() < 24 || u32(0) != 0xa1b2c3d4u) return r;  // written in this host's order
  r.linkType = u32(20);
  for (size_t at = 24; at + 16 <= bytes.size();) {
    const uint32_t caplen = u32(at + 8);
    if (at + 16 + caplen > bytes.size()) break;
    r.frames.emplace_back(bytes.begin() + long(at + 16), bytes.begin() + long(at + 16 + caplen));
    at += 16 + caplen;
  }
  return r;
}

class Recording : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  std::string path(const char* name) const { return dir_.filePath(name).toStdString(); }
  // Starts recorder; skips the test when capturing is not permitted here.
  bool startOrSkip(PcapRecorder& recorder, const RecordSettings& settings) {
    if (recorder.start(settings)) return true;
    if (recorder.error() == RecordError::NoPermission) return false;
    ADD_FAILURE() << "start: " << recorder.errorText();
    return false;
  }
  QTemporaryDir dir_;
};

#define START_OR_SKIP(recorder, settings)                                                 \
  do {                                                                                    \
    if (!startOrSkip(recorder, settings)) {                                               \
      if ((recorder).error() == RecordError::NoPermission) GTEST_SKIP() << kNoPermission; \
      return;                                                                             \
    }                                                                                     \
  } while (0)

TEST_F(Recording, EveryPacketOfTheSimulatorIsInTheFileAndDecodesAlike) {
  tovik::sim::RunOptions o;
  o.sim.dataPort = freePort();
  o.sim.devicePort = freePort();
  o.dataSourcePort = 0;
  o.deviceSourcePort = 0;
  // 600 rpm, single return: 84 packets a revolution; 25 revolutions at the real pace (2.5 s).
  o.rate = 1.0;
  o.packetLimit = 84 * 25;
  o.quiet = true;

  PayloadSink sink(o.sim.dataPort);
  PcapRecorder recorder;
  const std::string file = path("sim.pcap");
  START_OR_SKIP(recorder, loopbackSettings(file, o.sim.dataPort));

  std::ostringstream log;
  tovik::sim::NetworkRunner runner(o, log);
  std::string error;
  ASSERT_TRUE(runner.open(&error)) << error;
  std::atomic<bool> stop{false};
  runner.run(stop);
  const uint64_t sent = runner.stats().pointSent;
  ASSERT_EQ(sent, o.packetLimit);
  EXPECT_TRUE(waitFor([&] { return recorder.capturedPackets() >= sent; }, 3s));
  recorder.stop();
  sink.finish();
  EXPECT_FALSE(recorder.isRecording());
  EXPECT_EQ(recorder.capturedPackets(), sent);
  EXPECT_EQ(recorder.droppedPackets(), 0u);

  // Only the data port is recorded: the device packets went to another port.
  tovik::capture::CaptureFile capture;
  ASSERT_TRUE(capture.open(file)) << capture.errorString();
  EXPECT_EQ(capture.index().records, sent);
  EXPECT_EQ(capture.index().devicePackets.size(), 0u);
  EXPECT_FALSE(capture.index().truncated);
  ASSERT_EQ(capture.pointCount(), sent);

  // The loopback interface delivers Ethernet frames (zero MAC addresses): every record is a
  // 14 + 20 + 8 byte header and the 1206-byte packet, the layout playback looks for.
  const RawRecords raw = readClassicPcap(file);
  EXPECT_EQ(raw.linkType, uint32_t(tovik::capture::kLinkEthernet));
  ASSERT_EQ(raw.frames.size(), sent);
  for (const auto& f : raw.frames) {
    ASSERT_EQ(f.size(), tovik::capture::kLegacyRecordSize);
    ASSERT_EQ(f[tovik::capture::kLegacyPayloadOffset], 0xFF);
    ASSERT_EQ(f[tovik::capture::kLegacyPayloadOffset + 1], 0xEE);
  }

  // The file holds, in order, exactly the datagrams a socket received.
  const auto received = sink.payloads();
  ASSERT_EQ(received.size(), sent);
  for (size_t i = 0; i < received.size(); ++i) {
    ASSERT_EQ(received[i].size(), tovik::kPacketSize) << i;
    ASSERT_EQ(std::memcmp(received[i].data(), capture.pointPacket(i), tovik::kPacketSize), 0)
        << "packet " << i;
  }

  // Playback decoding of the file cuts the same revolutions as live decoding of the datagrams.
  tovik::LiveSingleAssembler live;
  tovik::OfflineAssembler offline(tovik::OfflineAssembler::Layout::Single);
  std::vector<LidarData> liveFrames, offlineFrames;
  for (size_t i = 0; i < received.size(); ++i) {
    live.addPacket(received[i].data(), liveFrames);
    offline.addPacket(capture.pointPacket(i), 1, offlineFrames);
  }
  ASSERT_GE(liveFrames.size(), 24u);
  ASSERT_EQ(offlineFrames.size(), liveFrames.size());
  // The two decoders place the points next to the 0 degree cut differently (live decoding
  // carries them into the next revolution); away from it every point is the same.
  auto interior = [](const LidarData& frame, int ch) {
    std::vector<std::tuple<float, int, float>> points;
    for (size_t i = 0; i < frame.pointCount(ch); ++i) {
      const float az = frame.azimuth[ch][i];
      if (az >= 5.0f && az < 355.0f)
        points.emplace_back(frame.distance[ch][i], frame.intensity[ch][i], az);
    }
    return points;
  };
  for (size_t f = 0; f < liveFrames.size(); ++f) {
    ASSERT_EQ(offlineFrames[f].blockAzimuth, liveFrames[f].blockAzimuth) << "frame " << f;
    for (int ch = 0; ch < kChannelCount; ++ch) {
      const auto points = interior(liveFrames[f], ch);
      ASSERT_EQ(interior(offlineFrames[f], ch), points) << "frame " << f << " channel " << ch;
      if (f > 0) {
        ASSERT_GT(points.size(), 1900u) << "a whole revolution";
      }
    }
  }
}

// Recorded with the device port, the capture also holds the device's status packets, which
// describe the sensor; playback reads the same point packets and cuts the same revolutions as
// from a recording of the data port alone, made at the same time.
TEST_F(Recording, DevicePacketsTravelWithThePointDataAndPlayTheSame) {
  tovik::sim::RunOptions o;
  o.sim.dataPort = freePort();
  o.sim.devicePort = freePort();
  o.sim.seed = 5;
  o.dataSourcePort = 0;
  o.deviceSourcePort = 0;
  o.rate = 2.0;
  o.packetLimit = 84 * 20;
  o.quiet = true;

  PayloadSink dataSink(o.sim.dataPort), deviceSink(o.sim.devicePort);
  PcapRecorder dataOnly, withDevice;
  START_OR_SKIP(dataOnly, loopbackSettings(path("data.pcap"), o.sim.dataPort));
  RecordSettings both = loopbackSettings(path("both.pcap"), o.sim.dataPort);
  both.devicePort = o.sim.devicePort;
  START_OR_SKIP(withDevice, both);

  std::ostringstream log;
  tovik::sim::NetworkRunner runner(o, log);
  std::string error;
  ASSERT_TRUE(runner.open(&error)) << error;
  std::atomic<bool> stop{false};
  runner.run(stop);
  const uint64_t sent = runner.stats().pointSent;
  const uint64_t deviceSent = runner.stats().devicePackets;
  ASSERT_GE(deviceSent, 1u);
  EXPECT_TRUE(waitFor([&] { return withDevice.capturedPackets() >= sent + deviceSent; }, 3s));
  EXPECT_TRUE(waitFor([&] { return dataOnly.capturedPackets() >= sent; }, 3s));
  dataOnly.stop();
  withDevice.stop();

  tovik::capture::CaptureFile plain, described;
  ASSERT_TRUE(plain.open(path("data.pcap"))) << plain.errorString();
  ASSERT_TRUE(described.open(path("both.pcap"))) << described.errorString();
  EXPECT_EQ(plain.index().devicePackets.size(), 0u);
  ASSERT_EQ(described.index().devicePackets.size(), deviceSent);
  ASSERT_EQ(described.pointCount(), sent);
  ASSERT_EQ(plain.pointCount(), sent);

  const tovik::CaptureDescription d = tovik::describeCapture(described.index().devicePackets);
  EXPECT_TRUE(d.fromDevice);
  EXPECT_EQ(d.sensorType, QStringLiteral("Tovik16-1"));
  for (int ch = 0; ch < 16; ++ch)
    EXPECT_FLOAT_EQ(d.verticalAngles[size_t(ch)],
                    float(runner.simulator().state().verticalAngleDeg(ch)));

  tovik::OfflineAssembler a(d.layout()), b(d.layout());
  std::vector<LidarData> fromPlain, fromDescribed;
  for (size_t i = 0; i < sent; ++i) {
    a.addPacket(plain.pointPacket(i), 1, fromPlain);
    b.addPacket(described.pointPacket(i), 1, fromDescribed);
  }
  ASSERT_GE(fromPlain.size(), 19u);
  ASSERT_EQ(fromDescribed.size(), fromPlain.size());
  for (size_t f = 0; f < fromPlain.size(); ++f) {
    ASSERT_EQ(fromDescribed[f].blockAzimuth, fromPlain[f].blockAzimuth) << f;
    for (int ch = 0; ch < kChannelCount; ++ch)
      ASSERT_EQ(fromDescribed[f].distance[ch], fromPlain[f].distance[ch]) << f << " " << ch;
  }
}

TEST_F(Recording, StopWithNothingArrivingIsPromptAndLeavesAnEmptyValidFile) {
  const int port = freePort();
  {
    PcapRecorder probe;
    START_OR_SKIP(probe, loopbackSettings(path("probe.pcap"), port));
  }
  int n = 0;
  const double medianMs = tovik::test::medianOfFiveMs([&] {
    PcapRecorder recorder;
    const std::string file = path(("quiet" + std::to_string(n++) + ".pcap").c_str());
    EXPECT_TRUE(recorder.start(loopbackSettings(file, port))) << recorder.errorText();
    std::this_thread::sleep_for(150ms);  // the capture thread waits in its read by now
    const double ms = tovik::test::elapsedMs([&] { recorder.stop(); });
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_EQ(recorder.capturedPackets(), 0u);
    tovik::capture::CaptureFile capture;
    EXPECT_TRUE(capture.open(file)) << capture.errorString();
    EXPECT_EQ(capture.index().records, 0u);
    EXPECT_FALSE(capture.index().truncated);
    return ms;
  });
  std::cout << "median stop with no traffic: " << medianMs << " ms\n";
  // A recording stops within about 200 ms; three times that on the median of five.
  EXPECT_LT(medianMs, 600.0);
}

// Five recordings stopped while the simulator streams at four times the dual-return rate. The
// stream goes on after each stop (the sink shows it), and nothing more reaches the file.
TEST_F(Recording, StopWhileBusyClosesAWholeFile) {
  tovik::sim::RunOptions o =
      tovik::test::loopbackSimulator(tovik::test::freeUdpPort(), tovik::test::freeUdpPort());
  o.sim.dualReturn = true;
  o.rate = 4.0;
  o.durationS = 30;
  PayloadSink sink(o.sim.dataPort);
  {
    PcapRecorder probe;
    START_OR_SKIP(probe, loopbackSettings(path("probe.pcap"), o.sim.dataPort));
  }
  tovik::test::SimulatedLidar lidar(o);
  std::string error;
  ASSERT_TRUE(lidar.start(&error)) << error;

  std::vector<double> stopMs;
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    PcapRecorder recorder;
    const std::string file = path(("busy" + std::to_string(i) + ".pcap").c_str());
    START_OR_SKIP(recorder, loopbackSettings(file, o.sim.dataPort));
    ASSERT_TRUE(waitFor([&] { return recorder.capturedPackets() > 300; }, 5s));
    stopMs.push_back(tovik::test::elapsedMs([&] { recorder.stop(); }));
    const uint64_t captured = recorder.capturedPackets();
    const size_t seen = sink.count();
    ASSERT_TRUE(waitFor([&] { return sink.count() > seen + 100; }, 5s)) << "stopped mid-stream";
    EXPECT_EQ(recorder.capturedPackets(), captured);

    // Every frame written is whole and the file ends on a record boundary.
    tovik::capture::CaptureFile capture;
    ASSERT_TRUE(capture.open(file)) << capture.errorString();
    EXPECT_FALSE(capture.index().truncated);
    EXPECT_EQ(capture.pointCount(), captured);
  }
  lidar.stop();
  const double median =
      tovik::test::medianOfFiveMs([&, i = size_t(0)]() mutable { return stopMs[i++]; });
  std::cout << "median stop while busy: " << median << " ms\n";
  EXPECT_LT(median, 600.0);
}

// Issue 9: the header write and the flushes went unchecked: a recording onto a full disk
// started as if all was well, and one whose disk filled up wrote torn records.
TEST_F(Recording, AFullDiskIsReportedAtTheStartAndInTheMiddle) {
  const uint16_t port = freePort();
  PayloadSink sink(port);
  PcapRecorder recorder;
  START_OR_SKIP(recorder, loopbackSettings(path("probe.pcap"), port));
  recorder.stop();

  EXPECT_FALSE(recorder.start(loopbackSettings("/dev/full", port)));
  EXPECT_EQ(recorder.error(), RecordError::File);
  EXPECT_NE(recorder.errorText().find(kDiskFull), std::string::npos) << recorder.errorText();
  EXPECT_FALSE(recorder.isRecording());

  SmallDisk disk(path("small"));
  if (!disk.mounted()) GTEST_SKIP() << kNoSmallDisk;
  const std::string file = disk.file("full.pcap");
  ASSERT_TRUE(recorder.start(loopbackSettings(file, port))) << recorder.errorText();
  sendPackets(port, 200);  // 1264 bytes a record: 64 KB hold about fifty
  ASSERT_TRUE(waitFor([&] { return !recorder.isRecording(); }, 5s)) << "a full disk ends it";
  EXPECT_EQ(recorder.error(), RecordError::File);
  EXPECT_NE(recorder.errorText().find(kDiskFull), std::string::npos) << recorder.errorText();
  const uint64_t captured = recorder.capturedPackets();
  EXPECT_GT(captured, 10u);
  EXPECT_LT(captured, 60u);
  recorder.stop();
  // The file holds the counted packets whole, and no torn record after them.
  tovik::capture::CaptureFile capture;
  ASSERT_TRUE(capture.open(file)) << capture.errorString();
  EXPECT_FALSE(capture.index().truncated);
  EXPECT_EQ(capture.pointCount(), captured);
}

TEST_F(Recording, EveryPacketIsOnDiskBeforeTheRecordingStops) {
  const uint16_t port = freePort();
  PayloadSink sink(port);  // a listener, so the sends meet no ICMP errors
  PcapRecorder recorder;
  const std::string file = path("flushed.pcap");
  START_OR_SKIP(recorder, loopbackSettings(file, port));

  tovik::net::UdpSocket sender;
  ASSERT_TRUE(sender.open());
  ASSERT_TRUE(sender.bind("127.0.0.1", 0));
  std::vector<uint8_t> packet(tovik::kPacketSize, 0);
  packet[0] = 0xFF;
  packet[1] = 0xEE;
  constexpr int kPackets = 25;
  for (int i = 0; i < kPackets; ++i) {
    packet[100] = uint8_t(i);
    ASSERT_TRUE(sender.sendTo(packet.data(), packet.size(), "127.0.0.1", port));
  }
  ASSERT_TRUE(waitFor([&] { return recorder.capturedPackets() == kPackets; }, 3s))
      << recorder.capturedPackets();

  // Read while the recording still runs: what a crash at this moment would leave behind.
  {
    tovik::capture::CaptureFile capture;
    ASSERT_TRUE(capture.open(file)) << capture.errorString();
    ASSERT_EQ(capture.pointCount(), size_t(kPackets));
    for (int i = 0; i < kPackets; ++i) EXPECT_EQ(capture.pointPacket(size_t(i))[100], i);
  }
  EXPECT_TRUE(recorder.isRecording());
  recorder.stop();

  // A second recording on the same object starts from zero.
  START_OR_SKIP(recorder, loopbackSettings(path("second.pcap"), port));
  EXPECT_EQ(recorder.capturedPackets(), 0u);
  recorder.stop();
}

TEST_F(Recording, SecondStartWhileRecordingIsRefusedAndTheFirstGoesOn) {
  PcapRecorder recorder;
  START_OR_SKIP(recorder, loopbackSettings(path("first.pcap"), freePort()));
  EXPECT_FALSE(recorder.start(loopbackSettings(path("other.pcap"), freePort())));
  EXPECT_EQ(recorder.error(), RecordError::Busy);
  EXPECT_TRUE(recorder.isRecording());
  EXPECT_FALSE(fileExists(path("other.pcap")));
  recorder.stop();
  EXPECT_TRUE(fileExists(path("first.pcap")));
}

struct StartFailure {
  const char* what;
  const char* interfaceName;
  const char* fileName;  // inside the test's directory
  int port;
  RecordError expected;
};

class StartFailures : public Recording, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(StartFailures, StartNothingLeaveNoFileAndSayWhy) {
  const StartFailure& c = GetParam();
  // Capturing on lo must be permitted for the failure to be the one under test.
  {
    PcapRecorder probe;
    START_OR_SKIP(probe, loopbackSettings(path("probe.pcap"), freePort()));
    probe.stop();
  }
  PcapRecorder recorder;
  RecordSettings s;
  s.interfaceName = c.interfaceName;
  s.filePath = path(c.fileName);
  s.port = c.port;
  EXPECT_FALSE(recorder.start(s));
  EXPECT_EQ(recorder.error(), c.expected) << recorder.errorText();
  EXPECT_FALSE(recorder.errorText().empty());
  EXPECT_FALSE(recorder.isRecording());
  EXPECT_FALSE(fileExists(s.filePath));
  std::cout << c.what << ": " << recorder.errorText() << "\n";
  recorder.stop();  // harmless
}

INSTANTIATE_TEST_SUITE_P(
    Recording, StartFailures,
    ::testing::Values(StartFailure{"no such interface", "tovik-none0", "a.pcap", 2368,
                                   RecordError::NoSuchInterface},
                      StartFailure{"directory missing", "lo", "missing/dir/a.pcap", 2368,
                                   RecordError::File},
                      StartFailure{"port out of range", "lo", "b.pcap", 70000, RecordError::Filter},
                      StartFailure{"negative port", "lo", "c.pcap", -1, RecordError::Filter}),
    [](const auto& info) {
      std::string n = info.param.what;
      for (char& ch : n)
        if (ch == ' ') ch = '_';
      return n;
    });

// The kernel's table as /proc/net/route shows it: addresses as network-order bytes printed as
// little-endian hexadecimal words.
constexpr const char* kRouteTable =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
    "eth0\t00000000\t010200C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
    "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
    "eth1\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
    "eth2\t0A01A8C0\t00000000\t0005\t0\t0\t0\tFFFFFFFF\t0\t0\t0\n"
    "down0\t0003A8C0\t00000000\t0000\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
    "wan1\t00000000\t010200C0\t0003\t0\t0\t50\t00000000\t0\t0\t0\n";

struct RouteCase {
  const char* address;
  const char* table;
  const char* expected;
};

class RouteLookup : public ::testing::TestWithParam<RouteCase> {};

TEST_P(RouteLookup, MostSpecificUpRouteWins) {
  const RouteCase& c = GetParam();
  EXPECT_EQ(tovik::capture::routeInterfaceFor(c.address, c.table), c.expected) << c.address;
}

INSTANTIATE_TEST_SUITE_P(
    Recording, RouteLookup,
    ::testing::Values(RouteCase{"192.168.1.200", kRouteTable, "eth1"},
                      RouteCase{"192.168.1.10", kRouteTable, "eth2"},  // host route
                      RouteCase{"192.0.2.7", kRouteTable, "eth0"},
                      // Only default routes cover it: the lower metric wins.
                      RouteCase{"8.8.8.8", kRouteTable, "wan1"},
                      // A route that is not up is ignored; the default route takes over.
                      RouteCase{"192.168.3.4", kRouteTable, "wan1"},
                      RouteCase{"127.0.0.2", kRouteTable, "lo"}, RouteCase{"127.0.0.2", "", "lo"},
                      RouteCase{"10.0.0.1", "Iface\tDestination\n", ""},
                      RouteCase{"not an address", kRouteTable, ""},
                      RouteCase{"", kRouteTable, ""}));

TEST(DefaultInterface, DescriptionRuleThenRouteThenFirst) {
  auto iface = [](const char* name, const char* description, bool ipv4) {
    CaptureInterface i;
    i.name = name;
    i.description = description;
    i.hasIpv4 = ipv4;
    i.loopback = std::string(name) == "lo";
    return i;
  };
  const std::vector<CaptureInterface> linuxList = {
      iface("eth0", "", true), iface("any", "Pseudo-device that captures on all interfaces", false),
      iface("lo", "", true), iface("bluetooth-monitor", "Bluetooth Linux Monitor", false)};
  // A pseudo-device's description does not count, whatever letter it begins with.
  EXPECT_EQ(tovik::capture::defaultCaptureInterface(linuxList, "lo"), 2);
  EXPECT_EQ(tovik::capture::defaultCaptureInterface(linuxList, "eth0"), 0);
  EXPECT_EQ(tovik::capture::defaultCaptureInterface(linuxList, "gone0"), 0);
  EXPECT_EQ(tovik::capture::defaultCaptureInterface(linuxList, ""), 0);

  std::vector<CaptureInterface> cards = linuxList;
  cards.push_back(iface("enp3s0", "Intel(R) Ethernet I219-V", true));
  cards.push_back(iface("enp4s0", "Realtek PCIe GbE", true));
  EXPECT_EQ(tovik::capture::defaultCaptureInterface(cards, "lo"), 4) << "first card in order";
  EXPECT_EQ(tovik::capture::defaultCaptureInterface({}, "lo"), -1);
}

// Only interfaces the lidar's packets can arrive on are offered: Ethernet-like or loopback, up,
// with an IPv4 address (the list a Linux desktop's libpcap gives, fabricated).
TEST(CaptureInterfaces, OnlyThoseThatCanCarryTheLidarTraffic) {
  auto iface = [](const char* name, int type, bool up, bool ipv4) {
    CaptureInterface i;
    i.name = name;
    i.hardwareType = type;
    i.loopback = std::string(name) == "lo";
    i.up = up;
    i.hasIpv4 = ipv4;
    return i;
  };
  const std::vector<CaptureInterface> all = {
      iface("enp3s0", 1, true, true),      iface("any", -1, true, false),
      iface("lo", 772, true, true),        iface("enp4s0", 1, false, true),  // down
      iface("wlp2s0", 1, true, false),                                       // no address
      iface("bluetooth0", -1, true, true), iface("bluetooth-monitor", -1, true, false),
      iface("nflog", -1, true, false),     iface("dbus-system", -1, true, false),
      iface("usbmon1", -1, true, false),   iface("tun0", 65534, true, true),  // no link layer
      iface("docker0", 1, true, true)};
  std::vector<std::string> kept;
  for (const auto& i : tovik::capture::lidarCaptureInterfaces(all)) kept.push_back(i.name);
  EXPECT_EQ(kept, (std::vector<std::string>{"enp3s0", "lo", "docker0"}));
  // The default choice applies to what is offered: the lidar routed through loopback.
  EXPECT_EQ(
      tovik::capture::defaultCaptureInterface(tovik::capture::lidarCaptureInterfaces(all), "lo"),
      1);

  EXPECT_EQ(tovik::capture::recordFilterText(2368, 0), "port 2368");
  EXPECT_EQ(tovik::capture::recordFilterText(2368, 2368), "port 2368");
  EXPECT_EQ(tovik::capture::recordFilterText(2368, 2369), "udp port 2368 or udp port 2369");
}

TEST(CaptureInterfaces, LoopbackIsListed) {
  std::vector<CaptureInterface> list;
  std::string error;
  ASSERT_TRUE(tovik::capture::listCaptureInterfaces(&list, &error)) << error;
  if (list.empty()) GTEST_SKIP() << kNoPermission;
  bool loopback = false;
  for (const auto& i : list) loopback |= i.name == "lo" && i.loopback;
  EXPECT_TRUE(loopback);
}

#ifdef TOVIK_TEST_RECORD_CONTROLLER

// The Record button's controller on a small stand-in for the main window's widgets.
class RecordControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    window_ = std::make_unique<QWidget>();
    button_ = new QToolButton(window_.get());
    button_->setCheckable(true);
    combo_ = new QComboBox(window_.get());
    port_ = new QLineEdit(QStringLiteral("2368"), window_.get());
    status_ = new QStatusBar(window_.get());
    controller_ =
        std::make_unique<tovik::RecordController>(button_, combo_, port_, status_, window_.get());
    QObject::connect(button_, &QToolButton::clicked, controller_.get(),
                     &tovik::RecordController::onRecordClicked);
    controller_->setFileNameProvider([this](QWidget*, const QString& defaultName) {
      offeredNames_ << defaultName;
      ++dialogs_;
      return chosenName_;
    });
  }
  void TearDown() override {
    controller_.reset();
    window_.reset();
  }
  // Answers the next message box with OK and keeps its text.
  void answerNextBox() {
    auto* timer = new QTimer(window_.get());
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [this, timer] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        boxTexts_ << box->text();
        box->accept();
        timer->deleteLater();
      }
    });
    timer->start();
  }
  bool selectLoopback() {
    // As the operator picks it: the controller re-reads the list before it starts.
    const int lo = combo_->findData(QStringLiteral("lo"));
    combo_->setCurrentIndex(lo);
    emit combo_->activated(lo);
    return lo >= 0;
  }

  QTemporaryDir dir_;
  std::unique_ptr<QWidget> window_;
  QToolButton* button_ = nullptr;
  QComboBox* combo_ = nullptr;
  QLineEdit* port_ = nullptr;
  QStatusBar* status_ = nullptr;
  std::unique_ptr<tovik::RecordController> controller_;
  QString chosenName_;
  QStringList offeredNames_;
  QStringList boxTexts_;
  int dialogs_ = 0;
};

// Issue 9: with minutes only, a second recording within the minute was offered the first one's
// name (and a capture playing from it was overwritten).
TEST_F(RecordControllerTest, DefaultNameIsTheLocalSecond) {
  EXPECT_EQ(tovik::RecordController::defaultFileName(QDateTime(QDate(2024, 3, 7), QTime(9, 5, 59))),
            QStringLiteral("2024-03-07-09-05-59.pcap"));
  EXPECT_EQ(tovik::RecordController::defaultFileName(QDateTime(QDate(2031, 12, 31), QTime(23, 59))),
            QStringLiteral("2031-12-31-23-59-00.pcap"));
}

TEST_F(RecordControllerTest, CancelledDialogLeavesTheButtonUncheckedAndStartsNothing) {
  chosenName_.clear();
  button_->click();
  EXPECT_EQ(dialogs_, 1);
  ASSERT_EQ(offeredNames_.size(), 1);
  EXPECT_TRUE(
      QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d-\\d\\d-\\d\\d-\\d\\d\\.pcap$"))
          .match(offeredNames_[0])
          .hasMatch())
      << offeredNames_[0].toStdString();
  EXPECT_FALSE(button_->isChecked());
  EXPECT_FALSE(controller_->isRecording());
  EXPECT_TRUE(boxTexts_.isEmpty());
}

struct ControllerFailure {
  const char* what;
  const char* portText;
  const char* fileName;  // inside the test's directory
  bool dialogShown;
  const char* reasonPart;
};

class RecordControllerFailures : public RecordControllerTest,
                                 public ::testing::WithParamInterface<ControllerFailure> {};

TEST_P(RecordControllerFailures, ShowTheReasonAndUncheck) {
  const ControllerFailure& c = GetParam();
  ASSERT_TRUE(selectLoopback());
  port_->setText(QString::fromLatin1(c.portText));
  chosenName_ = dir_.filePath(QString::fromLatin1(c.fileName));
  answerNextBox();
  button_->click();
  EXPECT_EQ(dialogs_, c.dialogShown ? 1 : 0);
  if (controller_->recorder().error() == RecordError::NoPermission) {
    GTEST_SKIP() << kNoPermission;
  }
  ASSERT_EQ(boxTexts_.size(), 1);
  EXPECT_TRUE(boxTexts_[0].contains(QString::fromLatin1(c.reasonPart)))
      << boxTexts_[0].toStdString();
  EXPECT_FALSE(button_->isChecked());
  EXPECT_FALSE(controller_->isRecording());
  EXPECT_FALSE(QFile::exists(chosenName_));
}

INSTANTIATE_TEST_SUITE_P(
    Recording, RecordControllerFailures,
    ::testing::Values(ControllerFailure{"missing_directory", "2368", "no/such/dir/x.pcap", true,
                                        "No such file or directory"},
                      ControllerFailure{"port_out_of_range", "99999", "y.pcap", false, "99999"},
                      ControllerFailure{"port_not_a_number", "23a8", "z.pcap", false, "23a8"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(RecordControllerTest, RecordThenStopReportsFileAndCount) {
  ASSERT_TRUE(selectLoopback());
  const uint16_t port = freePort();
  const uint16_t devicePort = freePort();
  PayloadSink sink(port), deviceSink(devicePort);
  port_->setText(QString::number(port));
  // The device port's packets are recorded too while the box is checked.
  auto* devicePortField = new QLineEdit(QString::number(devicePort), window_.get());
  auto* withDevice = new QCheckBox(window_.get());
  withDevice->setChecked(true);
  controller_->setDevicePortSource(devicePortField, withDevice);
  chosenName_ = dir_.filePath(QStringLiteral("gui.pcap"));
  std::vector<bool> changes;
  QObject::connect(controller_.get(), &tovik::RecordController::recordingChanged,
                   [&changes](bool on) { changes.push_back(on); });
  answerNextBox();  // only shown if the start fails
  button_->click();
  if (controller_->recorder().error() == RecordError::NoPermission) {
    GTEST_SKIP() << kNoPermission;
  }
  ASSERT_TRUE(controller_->isRecording()) << boxTexts_.join('\n').toStdString();
  EXPECT_TRUE(button_->isChecked());
  EXPECT_FALSE(combo_->isEnabled()) << "the interface is fixed while recording";

  tovik::net::UdpSocket sender;
  ASSERT_TRUE(sender.open());
  std::vector<uint8_t> packet(tovik::kPacketSize, 0);
  packet[0] = 0xFF;
  packet[1] = 0xEE;
  for (int i = 0; i < 7; ++i)
    ASSERT_TRUE(sender.sendTo(packet.data(), packet.size(), "127.0.0.1", port));
  const uint8_t deviceHeader[8] = {0xA5, 0xFF, 0x00, 0x5A, 0x11, 0x11, 0x55, 0x55};
  std::vector<uint8_t> status(tovik::kPacketSize, 0);
  std::memcpy(status.data(), deviceHeader, 8);
  for (int i = 0; i < 2; ++i)
    ASSERT_TRUE(sender.sendTo(status.data(), status.size(), "127.0.0.1", devicePort));
  ASSERT_TRUE(waitFor([&] { return controller_->recorder().capturedPackets() == 9; }, 3s));
  EXPECT_FALSE(withDevice->isEnabled()) << "what is recorded is fixed while recording";

  // The running count goes to a label of its own: an export's progress stays in the status bar.
  const QString exportProgress = QStringLiteral("Saving CSV: 1 of 3 revolutions to x.csv");
  status_->showMessage(exportProgress);
  QElapsedTimer polls;
  polls.start();
  while (polls.elapsed() < 1500) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_EQ(status_->currentMessage(), exportProgress);
  EXPECT_EQ(controller_->countLabel()->text(), QStringLiteral("Recording: 9 packets"));
  EXPECT_TRUE(controller_->countLabel()->isVisibleTo(status_));

  const auto t0 = std::chrono::steady_clock::now();
  button_->click();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
  EXPECT_FALSE(controller_->isRecording());
  EXPECT_FALSE(button_->isChecked());
  EXPECT_TRUE(combo_->isEnabled());
  const QString message = status_->currentMessage();
  EXPECT_TRUE(message.contains(QStringLiteral("9 packets"))) << message.toStdString();
  EXPECT_TRUE(message.contains(chosenName_)) << message.toStdString();
  EXPECT_EQ(changes, (std::vector<bool>{true, false}));
  EXPECT_TRUE(boxTexts_.isEmpty());
  EXPECT_FALSE(controller_->countLabel()->isVisibleTo(status_));

  tovik::capture::CaptureFile capture;
  ASSERT_TRUE(capture.open(chosenName_.toStdString())) << capture.errorString();
  EXPECT_EQ(capture.pointCount(), 7u);
  EXPECT_EQ(capture.index().devicePackets.size(), 2u);
  EXPECT_TRUE(withDevice->isEnabled());
}

// Issue 9: a recording onto a full disk started, and its stop said "Recorded 0 packets"; one
// whose disk filled up mid-way, stopped before the poll had noticed, was taken for no recording
// at all (the press opened the save dialog again).
TEST_F(RecordControllerTest, AFailedWriteIsReportedAndNeverAsRecorded) {
  ASSERT_TRUE(selectLoopback());
  const uint16_t port = freePort();
  PayloadSink sink(port);
  port_->setText(QString::number(port));
  chosenName_ = QStringLiteral("/dev/full");
  answerNextBox();
  button_->click();
  if (controller_->recorder().error() == RecordError::NoPermission) GTEST_SKIP() << kNoPermission;
  ASSERT_EQ(boxTexts_.size(), 1);
  EXPECT_TRUE(boxTexts_[0].contains(QString::fromStdString(kDiskFull)))
      << boxTexts_[0].toStdString();
  EXPECT_FALSE(button_->isChecked());
  EXPECT_FALSE(controller_->isRecording());

  SmallDisk disk(dir_.filePath(QStringLiteral("small")).toStdString());
  if (!disk.mounted()) GTEST_SKIP() << kNoSmallDisk;
  chosenName_ = QString::fromStdString(disk.file("full.pcap"));
  button_->click();
  ASSERT_TRUE(controller_->isRecording());
  sendPackets(port, 200);
  ASSERT_TRUE(waitFor([&] { return !controller_->recorder().isRecording(); }, 5s));
  answerNextBox();
  button_->click();  // the operator stops it
  EXPECT_EQ(dialogs_, 2) << "the press stopped the recording; it did not start another";
  ASSERT_EQ(boxTexts_.size(), 2);
  EXPECT_TRUE(boxTexts_[1].contains(QStringLiteral("failed"))) << boxTexts_[1].toStdString();
  EXPECT_TRUE(boxTexts_[1].contains(QString::fromStdString(kDiskFull)));
  EXPECT_FALSE(status_->currentMessage().contains(QStringLiteral("Recorded")))
      << status_->currentMessage().toStdString();
  EXPECT_FALSE(button_->isChecked());
  EXPECT_FALSE(controller_->isRecording());
}

// Issue 9: recording onto the capture that plays pulled the file from under the playback. The
// file itself is compared, so another path to it (here a symbolic link) is refused too.
TEST_F(RecordControllerTest, RecordingOntoTheOpenCaptureIsRefused) {
  const QString played = dir_.filePath(QStringLiteral("played.pcap"));
  {
    std::ofstream out(played.toStdString(), std::ios::binary);
    tovik::capture::CaptureWriter writer(out);
    std::vector<uint8_t> packet(tovik::kPacketSize, 0);
    packet[0] = 0xFF;
    packet[1] = 0xEE;
    writer.writeUdp(0, 0x7F000002, 2368, 0x7F000001, 2368, packet.data(), packet.size());
  }
  tovik::capture::CaptureFile capture;
  ASSERT_TRUE(capture.open(played.toStdString())) << capture.errorString();
  controller_->setBusyFileCheck([&capture](const QString& name) {
    return capture.isSameFile(QFile::encodeName(name).toStdString());
  });
  const QString link = dir_.filePath(QStringLiteral("link.pcap"));
  ASSERT_TRUE(QFile::link(played, link));
  const qint64 size = QFileInfo(played).size();
  for (const QString& name : {played, link}) {
    boxTexts_.clear();
    chosenName_ = name;
    answerNextBox();
    button_->click();
    ASSERT_EQ(boxTexts_.size(), 1) << name.toStdString();
    EXPECT_TRUE(boxTexts_[0].contains(QStringLiteral("open in the Offline tab")))
        << boxTexts_[0].toStdString();
    EXPECT_FALSE(controller_->isRecording());
    EXPECT_FALSE(button_->isChecked());
  }
  EXPECT_EQ(QFileInfo(played).size(), size);
  EXPECT_FALSE(capture.changedOnDisk());
  // Another file of the same name elsewhere is not the open capture.
  EXPECT_FALSE(
      capture.isSameFile(dir_.filePath(QStringLiteral("other/played.pcap")).toStdString()));
}

TEST_F(RecordControllerTest, LidarOnLoopbackSelectsLoopbackByDefault) {
  std::vector<CaptureInterface> list;
  std::string error;
  ASSERT_TRUE(tovik::capture::listCaptureInterfaces(&list, &error));
  list = tovik::capture::lidarCaptureInterfaces(list);  // what the combo offers
  for (const auto& i : list)
    if (i.hasIpv4 && !i.description.empty() && std::strchr("RIBA", i.description[0]))
      GTEST_SKIP() << "a network card's description takes precedence here: " << i.name;
  if (combo_->findData(QStringLiteral("lo")) < 0) GTEST_SKIP() << "no loopback listed";

  // Until the operator picks one, the choice follows the lidar's address at every refresh.
  const QString first = combo_->itemData(0).toString();
  controller_->setAddressProvider([] { return std::string(); });
  controller_->refreshInterfaces();
  EXPECT_EQ(combo_->currentData().toString(), first) << "no address: the first interface";
  controller_->setAddressProvider([] { return std::string("127.0.0.2"); });
  controller_->refreshInterfaces();
  EXPECT_EQ(combo_->currentData().toString(), QStringLiteral("lo"));

  controller_->setAddressProvider([] { return std::string("192.0.2.9"); });
  controller_->setRouteTableReader([] {
    return std::string(
        "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\n"
        "lo\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\n");
  });
  combo_->setCurrentIndex(0);
  controller_->refreshInterfaces();
  EXPECT_EQ(combo_->currentData().toString(), QStringLiteral("lo"));

  // The operator's pick survives; opening the list re-reads it.
  const int lo = combo_->findData(QStringLiteral("lo"));
  const int pick = lo == combo_->count() - 1 ? 0 : combo_->count() - 1;
  if (pick == lo) GTEST_SKIP() << "only the loopback interface is listed";
  combo_->setCurrentIndex(pick);
  emit combo_->activated(pick);
  const QString chosen = combo_->currentData().toString();
  combo_->clear();
  combo_->addItem(QStringLiteral("stale"), chosen);
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  controller_->eventFilter(combo_, &press);
  EXPECT_EQ(combo_->count(), int(list.size()));
  EXPECT_EQ(combo_->currentData().toString(), chosen);
}

#endif  // TOVIK_TEST_RECORD_CONTROLLER

}  // namespace

int main(int argc, char** argv) {
  // Before any thread exists: a mount namespace of this process's own, its mounts private.
  privateMounts = geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
                  ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
#ifdef TOVIK_TEST_RECORD_CONTROLLER
  // No 3D view here: the widgets work on the offscreen platform, without an X display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
#else
  QCoreApplication app(argc, argv);
#endif
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
