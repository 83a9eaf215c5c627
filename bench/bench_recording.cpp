// Recording keeps up with the dual-return stream: the simulated lidar streams dual-return point
// data over loopback at a multiple of the real pace while a PcapRecorder records the data port
// on "lo"; every packet sent must be in the file, none dropped by the kernel.
//
// Needs root or CAP_NET_RAW. Seconds per run: TOVIK_RECORD_BENCH_SECONDS (default 20).
//   bench_recording --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>
#include <sys/socket.h>

#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "acquisition/capture_file.h"
#include "acquisition/pcap_recorder.h"
#include "acquisition/udp_socket.h"
#include "tools/sim/sim_runner.h"

namespace {

uint16_t freePort() {
  tovik::net::UdpSocket s;
  if (!s.open() || !s.bind("127.0.0.1", 0)) return 0;
  return s.localEndpoint().port;
}

double runSeconds() {
  const char* text = std::getenv("TOVIK_RECORD_BENCH_SECONDS");
  const double s = text != nullptr ? std::atof(text) : 0.0;
  return s > 0 ? s : 20.0;
}

// rate: multiple of the real packet rate; rpm: motor speed of the simulated lidar.
void BM_RecordDualReturn(benchmark::State& state) {
  const double rate = double(state.range(0));
  tovik::sim::RunOptions o;
  o.sim.dualReturn = true;
  o.sim.rpm = int(state.range(1));
  o.sim.dataPort = freePort();
  o.sim.devicePort = freePort();
  o.dataSourcePort = 0;
  o.deviceSourcePort = 0;
  o.rate = rate;
  o.durationS = runSeconds();
  o.quiet = true;

  QTemporaryDir dir;
  uint64_t sent = 0, recorded = 0, dropped = 0, inFile = 0;
  double seconds = 0;
  for (auto _ : state) {
    // The viewer's socket: reads and discards, as a live receiver would.
    tovik::net::UdpSocket sink;
    sink.open();
    sink.setReceiveBufferSize(16 << 20);
    sink.setReceiveTimeout(50);
    sink.bind("127.0.0.1", o.sim.dataPort);
    std::atomic<bool> sinkStop{false};
    std::thread sinkThread([&] {
      uint8_t buffer[2048];
      while (!sinkStop) ::recv(sink.nativeHandle(), buffer, sizeof buffer, 0);
    });

    tovik::capture::PcapRecorder recorder;
    tovik::capture::RecordSettings settings;
    settings.interfaceName = "lo";
    settings.filePath = dir.filePath(QStringLiteral("bench.pcap")).toStdString();
    settings.port = o.sim.dataPort;
    if (!recorder.start(settings)) {
      sinkStop = true;
      sinkThread.join();
      state.SkipWithError(recorder.errorText().c_str());
      return;
    }
    std::ostringstream log;
    tovik::sim::NetworkRunner runner(o, log);
    std::string error;
    if (!runner.open(&error)) {
      recorder.stop();
      sinkStop = true;
      sinkThread.join();
      state.SkipWithError(error.c_str());
      return;
    }
    const auto t0 = std::chrono::steady_clock::now();
    std::atomic<bool> stop{false};
    runner.run(stop);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    sent = runner.stats().pointSent;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (recorder.capturedPackets() < sent && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    recorder.stop();
    sinkStop = true;
    sinkThread.join();
    recorded = recorder.capturedPackets();
    dropped = recorder.droppedPackets();

    tovik::capture::CaptureFile file;
    if (file.open(settings.filePath)) inFile = file.pointCount();
  }
  state.counters["sent"] = double(sent);
  state.counters["recorded"] = double(recorded);
  state.counters["in_file"] = double(inFile);
  state.counters["lost"] = double(sent > inFile ? sent - inFile : 0);
  state.counters["kernel_drops"] = double(dropped);
  state.counters["packets_per_s"] = seconds > 0 ? double(sent) / seconds : 0;
}
BENCHMARK(BM_RecordDualReturn)
    ->ArgNames({"rate", "rpm"})
    ->Args({2, 600})
    ->Args({10, 1200})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
