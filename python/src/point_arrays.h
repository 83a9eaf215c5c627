// A decoded revolution as NumPy arrays, filled by the core's geometry.
#pragma once

#include <pybind11/pybind11.h>

#include "acquisition/geometry.h"
#include "acquisition/lidar_data.h"

namespace tovik::python {

// The eight arrays of a revolution, as a tuple in this order: x, y, z (m, float32), intensity
// (uint8), channel (uint8), azimuth (degrees, float32), distance (m, float32), time (us, uint64).
// Points go channel by channel in index order 0..15 and, within a channel, in firing order: the
// row order of the CSV export. Each channel is read up to frame.pointCount(ch).
//
// Places points exactly as the CSV export does: the raw distance scaled to centimetres and held
// as float, pointPosition() with the channel's angle from angles, distance = that float / 100.
// Must be called with the GIL held; it releases the GIL while it fills the arrays.
pybind11::tuple revolutionArrays(const LidarData& frame, const AngleTable& angles, int accuaryMode);

}  // namespace tovik::python
