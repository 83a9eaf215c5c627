// Seeking in a large capture as the Offline tab does. The file comes from bench/make_big_capture.sh
// (about 1 GB, 800,000 single-return point packets; TOVIK_BIG_CAPTURE names another one).
//
// Prints, for the revolution index: the time to build it after the capture is open (median of
// five) and the memory it keeps, with the memory of the per-packet capture times; for 100 jumps
// to revolutions drawn at random (fixed seed): the index lookup and decode of the target
// revolution alone, and end to end through the playback engine, paused and playing, from the
// seek request to the emitted frame. Median and worst of each, in milliseconds.
#include <QElapsedTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/ReadLiveOffData.h"
#include "acquisition/capture_file.h"
#include "acquisition/revolution_index.h"

namespace {

std::string capturePath() {
  const char* env = std::getenv("TOVIK_BIG_CAPTURE");
  return env != nullptr && *env != '\0' ? env : "/tmp/tovik16_800k.pcap";
}

struct Figures {
  double median = 0, worst = 0;
};

Figures summarize(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms.back()};
}

double elapsedMs(const std::chrono::steady_clock::time_point& since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
      .count();
}

// Jumps through a running engine: each request waits for the frame it asked for.
Figures engineSeeks(ReadLiveOffData& engine, const std::vector<size_t>& targets, bool playing) {
  std::mutex mutex;
  std::condition_variable arrived;
  int frames = 0;
  const auto connection = QObject::connect(&engine, &ReadLiveOffData::SendRevolution, [&](int) {
    std::lock_guard<std::mutex> lock(mutex);
    ++frames;
    arrived.notify_all();
  });
  std::vector<double> ms;
  for (size_t target : targets) {
    std::unique_lock<std::mutex> lock(mutex);
    const int before = frames;
    const auto start = std::chrono::steady_clock::now();
    engine.requestSeek(int(target));
    // Playing, the frame after the sought one may arrive too; the first one counts.
    arrived.wait(lock, [&] { return frames > before; });
    ms.push_back(elapsedMs(start));
    if (playing) {
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  QObject::disconnect(connection);
  return summarize(ms);
}

}  // namespace

int main() {
  const std::string path = capturePath();
  tovik::capture::CaptureFile capture;
  QElapsedTimer openClock;
  openClock.start();
  if (!capture.open(path)) {
    std::fprintf(stderr, "cannot open %s (run bench/make_big_capture.sh): %s\n", path.c_str(),
                 capture.errorString().c_str());
    return 1;
  }
  const double openMs = double(openClock.nsecsElapsed()) / 1e6;
  const auto& packets = capture.index().pointPackets;
  std::printf("capture: %s, %.0f MB, %zu point packets, opened in %.0f ms\n", path.c_str(),
              double(capture.fileSize()) / 1e6, packets.size(), openMs);

  std::vector<double> buildMs;
  tovik::RevolutionIndex index;
  for (int n = 0; n < 5; ++n) {
    const auto start = std::chrono::steady_clock::now();
    index = tovik::RevolutionIndex::build(packets, tovik::RevolutionIndex::Layout::Single, 0);
    buildMs.push_back(elapsedMs(start));
  }
  const Figures build = summarize(buildMs);
  // Each revolution keeps its start (packet and block) and its closing packet.
  const double indexBytes =
      double(index.size()) * double(sizeof(tovik::RevolutionStart) + sizeof(size_t));
  const double timesBytes = double(capture.index().pointTimesNs.capacity() * sizeof(uint64_t));
  std::printf("revolution index: %zu revolutions, built in %.1f ms (median of 5, worst %.1f)\n",
              index.size(), build.median, build.worst);
  std::printf("memory: index %.2f MB (%.3f %% of the file), packet times %.2f MB (%.2f %%)\n",
              indexBytes / 1e6, 100.0 * indexBytes / double(capture.fileSize()), timesBytes / 1e6,
              100.0 * timesBytes / double(capture.fileSize()));
  if (index.size() < 2) return 1;

  std::mt19937 random(20261208);
  std::uniform_int_distribution<size_t> pick(0, index.size() - 1);
  std::vector<size_t> targets(100);
  for (size_t& t : targets) t = pick(random);

  tovik::OfflineAssembler assembler(tovik::OfflineAssembler::Layout::Single);
  std::vector<double> decodeMs;
  size_t points = 0;
  for (size_t target : targets) {
    const auto start = std::chrono::steady_clock::now();
    LidarData frame;
    if (!tovik::decodeRevolution(assembler, packets, index, target, &frame)) return 1;
    decodeMs.push_back(elapsedMs(start));
    points += frame.totalPoints();
  }
  const Figures decode = summarize(decodeMs);
  std::printf(
      "lookup + decode of one revolution: median %.2f ms, worst %.2f ms (%zu points each)\n",
      decode.median, decode.worst, points / targets.size());

  playDirection = 1;
  playSpeed = 0;
  stepPending = 0;
  ReadLiveOffData engine;
  engine.sensorType = QString::fromLatin1(tovik::kSensorSingleOffline);
  engine.setPackets(packets.data(), uint32_t(packets.size()));
  engine.setSeekIndex(std::make_shared<tovik::RevolutionIndex>(index));
  engine.playGate.close();
  engine.start();
  const Figures paused = engineSeeks(engine, targets, false);
  engine.playGate.open();
  const Figures playing = engineSeeks(engine, targets, true);
  engine.requestStop();
  std::printf("seek to the emitted frame, paused: median %.2f ms, worst %.2f ms\n", paused.median,
              paused.worst);
  std::printf("seek to the emitted frame, playing: median %.2f ms, worst %.2f ms\n", playing.median,
              playing.worst);
  return 0;
}
