#include "acquisition/capture_description.h"

#include "acquisition/lidar_data.h"
#include "device/device_modes.h"
#include "device/setting_data.h"

namespace tovik {

bool CaptureDescription::dualReturn() const {
  return sensorType == QLatin1String(kSensorDualOffline);
}

OfflineAssembler::Layout CaptureDescription::layout() const {
  return dualReturn() ? OfflineAssembler::Layout::Dual : OfflineAssembler::Layout::Single;
}

CaptureDescription describeCapture(const std::vector<const uint8_t*>& devicePackets) {
  CaptureDescription d;
  d.devicePackets = devicePackets.size();
  if (devicePackets.empty()) return d;
  const uint8_t* p = devicePackets.front();
  const std::vector<int> mac = buildMacVector(p);
  // FPGA 3rd board version: major at byte 1202, minor in the high nibble of byte 1203.
  const DeviceModes modes =
      deriveDeviceModes(p[1202], p[1203] >> 4, mac[kMacAngleSpacing], mac[kMacEchoMode]);
  d.fromDevice = true;
  d.sensorType =
      QLatin1String(modes.sensorType == QLatin1String(kSensorDualLive) ? kSensorDualOffline
                                                                       : kSensorSingleOffline);
  d.degreeMode = modes.degreeMode;
  d.accuaryMode = modes.accuaryMode;
  d.verticalAngles = decodeVerticalAngles(p);
  return d;
}

}  // namespace tovik
