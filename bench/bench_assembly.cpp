// Decode throughput of the four decodings on a generated scene held in memory.
//
// The scene is a device at 600 rpm in a room: single-return packets advance 0.36 degree per
// block (1000 blocks, about 83 packets per revolution), dual-return packets 0.36 degree per pair
// (about 167 packets per revolution); 120 revolutions either way. Distances vary with channel
// and azimuth, the second echo lies a little further, and upward channels see nothing in part
// of the turn (distance 0). One benchmark iteration decodes one packet; the counters report
// packets and decoded points (384 per packet) per second.
//
// Each emitted frame (0.6 to 1.3 MB) is freed at once, thousands of times a second. With glibc's
// default trim threshold (128 KiB) the allocator hands much of that memory back to the system and
// faults it in again, which on these machines costs more than the decoding itself. The argument
// keptHeap:1 raises the trim threshold for the run, as an application may with mallopt(), to show
// the decoding cost alone; keptHeap:0 runs with the default threshold.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "acquisition/point_packet.h"
#include "acquisition/revolution_assembler.h"
#include "packet_builder.h"

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

void setHeapMode(const benchmark::State& state) {
  mallopt(M_TRIM_THRESHOLD, state.range(0) ? 256 << 20 : 128 << 10);
}

void setCounters(benchmark::State& state, int64_t frames) {
  state.counters["packets"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["points"] = benchmark::Counter(double(state.iterations() * kPointsPerPacket),
                                                benchmark::Counter::kIsRate);
  state.counters["frames"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}

// The stream is replayed in a loop; the jump from its end back to its start is one more wrap.
void BM_LiveSingle(benchmark::State& state) {
  const auto& scene = singleScene();
  tovik::LiveSingleAssembler a;
  std::vector<LidarData> out;
  size_t i = 0;
  int64_t frames = 0;
  setHeapMode(state);
  for (auto _ : state) {
    frames += a.addPacket(scene[i].data(), out);
    out.clear();
    if (++i == scene.size()) i = 0;
  }
  setCounters(state, frames);
}
BENCHMARK(BM_LiveSingle)->ArgName("keptHeap")->Arg(0)->Arg(1);

void BM_LiveDualMerged(benchmark::State& state) {
  const auto& scene = dualScene();
  tovik::LiveDualAssembler a;
  a.setEchoCode(tovik::kDualEcho);
  std::vector<LidarData> out;
  size_t i = 0;
  int64_t frames = 0;
  setHeapMode(state);
  for (auto _ : state) {
    frames += a.addPacket(scene[i].data(), out);
    out.clear();
    if (++i == scene.size()) i = 0;
  }
  setCounters(state, frames);
}
BENCHMARK(BM_LiveDualMerged)->ArgName("keptHeap")->Arg(0)->Arg(1);

void runOffline(benchmark::State& state, tovik::OfflineAssembler::Layout layout,
                const std::vector<PacketImage>& scene) {
  tovik::OfflineAssembler a(layout);
  a.setEchoCode(tovik::kDualEcho);
  std::vector<LidarData> out;
  size_t i = 0;
  int64_t frames = 0;
  setHeapMode(state);
  for (auto _ : state) {
    frames += a.addPacket(scene[i].data(), 1, out);
    out.clear();
    if (++i == scene.size()) i = 0;
  }
  setCounters(state, frames);
}

void BM_OfflineSingleForward(benchmark::State& state) {
  runOffline(state, tovik::OfflineAssembler::Layout::Single, singleScene());
}
BENCHMARK(BM_OfflineSingleForward)->ArgName("keptHeap")->Arg(0)->Arg(1);

void BM_OfflineDualForward(benchmark::State& state) {
  runOffline(state, tovik::OfflineAssembler::Layout::Dual, dualScene());
}
BENCHMARK(BM_OfflineDualForward)->ArgName("keptHeap")->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
