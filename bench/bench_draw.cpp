// The drawing pipeline per revolution: the revolution pass and the table rows on simulated
// revolutions (600 rpm: about 32,000 points; 300 rpm: about 64,000), and, when an X display is
// available, the redraw of the 3D view (setClouds + render) at 1280x720.
//
//   xvfb-run -a -s "-screen 0 1920x1080x24" bench/bench_draw
//
// Without a display the redraw benchmarks are skipped; the others run.
#include <QVTKOpenGLNativeWidget.h>
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QStandardItemModel>
#include <QSurfaceFormat>
#include <QTableView>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <vector>

#include "acquisition/revolution_assembler.h"
#include "app/point_cloud_view.h"
#include "app/point_table.h"
#include "app/revolution_pass.h"
#include "tools/sim/simulator.h"

namespace {

// The second revolution the simulator produces at rpm (the first one starts mid-turn).
const LidarData& simulatedRevolution(int rpm) {
  static std::array<std::unique_ptr<LidarData>, 2> cache;
  std::unique_ptr<LidarData>& slot = cache[rpm == 300 ? 1 : 0];
  if (slot) return *slot;
  tovik::sim::SimConfig config;
  config.rpm = rpm;
  tovik::sim::Simulator sim(config);
  tovik::LiveSingleAssembler assembler;
  std::vector<LidarData> frames;
  std::array<uint8_t, tovik::sim::kDatagramSize> packet{};
  while (frames.size() < 2) {
    uint64_t t = 0;
    sim.nextPointPacket(packet.data(), &t);
    assembler.addPacket(packet.data(), frames);
  }
  slot = std::make_unique<LidarData>(frames[1]);
  return *slot;
}

tovik::PassSettings deviceSettings() {
  tovik::PassSettings s;
  s.deviceAngles = tovik::nominalVerticalAngles(tovik::kDegree2);
  return s;
}

void BM_RevolutionPass(benchmark::State& state) {
  const LidarData& scan = simulatedRevolution(int(state.range(0)));
  tovik::PassSettings settings = deviceSettings();
  settings.colorMode = int(state.range(1));
  tovik::PassResult result;
  for (auto _ : state) {
    tovik::runRevolutionPass(scan, settings, &result);
    benchmark::DoNotOptimize(result.realTime.data());
  }
  state.counters["points"] = double(scan.totalPoints());
  state.counters["drawn"] = double(result.realTime.size());
  state.counters["points/s"] = benchmark::Counter(double(scan.totalPoints() * state.iterations()),
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RevolutionPass)
    ->ArgNames({"rpm", "colour"})
    ->Args({600, tovik::kColorIntensity})
    ->Args({300, tovik::kColorIntensity})
    ->Args({600, tovik::kColorElevation})
    ->Unit(benchmark::kMillisecond);

// With an area selection covering about half the room: the split and the in-box list.
void BM_RevolutionPassWithSelection(benchmark::State& state) {
  const LidarData& scan = simulatedRevolution(int(state.range(0)));
  tovik::PassSettings settings = deviceSettings();
  settings.selectionActive = true;
  settings.selectionBox = {0.0f, 100.0f, -100.0f, 100.0f, -100.0f, 100.0f};
  tovik::PassResult result;
  for (auto _ : state) {
    tovik::runRevolutionPass(scan, settings, &result);
    benchmark::DoNotOptimize(result.clicked.data());
  }
  state.counters["inBox"] = double(result.inBox.size());
}
BENCHMARK(BM_RevolutionPassWithSelection)
    ->ArgName("rpm")
    ->Arg(600)
    ->Arg(300)
    ->Unit(benchmark::kMillisecond);

// The 128 normal rows of a revolution into the table model (8 cells each), alternating between
// two revolutions so that every cell changes.
void BM_TableNormalRows(benchmark::State& state) {
  tovik::PassResult a, b;
  tovik::runRevolutionPass(simulatedRevolution(600), deviceSettings(), &a);
  tovik::runRevolutionPass(simulatedRevolution(300), deviceSettings(), &b);
  QStandardItemModel model;
  tovik::PointTable table(&model);
  table.reset();
  bool flip = false;
  for (auto _ : state) {
    table.writeNormalRows(flip ? a.normalRows : b.normalRows);
    flip = !flip;
  }
  state.counters["rows"] = double(a.normalRows.size());
}
BENCHMARK(BM_TableNormalRows)->Unit(benchmark::kMicrosecond);

// The same with a table view showing the model, as in the window.
void BM_TableNormalRowsShown(benchmark::State& state) {
  if (!qApp) {
    state.SkipWithError("no X display: run under xvfb-run");
    return;
  }
  tovik::PassResult a, b;
  tovik::runRevolutionPass(simulatedRevolution(600), deviceSettings(), &a);
  tovik::runRevolutionPass(simulatedRevolution(300), deviceSettings(), &b);
  QStandardItemModel model;
  tovik::PointTable table(&model);
  QTableView view;
  table.reset(&view);
  view.resize(800, 600);
  view.show();
  bool flip = false;
  for (auto _ : state) {
    table.writeNormalRows(flip ? a.normalRows : b.normalRows);
    QApplication::processEvents();
    flip = !flip;
  }
}
BENCHMARK(BM_TableNormalRowsShown)->Unit(benchmark::kMicrosecond);

// The redraw as the main window does it: replace both clouds, render, at 1280x720; with the
// colour legend shown (intensity) or hidden (solid colour). CPU is the process's, the software
// renderer's threads included.
void BM_Redraw(benchmark::State& state) {
  if (!qApp) {
    state.SkipWithError("no X display: run under xvfb-run");
    return;
  }
  tovik::PassResult result;
  tovik::runRevolutionPass(simulatedRevolution(300), deviceSettings(), &result);
  std::vector<tovik::DrawnPoint> points(
      result.realTime.begin(),
      result.realTime.begin() + std::min<long>(state.range(0), long(result.realTime.size())));
  QVTKOpenGLNativeWidget screen;
  screen.resize(1280, 720);
  tovik::PointCloudView view(&screen);
  view.setColorLegend(state.range(1) ? tovik::kColorIntensity : tovik::kColorSolid);
  screen.show();
  QApplication::processEvents();
  view.setCameraPreset(1);
  view.setClouds(points, {}, 1);
  view.resetCamera();
  for (auto _ : state) {
    view.setClouds(points, {}, 1);
    view.render();
  }
  state.counters["points"] = double(points.size());
  state.counters["frames/s"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Redraw)
    ->ArgNames({"points", "legend"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({30000, 0})
    ->Args({30000, 1})
    ->Args({60000, 1})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->MinTime(3.0);

// The redraw with a trail of n revolutions of a 600 rpm stream (32,000 points each): every
// frame adds the newest revolution, ages the others and draws them all.
void BM_RedrawTrail(benchmark::State& state) {
  if (!qApp) {
    state.SkipWithError("no X display: run under xvfb-run");
    return;
  }
  tovik::PassResult result;
  tovik::runRevolutionPass(simulatedRevolution(600), deviceSettings(), &result);
  const std::vector<tovik::DrawnPoint> points = result.realTime;
  QVTKOpenGLNativeWidget screen;
  screen.resize(1280, 720);
  tovik::PointCloudView view(&screen);
  view.setTrailLength(int(state.range(0)));
  screen.show();
  QApplication::processEvents();
  view.setCameraPreset(1);
  for (int i = 0; i < state.range(0); ++i) view.setClouds(points, {}, 1);
  view.resetCamera();
  for (auto _ : state) {
    view.setClouds(points, {}, 1);
    view.render();
  }
  state.counters["drawn"] = double(points.size()) * double(view.drawnRevolutions());
  state.counters["frames/s"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RedrawTrail)
    ->ArgName("trail")
    ->Arg(1)
    ->Arg(10)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
  std::unique_ptr<QApplication> app;
  // A VTK render window aborts without an X display, so the redraw needs one.
  if (std::getenv("DISPLAY")) {
    QSurfaceFormat format = QVTKOpenGLNativeWidget::defaultFormat();
    format.setSamples(0);
    QSurfaceFormat::setDefaultFormat(format);
    app = std::make_unique<QApplication>(argc, argv);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
