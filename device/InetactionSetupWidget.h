// The network settings window. This version shows the lidar's identity and versions from the
// device information packets and publishes the versions for the About window; reading and
// writing the network settings are not in it yet.
#pragma once

#include <QStringList>
#include <QWidget>
#include <array>
#include <cstdint>
#include <vector>

#include "device/setting_data.h"

class QLabel;
typedef unsigned char u_char;

class InetactionSetupWidget : public QWidget {
  Q_OBJECT

 public:
  explicit InetactionSetupWidget(QWidget* parent = nullptr);

  // Device information records and raw packets delivered so far.
  int recordsReceived() const { return recordsReceived_; }
  int packetsReceived() const { return packetsReceived_; }
  const std::array<uint8_t, tovik::kDevicePacketSize>& devicePacket() const {
    return devicePacket_;
  }

 signals:
  // The eight version texts of the connected lidar, once, for the first record after
  // construction.
  void sVersionsToHelp(QStringList versions);

 public slots:
  // Copies the record (data points into the receiver's storage) and refreshes the read-out.
  void OnLidarStatusReceiving(SettingData* data, std::vector<int> Mac);
  // Copies the kDevicePacketSize bytes of a device information packet.
  void OnLidarDifoData(const u_char* packet);
  // Empties the read-out until the next record arrives.
  void onCleanUCWPControl();

 private:
  QLabel* readout_;
  SettingData deviceSetting_;
  std::array<uint8_t, tovik::kDevicePacketSize> devicePacket_{};
  bool versionsPending_ = true;
  int recordsReceived_ = 0;
  int packetsReceived_ = 0;
};
