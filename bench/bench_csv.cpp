// CSV export throughput: whole revolutions through the row writer, and the number formatting alone
// beside the C library and std::to_chars for comparison.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "acquisition/csv_writer.h"
#include "acquisition/geometry.h"
#include "acquisition/lidar_data.h"

namespace {

// About one revolution at 10 Hz: 16 channels x 1,900 points, azimuth sweeping 0..360 degrees,
// ranges up to ~100 m with a few empty returns, firing times 3.125 us apart.
LidarData realisticRevolution() {
  constexpr int kPointsPerChannel = 1900;
  std::mt19937 rng(1);
  LidarData f;
  f.reserve(kPointsPerChannel);
  for (int ch = 0; ch < kChannelCount; ++ch) {
    for (int i = 0; i < kPointsPerChannel; ++i) {
      const bool empty = rng() % 20 == 0;
      f.distance[ch].push_back(empty ? 0.0f : float(200 + rng() % 40000));
      f.intensity[ch].push_back(int(rng() % 256));
      f.azimuth[ch].push_back(float(i) * 360.0f / kPointsPerChannel);
      f.adjustedTime[ch].push_back(3600000000ull + uint64_t(i) * 100 + uint64_t(ch) * 3);
    }
  }
  return f;
}

void BM_CsvRevolution(benchmark::State& state) {
  const LidarData frame = realisticRevolution();
  const tovik::AngleTable angles = tovik::nominalVerticalAngles(tovik::kDegree2);
  const tovik::csv::RowOptions options;
  std::string out;
  out.reserve(4 << 20);
  size_t rows = 0;
  size_t bytes = 0;
  int id = 0;
  for (auto _ : state) {
    out.clear();
    rows += tovik::csv::appendRevolution(out, frame, ++id, angles, options);
    bytes += out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["points/s"] = benchmark::Counter(double(rows), benchmark::Counter::kIsRate);
  state.counters["bytes/point"] = double(bytes) / double(rows ? rows : 1);
  state.SetBytesProcessed(int64_t(bytes));
}
BENCHMARK(BM_CsvRevolution)->Unit(benchmark::kMillisecond);

// The values one row formats: coordinates, azimuth and distance, as floats.
std::vector<double> sampleValues() {
  std::mt19937 rng(2);
  std::uniform_real_distribution<float> coordinate(-200.0f, 200.0f);
  std::uniform_real_distribution<float> azimuth(0.0f, 360.0f);
  std::uniform_real_distribution<float> distance(0.0f, 600.0f);
  std::vector<double> v;
  for (int i = 0; i < 4096; ++i) {
    v.push_back(coordinate(rng));
    v.push_back(coordinate(rng));
    v.push_back(coordinate(rng) / 100);
    v.push_back(azimuth(rng));
    v.push_back(distance(rng));
  }
  return v;
}

// Five values are one point's worth of floating fields; the counter reports points/s.
template <typename Format>
void runFormatter(benchmark::State& state, Format format) {
  const std::vector<double> values = sampleValues();
  char buf[64];
  size_t formatted = 0;
  for (auto _ : state) {
    for (double v : values) {
      benchmark::DoNotOptimize(format(v, buf));
      benchmark::ClobberMemory();
    }
    formatted += values.size();
  }
  state.counters["values/s"] = benchmark::Counter(double(formatted), benchmark::Counter::kIsRate);
  state.counters["points/s"] =
      benchmark::Counter(double(formatted) / 5.0, benchmark::Counter::kIsRate);
}

void BM_FormatGeneral(benchmark::State& state) {
  runFormatter(state, [](double v, char* buf) { return tovik::csv::formatGeneral(v, buf); });
}
BENCHMARK(BM_FormatGeneral);

void BM_ToCharsGeneral6(benchmark::State& state) {
  runFormatter(state, [](double v, char* buf) {
    return std::to_chars(buf, buf + 64, v, std::chars_format::general, 6).ptr - buf;
  });
}
BENCHMARK(BM_ToCharsGeneral6);

void BM_SnprintfG(benchmark::State& state) {
  runFormatter(state, [](double v, char* buf) { return std::snprintf(buf, 64, "%g", v); });
}
BENCHMARK(BM_SnprintfG);

}  // namespace

BENCHMARK_MAIN();
