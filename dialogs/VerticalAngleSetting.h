// The vertical angle window: the elevation of each channel as the device reports it beside the
// angles to set (the nominal table of the current angle mode, or a copy of the read-back), and
// the write of those angles to the device in one vertical angle datagram.
#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "device/setting_data.h"
#include "dialogs/acwp_packet.h"

class QStandardItemModel;
typedef unsigned char u_char;
typedef unsigned short u_short;

namespace Ui {
class VerticalAngleSetting;
}

class VerticalAngleSetting : public QWidget {
  Q_OBJECT

 public:
  explicit VerticalAngleSetting(QWidget* parent = nullptr);
  ~VerticalAngleSetting() override;

  int degreeMode() const { return degreeMode_; }
  // Channel of the last deviation warning, -1 before the first.
  int mistakenChannel() const { return mistakenChannel_; }
  int recordsReceived() const { return recordsReceived_; }
  bool hasDevicePacket() const { return hasDevicePacket_; }
  QStandardItemModel* model() const { return model_; }

 public slots:
  void onLidarStatusReceiving_(SettingData* data, std::vector<int> Mac);
  // Copies the packet when it starts A5 FF 00 5A (the device information header).
  void OnLidarDifoData_(const u_char* packet);
  // Shows the warning that channel (0..15, packet order) deviates by more than 1.5 degrees.
  void showAngleMistake(int channel);
  // Stores the angle mode; 0 and 1 also put that mode's nominal angles in "Set Angle".
  void setDegreeMode(int mode);
  void initView();
  void addDataRecord(int channel, QString reView, QString setData);
  // "ReView Angle" of the channel's row, two decimals.
  void reViewData(int channel, float reView);
  // "Set Angle" of the channel's row, two decimals.
  void preSetAngleData(int channel, float setData);
  // "Set Angle" of the channel's row in hundredths of a degree, rounded (see angleHundredths).
  int getAngleDatas(int channel);
  void reflushLidarStatus();
  void SendPacketToLidar();
  void TwoBytesDecToHex(int num, uint8_t& upperbytesnumber, uint8_t& lowerbytesnumber);
  // Sends 1206 bytes of packet to ip_data:portdata; false when it could not be sent.
  bool SendPacketDataToLidar(unsigned char* packet, const char* ip_data, u_short portdata);
  // Validates the "Set Angle" column, asks the operator to confirm the write to the lidar's
  // address, then builds and sends the packet.
  void sendDataTolidar();
  // Offers the write ("设置") or withdraws it; the main window's engineering mode drives it.
  void setWriteEnabled(bool on);

 private:
  std::unique_ptr<Ui::VerticalAngleSetting> ui_;
  QStandardItemModel* model_;
  SettingData deviceSetting_;
  std::vector<int> mac_;
  std::array<uint8_t, tovik::kDevicePacketSize> devicePacket_{};
  tovik::ConfigPacket packetBuffer_{};
  bool hasDevicePacket_ = false;
  bool writeEnabled_ = false;
  int degreeMode_ = 0;
  int mistakenChannel_ = -1;
  int recordsReceived_ = 0;
};
