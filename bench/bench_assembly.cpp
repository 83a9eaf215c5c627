// Decode throughput and heap allocations of the four decodings on a generated scene held in
// memory.
//
// The scene is a device at 600 rpm in a room: single-return packets advance 0.36 degree per
// block (1000 blocks, about 83 packets per revolution), dual-return packets 0.36 degree per pair
// (about 167 packets per revolution); 120 revolutions either way. Distances vary with channel
// and azimuth, the second echo lies a little further, and upward channels see nothing in part
// of the turn (distance 0). One benchmark iteration decodes one packet; the counters report
// packets and decoded points (384 per packet) per second.
//
// handBack:1 gives every emitted frame back to the assembler once it is read, as the converter
// does; handBack:0 frees it, as a consumer that keeps its frames (one connected to SendData)
// does. This binary replaces operator new with a counting one: allocs counts the heap allocations
// per 1,000 packets after three warm-up revolutions. BM_Handover hands live dual-return
// revolutions from a decoding thread to a consumer in the main thread's event loop, as the
// receivers hand them to the window, one revolution per iteration. BM_QueuedCopy measures the
// copy of a dual-return revolution that a queued signal makes. The decodings and the hand-overs
// run before the allocator is tuned (benchmarks run in the order written).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QCoreApplication>
#include <QObject>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "acquisition/frame_pool.h"
#include "acquisition/memory_tuning.h"
#include "acquisition/point_packet.h"
#include "acquisition/revolution_assembler.h"
#include "packet_builder.h"

