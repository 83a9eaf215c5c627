// Indexing a capture of 100,000 point packets: our parser over the bytes in memory, the same
// through a memory-mapped file, and libpcap's pcap_next_ex loop over the file in the page cache.
#include <benchmark/benchmark.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "acquisition/capture_file.h"
#include "acquisition/capture_format.h"
#include "acquisition/pcap_writer.h"
#include "capture_fixtures.h"

namespace {

using namespace tovik::capture;

constexpr int kPackets = 100000;

const std::string& captureBytes() {
  static const std::string bytes = [] {
    std::ostringstream out;
    CaptureWriter writer(out);
    for (int i = 0; i < kPackets; ++i) {
      const fixtures::Bytes payload =
          fixtures::pointPayload(uint32_t(i), uint16_t(i * 430 % 36000));
      writer.writeUdp(fixtures::kStartNs + uint64_t(i) * 1327000, fixtures::kLidarIp, 2368,
                      fixtures::kHostIp, 2368, payload.data(), payload.size());
    }
    return out.str();
  }();
  return bytes;
}

// The capture as a file; the first read puts it in the page cache. It is removed at exit.
char removeAtExit[256];

const std::string& capturePath() {
  static const std::string path = [] {
    const std::string p = "/tmp/tovik_bench_capture_" + std::to_string(getpid()) + ".pcap";
    fixtures::writeFile(p, captureBytes());
    std::snprintf(removeAtExit, sizeof removeAtExit, "%s", p.c_str());
    std::atexit([] { std::remove(removeAtExit); });
    return p;
  }();
  return path;
}

void setCounters(benchmark::State& state, uint64_t records) {
  state.SetItemsProcessed(int64_t(state.iterations() * records));
  state.SetBytesProcessed(int64_t(state.iterations() * captureBytes().size()));
  state.counters["records"] = double(records);
}

void BM_IndexCaptureInMemory(benchmark::State& state) {
  const std::string& bytes = captureBytes();
  uint64_t records = 0;
  for (auto _ : state) {
    Index index;
    std::string error;
    indexCapture(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &index, &error);
    benchmark::DoNotOptimize(index.pointPackets.data());
    records = index.records;
    if (index.pointPackets.size() != size_t(kPackets)) state.SkipWithError("packets missing");
  }
  setCounters(state, records);
}
BENCHMARK(BM_IndexCaptureInMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CaptureFileOpen(benchmark::State& state) {
  const std::string& path = capturePath();
  uint64_t records = 0;
  for (auto _ : state) {
    CaptureFile file;
    if (!file.open(path)) state.SkipWithError(file.errorString().c_str());
    records = file.index().records;
    benchmark::DoNotOptimize(file.index().pointPackets.data());
  }
  setCounters(state, records);
}
BENCHMARK(BM_CaptureFileOpen)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LibpcapNextEx(benchmark::State& state) {
  const std::string& path = capturePath();
  uint64_t records = 0;
  for (auto _ : state) {
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline(path.c_str(), error);
    if (!p) {
      state.SkipWithError(error);
      break;
    }
    pcap_pkthdr* header;
    const u_char* data;
    records = 0;
    while (pcap_next_ex(p, &header, &data) == 1) {
      benchmark::DoNotOptimize(data);
      ++records;
    }
    pcap_close(p);
  }
  setCounters(state, records);
}
BENCHMARK(BM_LibpcapNextEx)->Unit(benchmark::kMillisecond)->UseRealTime();

// Playback's read path: each packet copied out of the capture's mapping, plainly and with the
// copy that survives a file shortened under it (SIGBUS). Pages are resident after the first pass.
template <bool kGuarded>
void BM_CopyPacketsFromMapping(benchmark::State& state) {
  CaptureFile file;
  if (!file.open(capturePath())) state.SkipWithError(file.errorString().c_str());
  uint8_t image[1206];
  for (auto _ : state) {
    for (const uint8_t* packet : file.index().pointPackets) {
      if (kGuarded) {
        if (!copyFromMapping(image, packet, sizeof image)) state.SkipWithError("file changed");
      } else {
        std::memcpy(image, packet, sizeof image);
      }
      benchmark::DoNotOptimize(image);
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations() * file.pointCount()));
}
BENCHMARK_TEMPLATE(BM_CopyPacketsFromMapping, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_CopyPacketsFromMapping, true)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
