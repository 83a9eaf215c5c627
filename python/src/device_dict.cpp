#include "src/device_dict.h"

#include <pybind11/stl.h>

#include <QString>
#include <QStringList>

#include "device/device_modes.h"
#include "device/device_text.h"
#include "device/network_config_packet.h"
#include "device/setting_data.h"

namespace py = pybind11;

namespace tovik::python {

namespace {
py::str text(const QString& q) { return py::str(q.toStdString()); }
}  // namespace

py::dict devicePacketDict(const uint8_t* p) {
  const DevicePacketContents c = decodeDevicePacket(p);
  const SettingData& s = c.record;
  const std::vector<int>& mac = c.mac;
  py::dict d;
  // The network settings window.
  d["lidar_ip"] = text(ipv4Text(p + 10));
  d["dest_ip"] = text(ipv4Text(p + 14));
  d["ntp_ip"] = text(ipv4Text(p + 28));
  d["data_port"] = text(QString::number(mac[kMacDataPort]));
  d["device_port"] = text(QString::number(mac[kMacDevicePort]));
  d["mac_address"] = text(macAddressText(mac));
  d["motor_speed"] = text(motorSpeedText(s));
  d["motor_state"] = text(motorStateText(s));
  d["packet_interval"] = text(QString::number(s.packetInterval));
  d["lidar_status"] = text(lidarStatusText(p));
  d["gps_time"] = text(gpsTimeText(s));
  d["pps_set_angle"] = text(ppsSetAngleText(s));
  d["pps_deviation"] = text(ppsDeviationText(s));
  d["pps_lock"] = text(ppsLockText(s));
  d["latitude"] = text(latitudeText(s));
  d["longitude"] = text(longitudeText(s));
  d["plate2_temperature"] = text(plate2TemperatureText(s));
  d["stop_temperature"] = text(stopTemperatureText(s));
  d["plate3_voltage"] = text(plate3VoltageText(s));
  d["gps_state"] = text(gpsStateText(s));
  d["pps_state"] = text(ppsStateText(s));
  d["high_temp_pause"] = text(highTempPauseText(s));
  d["lvds"] = text(lvdsText(s));
  d["cleanliness"] = text(cleanlinessText(mac));
  // The About window, in its order.
  py::dict versions;
  static const char* const kVersionKeys[kVersionCount] = {
      "fpga2", "fpga3", "lidar_id", "hardware2", "hardware3", "emission", "receive", "structure"};
  const QStringList list = deviceVersions(s);
  for (int i = 0; i < kVersionCount && i < list.size(); ++i)
    versions[kVersionKeys[i]] = text(list[i]);
  d["versions"] = versions;
  // Numbers.
  d["vertical_angles"] = std::vector<float>(c.verticalAngles.begin(), c.verticalAngles.end());
  d["mac"] = mac;
  const DeviceModes modes = deriveDeviceModes(s.fpga3Version[4], s.fpga3Version[5] >> 4,
                                              mac[kMacAngleSpacing], mac[kMacEchoMode]);
  d["sensor"] = text(modes.sensorType);
  d["degree"] = modes.degreeMode;
  d["resolution"] = modes.accuaryMode;
  return d;
}

}  // namespace tovik::python
