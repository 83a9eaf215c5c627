// _tovik16: the compiled half of the tovik16 package. The Python half (tovik16/*.py) wraps these
// classes in the documented API; use that instead of this module.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>

#include "acquisition/point_packet.h"
#include "device/setting_data.h"
#include "src/capture_reader.h"
#include "src/device_dict.h"
#include "src/live_stream.h"
#include "src/point_arrays.h"

namespace py = pybind11;
using tovik::python::CaptureReader;
using tovik::python::LiveStream;
using tovik::python::RevolutionIterator;

namespace {

py::dict decodeDevicePacket(const py::bytes& data) {
  const std::string bytes = data;
  if (bytes.size() != tovik::kDevicePacketSize) {
    throw py::value_error("a device information packet is " +
                          std::to_string(tovik::kDevicePacketSize) + " bytes, not " +
                          std::to_string(bytes.size()));
  }
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  if (!tovik::isDevicePacket(p)) {
    throw py::value_error(
        "not a device information packet: it does not start with A5 FF 00 5A 11 11 55 55");
  }
  return tovik::python::devicePacketDict(p);
}

}  // namespace

PYBIND11_MODULE(_tovik16, m) {
  m.doc() = "Compiled core of the tovik16 package (use the tovik16 package instead).";
  m.attr("__version__") = TOVIK_VERSION;
  m.attr("PACKET_SIZE") = tovik::kPacketSize;

  py::class_<CaptureReader>(m, "CaptureReader")
      .def(py::init<const std::string&, int, int, int, int>(), py::arg("path"), py::arg("layout"),
           py::arg("echo"), py::arg("degree"), py::arg("resolution"))
      .def("__len__", &CaptureReader::size)
      .def("revolution", &CaptureReader::revolution, py::arg("index"))
      .def("device_packets", &CaptureReader::devicePackets)
      .def("iterate",
           [](const CaptureReader& r) { return std::make_unique<RevolutionIterator>(r.shared()); })
      .def("close", &CaptureReader::close)
      .def_property_readonly("closed", &CaptureReader::closed)
      .def_property_readonly("sensor", &CaptureReader::sensor)
      .def_property_readonly("echo", &CaptureReader::echoCode)
      .def_property_readonly("degree", &CaptureReader::degreeMode)
      .def_property_readonly("resolution", &CaptureReader::accuaryMode)
      .def_property_readonly("path", &CaptureReader::path)
      .def_property_readonly("summary", &CaptureReader::summary)
      .def_property_readonly("packet_count", &CaptureReader::packetCount)
      .def_property_readonly("duration", &CaptureReader::duration)
      .def_property_readonly("incomplete", &CaptureReader::incomplete);

  py::class_<RevolutionIterator>(m, "RevolutionIterator").def("next", &RevolutionIterator::next);

  py::class_<LiveStream>(m, "LiveStream")
      .def(py::init<uint16_t, int, const std::string&, int, int, int, int>(), py::arg("port"),
           py::arg("layout"), py::arg("group"), py::arg("echo"), py::arg("degree"),
           py::arg("resolution"), py::arg("device_port"))
      .def("next", &LiveStream::next, py::arg("timeout"))
      .def("close", &LiveStream::close)
      .def_property_readonly("closed", &LiveStream::closed)
      .def_property_readonly("sensor", &LiveStream::sensor)
      .def_property_readonly("degree", &LiveStream::degreeMode)
      .def_property_readonly("resolution", &LiveStream::accuaryMode)
      .def_property_readonly("last_device_packet", &LiveStream::lastDevicePacket)
      .def_property_readonly("counters", &LiveStream::counters);

  m.def("decode_device_packet", &decodeDevicePacket, py::arg("data"));
  m.def("positions", &tovik::python::positions, py::arg("distance_cm"), py::arg("azimuth"),
        py::arg("channel"), py::arg("cos_v"), py::arg("sin_v"));
}