namespace {
std::atomic<uint64_t> allocations{0};
std::atomic<uint64_t> allocatedBytes{0};

void* countedAllocation(std::size_t n) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  allocatedBytes.fetch_add(n, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t n) { return countedAllocation(n); }
void* operator new[](std::size_t n) { return countedAllocation(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(n ? n : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using tovik::test::PacketBuilder;
using tovik::test::PacketImage;

constexpr int kRevolutions = 120;
constexpr uint32_t kStepHundredths = 36;  // per block (single) or per pair (dual)

// Raw distance (0.25 cm per count) of the point at azimuth a degrees on channel ch.
uint16_t sceneDistance(double a, int ch, bool secondEcho) {
  const double rad = a * 3.14159 / 180.0;
  // A rectangular room 16 m x 10 m around the device, walls seen by the lower channels, the
  // ceiling lost by the upper ones over a quarter of the turn.
  if (ch % 2 == 1 && a > 200.0 && a < 290.0) return 0;
  const double toX = 800.0 / std::max(0.05, std::fabs(std::cos(rad)));
  const double toY = 500.0 / std::max(0.05, std::fabs(std::sin(rad)));
  double cm = std::min(toX, toY) * (1.0 + 0.01 * ch);
  if (secondEcho) cm += 35.0;
  return uint16_t(std::min(65535.0, cm * 4.0));
}

std::vector<PacketImage> makeScene(bool dual) {
  const size_t blocks = size_t(kRevolutions) * 36000 / kStepHundredths * (dual ? 2 : 1);
  std::vector<PacketImage> packets;
  packets.reserve(blocks / tovik::kBlocksPerPacket + 1);
  uint32_t timestamp = 5000000;
  for (size_t n = 0; n < blocks; n += tovik::kBlocksPerPacket) {
    PacketBuilder b;
    b.timestamp(timestamp);
    timestamp += 1200;
    for (int k = 0; k < tovik::kBlocksPerPacket; ++k) {
      const size_t firing = dual ? (n + size_t(k)) / 2 : n + size_t(k);
      const uint16_t az = uint16_t(firing * kStepHundredths % 36000);
      b.azimuth(k, az);
      const bool second = dual && k % 2 == 1;
      for (int j = 0; j < tovik::kRecordsPerBlock; ++j) {
        const double a = az / 100.0 + 0.36 * j / 32.0;
        b.record(k, j, sceneDistance(a, j % 16, second), uint8_t((az / 7 + 13 * j) & 0xFF));
      }
    }
    packets.push_back(b.image());
  }
  return packets;
}

const std::vector<PacketImage>& singleScene() {
  static const std::vector<PacketImage> scene = makeScene(false);
  return scene;
}
const std::vector<PacketImage>& dualScene() {
  static const std::vector<PacketImage> scene = makeScene(true);
  return scene;
}

constexpr int64_t kPointsPerPacket = tovik::kBlocksPerPacket * tovik::kRecordsPerBlock;
constexpr size_t kWarmUpPackets = 3 * 167;  // three dual-return revolutions

// Feeds the scene in a loop (the jump from its end back to its start is one more wrap) through
// decode(image, frames); frames are read (their point count) and then handed back or freed.
template <typename Assembler, typename Decode>
void runDecoding(benchmark::State& state, Assembler& a, const std::vector<PacketImage>& scene,
                 Decode decode) {
  const bool handBack = state.range(0) != 0;
  std::vector<LidarData> out;
  size_t i = 0;
  int64_t frames = 0;
  size_t points = 0;
  auto step = [&] {
    out.clear();
    frames += decode(a, scene[i].data(), out);
    for (LidarData& f : out) {
      points += f.distance[0].size();
      if (handBack) a.recycle(std::move(f));
    }
    if (++i == scene.size()) i = 0;
  };
  for (size_t n = 0; n < kWarmUpPackets; ++n) step();
  frames = 0;
  const uint64_t allocationsBefore = allocations.load();
  for (auto _ : state) step();
  const uint64_t allocated = allocations.load() - allocationsBefore;
  benchmark::DoNotOptimize(points);
  state.counters["packets"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["points"] = benchmark::Counter(double(state.iterations() * kPointsPerPacket),
                                                benchmark::Counter::kIsRate);
  state.counters["frames"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
  state.counters["allocs"] = double(allocated) * 1000.0 / double(state.iterations());
}

void BM_LiveSingle(benchmark::State& state) {
  tovik::LiveSingleAssembler a;
  runDecoding(state, a, singleScene(),
              [](auto& as, const uint8_t* p, auto& out) { return as.addPacket(p, out); });
}
BENCHMARK(BM_LiveSingle)->ArgName("handBack")->Arg(0)->Arg(1);

void BM_LiveDualMerged(benchmark::State& state) {
  tovik::LiveDualAssembler a;
  a.setEchoCode(tovik::kDualEcho);
  runDecoding(state, a, dualScene(),
              [](auto& as, const uint8_t* p, auto& out) { return as.addPacket(p, out); });
}
BENCHMARK(BM_LiveDualMerged)->ArgName("handBack")->Arg(0)->Arg(1);

void runOffline(benchmark::State& state, tovik::OfflineAssembler::Layout layout,
                const std::vector<PacketImage>& scene) {
  tovik::OfflineAssembler a(layout);
  a.setEchoCode(tovik::kDualEcho);
  runDecoding(state, a, scene,
              [](auto& as, const uint8_t* p, auto& out) { return as.addPacket(p, 1, out); });
}

void BM_OfflineSingleForward(benchmark::State& state) {
  runOffline(state, tovik::OfflineAssembler::Layout::Single, singleScene());
}
BENCHMARK(BM_OfflineSingleForward)->ArgName("handBack")->Arg(0)->Arg(1);

void BM_OfflineDualForward(benchmark::State& state) {
  runOffline(state, tovik::OfflineAssembler::Layout::Dual, dualScene());
}
BENCHMARK(BM_OfflineDualForward)->ArgName("handBack")->Arg(0)->Arg(1);

// The two ways a producer hands a revolution over: a copy (SendData) or a pooled handle
// (SendFrame).
class Producer : public QObject {
  Q_OBJECT
 signals:
  void SendData(LidarData lidardata);
  void SendFrame(const tovik::SharedFrame& frame);
};

// Takes each revolution as the window does: keeps it as its last revolution and reads it.
struct Consumer {
  LidarData lastScan;
  uint64_t received = 0;
  size_t points = 0;
  void take(const LidarData& revolution) {
    lastScan = revolution;
    points += lastScan.distance[0].size();
    ++received;
  }
};

// handOver 0: queued copies into a by-value slot that moves them into lastScan (the window before
// pooled frames); 1: queued pooled handles, copied into lastScan; 2: pooled handles taken on the
// decoding thread (direct connection), the hand-over alone without Qt's queued event.
void BM_Handover(benchmark::State& state) {
  static int argc = 1;
  static char name[] = "bench_assembly";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  qRegisterMetaType<LidarData>();
  mallopt(M_TRIM_THRESHOLD, 128 << 10);
  mallopt(M_MMAP_THRESHOLD, 128 << 10);
  const int mode = int(state.range(0));
  const bool pooled = mode != 0;

  Producer producer;
  Consumer consumer;
  QObject context;
  const Qt::ConnectionType type = mode == 2 ? Qt::DirectConnection : Qt::QueuedConnection;
  if (pooled) {
    QObject::connect(
        &producer, &Producer::SendFrame, &context,
        [&consumer](const tovik::SharedFrame& f) { consumer.take(*f); }, type);
  } else {
    QObject::connect(
        &producer, &Producer::SendData, &context,
        [&consumer](LidarData d) {
          consumer.lastScan = std::move(d);
          consumer.points += consumer.lastScan.distance[0].size();
          ++consumer.received;
        },
        type);
  }

  // The decoding thread: on each request, decodes packets until a revolution closes and emits it.
  std::mutex mutex;
  std::condition_variable wake;
  uint64_t requested = 0;
  bool stop = false;
  std::atomic<uint64_t> packets{0}, emitted{0};
  const std::vector<PacketImage>& scene = dualScene();
  std::thread decoder([&] {
    tovik::LiveDualAssembler a;
    a.setEchoCode(tovik::kDualEcho);
    const auto pool = tovik::SharedFramePool::create();
    std::vector<LidarData> out;
    out.reserve(4);
    size_t i = 0;
    uint64_t done = 0;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait(lock, [&] { return stop || requested > done; });
        if (stop) break;
        ++done;
      }
      for (bool closed = false; !closed;) {
        if (pooled) pool->drainInto([&a](LidarData&& f) { a.recycle(std::move(f)); });
        out.clear();
        a.addPacket(scene[i].data(), out);
        if (++i == scene.size()) i = 0;
        packets.fetch_add(1, std::memory_order_relaxed);
        for (LidarData& f : out) {
          closed = true;
          if (pooled) {
            emit producer.SendFrame(pool->share(std::move(f)));
          } else {
            emit producer.SendData(std::move(f));
          }
          emitted.fetch_add(1, std::memory_order_release);
        }
      }
    }
  });
  uint64_t asked = 0;  // revolutions asked for, main thread
  const auto revolution = [&] {
    const uint64_t target = ++asked;
    {
      std::lock_guard<std::mutex> lock(mutex);
      requested = target;
    }
    wake.notify_one();
    if (mode == 2) {
      while (emitted.load(std::memory_order_acquire) < target) std::this_thread::yield();
    } else {
      while (consumer.received < target) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
      }
    }
  };

  for (int n = 0; n < 5; ++n) revolution();
  const uint64_t packetsBefore = packets.load();
  const uint64_t allocationsBefore = allocations.load();
  const uint64_t bytesBefore = allocatedBytes.load();
  for (auto _ : state) revolution();
  const double perThousand = 1000.0 / double(packets.load() - packetsBefore);
  state.counters["allocs"] = double(allocations.load() - allocationsBefore) * perThousand;
  state.counters["kB"] = double(allocatedBytes.load() - bytesBefore) * perThousand / 1024.0;
  state.counters["points"] = double(consumer.lastScan.totalPoints());
  {
    std::lock_guard<std::mutex> lock(mutex);
    stop = true;
  }
  wake.notify_one();
  decoder.join();
  QCoreApplication::processEvents();
  benchmark::DoNotOptimize(consumer.points);
}
BENCHMARK(BM_Handover)->ArgName("handOver")->Arg(0)->Arg(1)->Arg(2)->UseRealTime();

// The copy a queued signal makes of each revolution it carries (a 600 rpm dual-return frame),
// with glibc's default trimming of freed heap (allocatorTuned:0) and with the viewer's setting
// (tuneAllocatorForStreaming, allocatorTuned:1).
void BM_QueuedCopy(benchmark::State& state) {
  if (state.range(0)) {
    tovik::tuneAllocatorForStreaming();
  } else {
    mallopt(M_TRIM_THRESHOLD, 128 << 10);
    mallopt(M_MMAP_THRESHOLD, 128 << 10);
  }
  tovik::OfflineAssembler a(tovik::OfflineAssembler::Layout::Dual);
  std::vector<LidarData> out;
  for (size_t i = 0; out.empty(); ++i) a.addPacket(dualScene()[i].data(), 1, out);
  for (size_t i = 0; out.size() < 2; ++i) a.addPacket(dualScene()[i].data(), 1, out);
  const LidarData& frame = out.back();
  const uint64_t allocationsBefore = allocations.load();
  for (auto _ : state) {
    LidarData copy = frame;
    benchmark::DoNotOptimize(copy.distance[0].data());
  }
  state.counters["points"] = double(frame.totalPoints());
  state.counters["allocs"] =
      double(allocations.load() - allocationsBefore) / double(state.iterations());
}
BENCHMARK(BM_QueuedCopy)->ArgName("allocatorTuned")->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();

#include "bench_assembly.moc"
