// How the first device information packet after a connect selects the live decoding.
#pragma once

#include <QString>
#include <cstdint>

namespace tovik {

struct DeviceModes {
  QString sensorType;   // "Tovik161" (single return) or "Tovik162" (dual return)
  int degreeMode = 0;   // 0: 2 degree table, 1: 1.33 degree table
  int accuaryMode = 0;  // 0: 0.25 cm per count, 1: 0.4 cm per count
};

// fpga3Major and fpga3Minor: the FPGA 3rd board's major number (packet byte 1202) and minor number
// (high nibble of byte 1203); angleSpacing: hundredths of a degree (bytes 1194-1195); echoMode:
// packet byte 185.
DeviceModes deriveDeviceModes(int fpga3Major, int fpga3Minor, int angleSpacing, int echoMode);

}  // namespace tovik
