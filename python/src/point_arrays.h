// A decoded revolution as NumPy arrays, filled by the core's geometry.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "acquisition/geometry.h"
#include "acquisition/lidar_data.h"

namespace tovik::python {

// The arrays of a revolution, as a tuple in this order: intensity (uint8), channel (uint8),
// azimuth (degrees, float32), distance (m, float32), time (us, uint64), then what positions()
// needs: the distance in centimetres (float32) and the cosine and sine of each channel's
// vertical angle (16 float64 each). Points go channel by channel in index order 0..15 and,
// within a channel, in firing order: the row order of the CSV export. Each channel is read up to
// frame.pointCount(ch).
//
// The numbers are the CSV export's: the raw distance scaled to centimetres and held as float,
// distance = that float / 100. Must be called with the GIL held; releases it while filling.
pybind11::tuple revolutionArrays(const LidarData& frame, const AngleTable& angles, int accuaryMode);

// x, y, z in metres (float32) of points given as above, by the core's pointPosition(), as the
// CSV export places them. Splits large inputs over a few threads with the GIL released.
template <typename T>
using Array = pybind11::array_t<T, pybind11::array::c_style | pybind11::array::forcecast>;
pybind11::tuple positions(const Array<float>& distanceCm, const Array<float>& azimuth,
                          const Array<uint8_t>& channel, const Array<double>& cosV,
                          const Array<double>& sinV);

}  // namespace tovik::python
