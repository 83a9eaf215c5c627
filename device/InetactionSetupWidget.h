// The network settings window: shows the live status of every device information packet, copies
// the device's network settings into its fields on "Refresh state", and on "Set" sends the
// network configuration datagram built from the last device packet and its fields to the lidar
// (UDP port 2368 at the address that packet reports). It also publishes the board versions of
// the first record for the About window.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "device/network_config_packet.h"
#include "device/setting_data.h"

typedef unsigned char u_char;

namespace Ui {
class InetactionSetupWidget;
}

class InetactionSetupWidget : public QWidget {
  Q_OBJECT

 public:
  // Hands one datagram to the network; false with *error set when it could not be sent.
  using DatagramSender = std::function<bool(const uint8_t* data, size_t length,
                                            const QString& address, uint16_t port, QString* error)>;

  explicit InetactionSetupWidget(QWidget* parent = nullptr);
  ~InetactionSetupWidget() override;

  // Replaces the one-shot UDP socket that sends the configuration (tests record the datagram
  // instead). An empty function restores the socket.
  void setDatagramSender(DatagramSender sender);
  // Replaces the host clock read for the time field (tests pin the time).
  void setClock(std::function<QDateTime()> clock);

  // Device information records and raw packets delivered so far.
  int recordsReceived() const { return recordsReceived_; }
  int packetsReceived() const { return packetsReceived_; }
  const std::array<uint8_t, tovik::kDevicePacketSize>& devicePacket() const {
    return devicePacket_;
  }
  // The last datagram built by Set (all zero before the first).
  const std::array<uint8_t, tovik::kDevicePacketSize>& configPacket() const {
    return configPacket_;
  }

 signals:
  // The eight version texts of the connected lidar, once, for the first record after
  // construction.
  void sVersionsToHelp(QStringList m_Versions);

 public slots:
  // "Set": checks the fields, builds and sends the configuration datagram.
  void onOK_Clicked();
  void onCancel_Clicked();
  // Copies the record (data points into the receiver's storage) and shows the live status.
  void OnLidarStatusReceiving(SettingData* data, std::vector<int> Mac);
  // Copies the kDevicePacketSize bytes of a device information packet.
  void OnLidarDifoData(const u_char* packet);
  // "Refresh state": the device's current network settings into the editable fields.
  void onRefreshCilcked();
  // Empties the address, port, MAC, interval, speed and position fields.
  void onCleanUCWPControl();

 private:
  tovik::NetworkConfigFields fieldTexts() const;
  bool sendDatagram(const QString& address, QString* error);

  std::unique_ptr<Ui::InetactionSetupWidget> ui_;
  std::array<uint8_t, tovik::kDevicePacketSize> devicePacket_{};
  std::array<uint8_t, tovik::kDevicePacketSize> configPacket_{};
  SettingData deviceSetting_;
  int devicePorts_[2] = {0, 0};  // data port, device port
  bool statusReceived_ = false;
  bool versionsPending_ = true;
  bool packetSinceSet_ = false;
  bool packetSinceRefresh_ = false;
  int recordsReceived_ = 0;
  int packetsReceived_ = 0;
  DatagramSender sender_;
  std::function<QDateTime()> clock_;
};
