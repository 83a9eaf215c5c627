// Opening a capture as the Offline tab's "Open" does: map and index the file, estimate the
// revolution length and count the frames. The file comes from bench/make_big_capture.sh (about
// 1 GB, 800,000 point packets) and should be in the page cache (the script reads it once).
//
// Counters: packets indexed, file size, and the memory the open keeps while the capture is
// loaded: heap bytes in use (mallinfo2().uordblks) and anonymous resident memory (RssAnon),
// each as a difference before/after and as a share of the file size. Targets: under 2 s and
// under 2 % of the file.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "acquisition/capture_file.h"
#include "acquisition/capture_format.h"

namespace {

std::string capturePath() {
  const char* env = std::getenv("TOVIK_BIG_CAPTURE");
  return env != nullptr && *env != '\0' ? env : "/tmp/tovik16_800k.pcap";
}

// Anonymous resident memory of this process in bytes, 0 when unknown.
double rssAnonBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("RssAnon:", 0) == 0) return std::strtod(line.c_str() + 8, nullptr) * 1024.0;
  }
  return 0;
}

double heapInUse() { return double(mallinfo2().uordblks); }

void BM_OpenCapture(benchmark::State& state) {
  const std::string path = capturePath();
  {
    // Warms the page cache and checks that the file is there.
    tovik::capture::CaptureFile warm;
    if (!warm.open(path)) {
      state.SkipWithError(
          ("cannot open " + path + " (run bench/make_big_capture.sh): " + warm.errorString())
              .c_str());
      return;
    }
  }
  double heapKept = 0, rssKept = 0, packets = 0, fileSize = 0, frames = 0, progressCalls = 0;
  for (auto _ : state) {
    const double heapBefore = heapInUse();
    const double rssBefore = rssAnonBytes();
    tovik::capture::CaptureFile capture;
    size_t calls = 0;
    const bool ok = capture.open(path, [&calls](size_t, size_t) { ++calls; });
    const int perFrame = tovik::capture::estimatePacketsPerFrame(capture.index().pointPackets);
    frames = tovik::capture::frameCountFor(capture.pointCount(), perFrame);
    heapKept = heapInUse() - heapBefore;
    rssKept = rssAnonBytes() - rssBefore;
    if (!ok) {
      state.SkipWithError(capture.errorString().c_str());
      return;
    }
    packets = double(capture.pointCount());
    fileSize = double(capture.fileSize());
    progressCalls = double(calls);
    benchmark::DoNotOptimize(frames);
    state.PauseTiming();
    capture.close();
    state.ResumeTiming();
  }
  state.counters["packets"] = packets;
  state.counters["file_MB"] = fileSize / 1e6;
  state.counters["frames"] = frames;
  state.counters["progress_calls"] = progressCalls;
  state.counters["heap_MB"] = heapKept / 1e6;
  state.counters["heap_pct"] = fileSize > 0 ? 100.0 * heapKept / fileSize : 0;
  state.counters["rss_anon_MB"] = rssKept / 1e6;
  state.counters["rss_anon_pct"] = fileSize > 0 ? 100.0 * rssKept / fileSize : 0;
}
BENCHMARK(BM_OpenCapture)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
