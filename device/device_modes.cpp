#include "device/device_modes.h"

#include "acquisition/lidar_data.h"

namespace tovik {

DeviceModes deriveDeviceModes(int fpga3Major, int fpga3Minor, int angleSpacing, int echoMode) {
  DeviceModes m;
  // Boards from FPGA version 3.5 to 3.9 measure in 0.4 cm counts.
  m.accuaryMode =
      (fpga3Major >= 3 && fpga3Minor >= 5 && fpga3Minor <= 9) ? kResolution04 : kResolution025;
  m.degreeMode = angleSpacing == 133 ? kDegree133 : kDegree2;
  m.sensorType = QString::fromLatin1(echoMode == 1 ? kSensorDualLive : kSensorSingleLive);
  return m;
}

}  // namespace tovik
