// What a capture says about the device that recorded it.
//
// A recording made with the device packets (the lidar's status datagrams on its device port)
// carries the device's own settings: single or dual return, the vertical angle table, the distance
// resolution and the calibrated vertical angles. Readers of a capture (the viewer's Offline tab,
// the converter, the Python package) take their decoding from here instead of asking the operator.
//
// UI-free and I/O-free: it reads device packet images the caller holds.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "acquisition/geometry.h"
#include "acquisition/revolution_index.h"

namespace tovik {

struct CaptureDescription {
  // A device packet was found; every field below is meaningful only then.
  bool fromDevice = false;
  size_t devicePackets = 0;
  // "Tovik16-1" (single return) or "Tovik16-2" (dual return): the sensor window's entries.
  QString sensorType;
  int degreeMode = 0;   // 0: 2 degree table, 1: 1.33 degree table
  int accuaryMode = 0;  // 0: 0.25 cm per count, 1: 0.4 cm per count
  // The device's vertical angles in degrees by channel, as the device packet holds them. Draw
  // with chooseVerticalAngles(degreeMode, verticalAngles), the same 1.5 degree rule as live data.
  AngleTable verticalAngles{};

  bool dualReturn() const;
  OfflineAssembler::Layout layout() const;
};

// Describes a capture from its device packets (each kPacketSize bytes, as capture::Index holds
// them). The first device packet decides: it is what the device was set to when the recording
// started. Returns fromDevice == false when the list is empty.
CaptureDescription describeCapture(const std::vector<const uint8_t*>& devicePackets);

}  // namespace tovik
