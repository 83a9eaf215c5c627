// The advanced settings window: reads the device's advanced parameters from its status, and
// changes them with one ACWP datagram built from a device information packet captured off the
// network at that moment. Also sends the factory-default packet and saves a captured device
// packet as a settings file.
#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "acquisition/device_packet_capture.h"
#include "device/setting_data.h"
#include "dialogs/acwp_packet.h"
#include "dialogs/vertical_angle_packet.h"

class QLabel;
class QLineEdit;

namespace Ui {
class ACWPSettingWidget;
}

class ACWPSettingWidget : public QWidget {
  Q_OBJECT

 public:
  explicit ACWPSettingWidget(QWidget* parent = nullptr);
  ~ACWPSettingWidget() override;

  // The show operation of the advanced-settings button: clears the refreshed flag and shows
  // the window.
  void showWindow();

  int recordsReceived() const { return recordsReceived_; }
  bool refreshed() const { return refreshed_; }

  // The capture step, replaceable so that the window's flows run without capture rights.
  using CaptureFunction =
      std::function<tovik::DevicePacketCaptureResult(const tovik::DevicePacketCaptureOptions&)>;
  void setCaptureFunction(CaptureFunction capture) { capture_ = std::move(capture); }
  // The save dialog of "Save set file" (parent, caption, filter; an empty answer cancels),
  // replaceable for the same reason.
  using SaveNameFunction = std::function<QString(QWidget*, const QString&, const QString&)>;
  void setSaveNameFunction(SaveNameFunction ask) { askSaveName_ = std::move(ask); }
  // The options the next capture would use (adapter chosen by the route to the device).
  tovik::DevicePacketCaptureOptions captureOptions(bool requireDeviceHeader) const;

  // The lidar the main window is connected to, by the address its device packets report. When
  // several lidars send device packets, "Set" and "Save set file" take one from this lidar and
  // never answer another; when only other lidars' packets arrive within the capture's frame
  // limit and time-out, they say so and stop. Empty: the first device packet captured.
  void setPreferredLidarAddress(const QString& address) { preferredLidar_ = address; }
  const QString& preferredLidarAddress() const { return preferredLidar_; }

 public slots:
  void onOK_Clicked();
  void onCancel_Clicked();
  void onRefreshbutton_clicked();
  void onSaveSettingFile();
  void onRecoverSetting();
  // Stores the record and the Mac vector, updates the board-2 readings.
  void onLidarStatusReceiving(SettingData* data, std::vector<int> Mac);
  // Empties the serial number and version read-outs.
  void onCleanACWPControl();

 private:
  // Runs the capture; on an adapter failure shows why and returns false in *usable.
  tovik::DevicePacketCaptureResult capture(bool requireDeviceHeader, int frameLimit);
  // The capture of "Set" and "Save set file": a device packet of the preferred lidar (any lidar
  // without one). When only other lidars' packets arrive, the outcome is NoMatch and *others
  // lists their addresses.
  tovik::DevicePacketCaptureResult captureFromPreferredLidar(QStringList* others);
  // nothing: what did not happen ("Nothing was sent.").
  void showOtherLidarsOnly(const QStringList& others, const QString& nothing);
  void showAdapterError(const tovik::DevicePacketCaptureResult& r);
  // Shows why a typed field cannot be sent; false when it was refused.
  bool fieldAccepted(const QLabel* label, const QLineEdit* edit, const tovik::TypedField& field,
                     bool hundredths);
  // Sends the packet once from a fresh socket, closed 200 ms later. False with a box on failure.
  bool sendDatagram(const tovik::ConfigPacket& packet, const QString& address, quint16 port);
  void fillFromStatus();

  std::unique_ptr<Ui::ACWPSettingWidget> ui_;
  CaptureFunction capture_;
  SaveNameFunction askSaveName_;
  tovik::ConfigPacket packetBuffer_{};
  tovik::ConfigPacket sendBuffer_{};
  SettingData deviceSetting_;
  std::vector<int> mac_;
  QString preferredLidar_;
  bool refreshed_ = false;
  int recordsReceived_ = 0;
};
