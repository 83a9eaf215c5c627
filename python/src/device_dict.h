// A device information packet as a Python dict of the texts the settings and About windows show.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>

namespace tovik::python {

// p holds a whole device information packet (kDevicePacketSize bytes, header already checked).
// Text fields are str exactly as the windows show them; vertical_angles (degrees), mac (the
// 21-value Mac vector) and the derived mode codes are numbers.
pybind11::dict devicePacketDict(const uint8_t* p);

}  // namespace tovik::python
