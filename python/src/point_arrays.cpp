#include "src/point_arrays.h"

#include <pybind11/numpy.h>

#include <cstdint>

namespace py = pybind11;

namespace tovik::python {

pybind11::tuple revolutionArrays(const LidarData& frame, const AngleTable& angles,
                                 int accuaryMode) {
  size_t n = 0;
  for (int ch = 0; ch < kChannelCount; ++ch) n += frame.pointCount(ch);
  const auto len = py::ssize_t(n);
  py::array_t<float> x(len), y(len), z(len), azimuth(len), distance(len);
  py::array_t<uint8_t> intensity(len), channel(len);
  py::array_t<uint64_t> time(len);

  float* xs = x.mutable_data();
  float* ys = y.mutable_data();
  float* zs = z.mutable_data();
  float* as = azimuth.mutable_data();
  float* ds = distance.mutable_data();
  uint8_t* is = intensity.mutable_data();
  uint8_t* cs = channel.mutable_data();
  uint64_t* ts = time.mutable_data();
  {
    py::gil_scoped_release nogil;
    const ChannelTrig trig = channelTrig(angles);
    size_t o = 0;
    for (int ch = 0; ch < kChannelCount; ++ch) {
      const size_t count = frame.pointCount(ch);
      const float* dist = frame.distance[ch].data();
      const int* inten = frame.intensity[ch].data();
      const float* az = frame.azimuth[ch].data();
      const uint64_t* when = frame.adjustedTime[ch].data();
      const double cosV = trig.cosV[ch];
      const double sinV = trig.sinV[ch];
      for (size_t i = 0; i < count; ++i, ++o) {
        const float d = float(scaleDistance(dist[i], accuaryMode));  // cm
        const PointXYZ p = pointPosition(d, az[i], cosV, sinV);
        xs[o] = p.x;
        ys[o] = p.y;
        zs[o] = p.z;
        as[o] = az[i];
        ds[o] = d / 100;  // metres, in single precision
        is[o] = uint8_t(inten[i]);
        cs[o] = uint8_t(ch);
        ts[o] = when[i];
      }
    }
  }
  return py::make_tuple(x, y, z, intensity, channel, azimuth, distance, time);
}

}  // namespace tovik::python
