#include "src/point_arrays.h"

#include <algorithm>
#include <cstdint>
#include <system_error>
#include <thread>
#include <vector>

namespace py = pybind11;

namespace tovik::python {

namespace {

// Points below this count are placed on the calling thread alone.
constexpr size_t kPointsPerThread = 8192;
constexpr unsigned kMaxThreads = 8;

}  // namespace

pybind11::tuple revolutionArrays(const LidarData& frame, const AngleTable& angles,
                                 int accuaryMode) {
  size_t n = 0;
  for (int ch = 0; ch < kChannelCount; ++ch) n += frame.pointCount(ch);
  const auto len = py::ssize_t(n);
  py::array_t<float> azimuth(len), distance(len), distanceCm(len);
  py::array_t<uint8_t> intensity(len), channel(len);
  py::array_t<uint64_t> time(len);
  py::array_t<double> cosV(kChannelCount), sinV(kChannelCount);

  float* as = azimuth.mutable_data();
  float* ds = distance.mutable_data();
  float* cms = distanceCm.mutable_data();
  uint8_t* is = intensity.mutable_data();
  uint8_t* cs = channel.mutable_data();
  uint64_t* ts = time.mutable_data();
  double* cv = cosV.mutable_data();
  double* sv = sinV.mutable_data();
  {
    py::gil_scoped_release nogil;
    const ChannelTrig trig = channelTrig(angles);
    std::copy(trig.cosV, trig.cosV + kChannelCount, cv);
    std::copy(trig.sinV, trig.sinV + kChannelCount, sv);
    size_t o = 0;
    for (int ch = 0; ch < kChannelCount; ++ch) {
      const size_t count = frame.pointCount(ch);
      const float* dist = frame.distance[ch].data();
      const int* inten = frame.intensity[ch].data();
      std::copy(frame.azimuth[ch].data(), frame.azimuth[ch].data() + count, as + o);
      std::copy(frame.adjustedTime[ch].data(), frame.adjustedTime[ch].data() + count, ts + o);
      std::fill(cs + o, cs + o + count, uint8_t(ch));
      for (size_t i = 0; i < count; ++i, ++o) {
        const float d = float(scaleDistance(dist[i], accuaryMode));  // cm
        cms[o] = d;
        ds[o] = d / 100;  // metres, in single precision
        is[o] = uint8_t(inten[i]);
      }
    }
  }
  return py::make_tuple(intensity, channel, azimuth, distance, time, distanceCm, cosV, sinV);
}

pybind11::tuple positions(const Array<float>& distanceCm, const Array<float>& azimuth,
                          const Array<uint8_t>& channel, const Array<double>& cosV,
                          const Array<double>& sinV) {
  const py::ssize_t len = distanceCm.size();
  if (azimuth.size() != len || channel.size() != len || distanceCm.ndim() != 1 ||
      azimuth.ndim() != 1 || channel.ndim() != 1 || cosV.size() != kChannelCount ||
      sinV.size() != kChannelCount) {
    throw py::value_error("positions: arrays of one length and 16 channel angles expected");
  }
  py::array_t<float> x(len), y(len), z(len);
  const float* d = distanceCm.data();
  const float* a = azimuth.data();
  const uint8_t* c = channel.data();
  const double* cv = cosV.data();
  const double* sv = sinV.data();
  float* xs = x.mutable_data();
  float* ys = y.mutable_data();
  float* zs = z.mutable_data();
  {
    py::gil_scoped_release nogil;
    auto place = [&](size_t from, size_t to) {
      for (size_t i = from; i < to; ++i) {
        const int ch = c[i] & (kChannelCount - 1);
        const PointXYZ p = pointPosition(d[i], a[i], cv[ch], sv[ch]);
        xs[i] = p.x;
        ys[i] = p.y;
        zs[i] = p.z;
      }
    };
    const size_t n = size_t(len);
    const unsigned threads =
        std::max(1u, std::min({kMaxThreads, std::thread::hardware_concurrency(),
                               unsigned(n / kPointsPerThread)}));
    const size_t step = (n + threads - 1) / threads;
    std::vector<std::thread> helpers;
    unsigned started = 1;
    try {
      for (; started < threads; ++started)
        helpers.emplace_back(place, started * step, std::min(n, (started + 1) * step));
    } catch (const std::system_error&) {
      // No more threads: this one places the rest.
    }
    place(0, std::min(n, step));
    if (started < threads) place(started * step, n);
    for (std::thread& h : helpers) h.join();
  }
  return py::make_tuple(x, y, z);
}

}  // namespace tovik::python
