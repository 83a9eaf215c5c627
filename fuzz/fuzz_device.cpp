// Arbitrary bytes, cut or zero-padded to one packet, through the device packet decoder and every
// text form. Nothing may crash or read outside the packet.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "device/device_text.h"
#include "device/setting_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t packet[tovik::kDevicePacketSize] = {};
  std::memcpy(packet, data, size < sizeof packet ? size : sizeof packet);

  SettingData record;
  std::vector<int> mac;
  if (!tovik::acceptDevicePacket(packet, &record, &mac)) {
    // Foreign bytes still go through the pure decoder, as a dump or a dialog might.
    const tovik::DevicePacketContents c = tovik::decodeDevicePacket(packet);
    record = c.record;
    mac = c.mac;
  }
  // Short or odd Mac vectors must not be indexed out of range either.
  std::vector<int> shortMac(mac.begin(), mac.begin() + (size % (mac.size() + 1)));

  QStringList texts;
  texts << tovik::motorSpeedText(record) << tovik::gpsTimeText(record)
        << tovik::ppsSetAngleText(record) << tovik::ppsDeviationText(record)
        << tovik::ppsLockText(record) << tovik::latitudeText(record) << tovik::longitudeText(record)
        << tovik::macAddressText(mac) << tovik::macAddressText(shortMac)
        << tovik::plate2TemperatureText(record) << tovik::stopTemperatureText(record)
        << tovik::plate3VoltageText(record) << tovik::gpsStateText(record)
        << tovik::ppsStateText(record) << tovik::highTempPauseText(record)
        << tovik::lvdsText(record) << tovik::cleanlinessText(mac)
        << tovik::cleanlinessText(shortMac) << tovik::lidarStatusText(packet)
        << tovik::motorStateText(record) << tovik::deviceVersions(record);
  // Fixed-width forms keep their width whatever the bytes.
  if (tovik::latitudeText(record).size() != 11 || tovik::lidarIdText(record).size() != 20 ||
      tovik::deviceVersions(record).size() != tovik::kVersionCount ||
      mac.size() != size_t(tovik::kMacVectorSize))
    __builtin_trap();
  return 0;
}
