// The advanced settings window. This version keeps the last device status and shows the
// board-2 readings; editing and sending the advanced parameters are not in it yet.
#pragma once

#include <QWidget>
#include <vector>

#include "device/setting_data.h"

class QLabel;

class ACWPSettingWidget : public QWidget {
  Q_OBJECT

 public:
  explicit ACWPSettingWidget(QWidget* parent = nullptr);

  // The show operation of the advanced-settings button: clears the refreshed flag and shows
  // the window.
  void showWindow();

  int recordsReceived() const { return recordsReceived_; }
  bool refreshed() const { return refreshed_; }

 public slots:
  // Stores the record and the Mac vector, updates the board-2 readings.
  void onLidarStatusReceiving(SettingData* data, std::vector<int> Mac);
  // Empties the serial number and version read-outs.
  void onCleanACWPControl();

 private:
  QLabel* readings_;
  QLabel* versions_;
  SettingData deviceSetting_;
  std::vector<int> mac_;
  bool refreshed_ = false;
  int recordsReceived_ = 0;
};
