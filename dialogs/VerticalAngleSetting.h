// The vertical angle window. This version keeps the last device status and packet, the angle
// mode and shows the deviation warning; the angle table and sending angles are not in it yet.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <vector>

#include "device/setting_data.h"

class QLabel;
typedef unsigned char u_char;

class VerticalAngleSetting : public QWidget {
  Q_OBJECT

 public:
  explicit VerticalAngleSetting(QWidget* parent = nullptr);

  int degreeMode() const { return degreeMode_; }
  // Channel of the last deviation warning, -1 before the first.
  int mistakenChannel() const { return mistakenChannel_; }
  int recordsReceived() const { return recordsReceived_; }
  bool hasDevicePacket() const { return hasDevicePacket_; }

 public slots:
  void onLidarStatusReceiving_(SettingData* data, std::vector<int> Mac);
  // Copies the packet when it starts A5 FF 00 5A (the device information header).
  void OnLidarDifoData_(const u_char* packet);
  // Shows the warning that channel (0..15, packet order) deviates by more than 1.5 degrees.
  void showAngleMistake(int channel);
  void setDegreeMode(int mode);

 private:
  QLabel* label_;
  SettingData deviceSetting_;
  std::vector<int> mac_;
  std::array<uint8_t, tovik::kDevicePacketSize> devicePacket_{};
  bool hasDevicePacket_ = false;
  int degreeMode_ = 0;
  int mistakenChannel_ = -1;
  int recordsReceived_ = 0;
};
