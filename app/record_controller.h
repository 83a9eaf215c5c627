// The window side of recording: the "Record" button, the capture interface combo, the save
// dialog and the status bar around one PcapRecorder.
//
// A press with no recording running asks for a file (default name "yyyy-MM-dd-hh-mm-ss.pcap")
// and starts recording the data port's traffic on the chosen interface, with the device port's
// status packets too while the "with device packets" box (when given) is checked; a failed start (a
// file that is busy or cannot be written, a full disk) shows the reason in a message box and
// unchecks the button. A press while recording stops it and tells where the file is and how many
// packets it holds, or, when writing failed on the way, that the recording failed and why. The
// running count goes to a label of its own in the status bar, so it never covers other messages.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/pcap_recorder.h"

class QAbstractButton;
class QComboBox;
class QLabel;
class QLineEdit;
class QStatusBar;
class QWidget;

namespace tovik {

class RecordController : public QObject {
  Q_OBJECT

 public:
  // Returns the chosen file name, or an empty string when the operator cancelled.
  using FileNameProvider = std::function<QString(QWidget* parent, const QString& defaultName)>;
  // Returns the lidar's last reported IPv4 address in dotted form, or an empty string.
  using AddressProvider = std::function<std::string()>;
  // True when the chosen file must not be written: the capture open for playback.
  using BusyFileCheck = std::function<bool(const QString& path)>;

  // None of the widgets is owned; all must outlive the controller. dialogParent parents the
  // save dialog and the message boxes.
  RecordController(QAbstractButton* recordButton, QComboBox* interfaceCombo, QLineEdit* portField,
                   QStatusBar* statusBar, QWidget* dialogParent);
  // Stops a running recording (the file is closed cleanly).
  ~RecordController() override;

  // The device port field and the box that adds its traffic to a recording. Without them (or
  // with the box unchecked) only the data port is recorded.
  void setDevicePortSource(QLineEdit* devicePortField, QAbstractButton* withDevicePackets) {
    devicePortField_ = devicePortField;
    withDeviceBox_ = withDevicePackets;
  }

  // Replace the save dialog and the device address lookup (tests).
  void setFileNameProvider(FileNameProvider provider) { fileNameProvider_ = std::move(provider); }
  void setAddressProvider(AddressProvider provider) { addressProvider_ = std::move(provider); }
  void setBusyFileCheck(BusyFileCheck check) { busyFileCheck_ = std::move(check); }
  // Text of /proc/net/route by default (tests give their own).
  void setRouteTableReader(std::function<std::string()> reader) {
    routeTableReader_ = std::move(reader);
  }

  // True from a successful start until the recording's end has been reported.
  bool isRecording() const { return active_; }
  const capture::PcapRecorder& recorder() const { return recorder_; }
  // Absolute path of the current or last recording.
  const QString& filePath() const { return filePath_; }

  // "yyyy-MM-dd-hh-mm-ss.pcap" for the given local time: two recordings started within one
  // minute get two names.
  static QString defaultFileName(const QDateTime& localTime);
  // The status bar label with the running count (hidden while nothing records).
  const QLabel* countLabel() const { return countLabel_; }

  // Re-reads the interfaces into the combo: only those that can carry the lidar's traffic
  // (lidarCaptureInterfaces). An interface the operator picked stays selected
  // while it is listed; otherwise the default choice is made again (it follows the lidar's
  // last reported address).
  void refreshInterfaces();

  // Refreshes the interface list when the combo's list is about to open.
  bool eventFilter(QObject* watched, QEvent* event) override;

 public slots:
  // The button's clicked(): starts when idle, stops when recording.
  void onRecordClicked();

 signals:
  // After every start, stop or unexpected end of a recording.
  void recordingChanged(bool recording);

 private:
  void startRecording();
  // Stops the recorder (or collects one that ended on its own) and reports how it went.
  void finishRecording();
  void onPoll();
  QString interfaceLabel(const capture::CaptureInterface& i) const;

  QAbstractButton* button_;
  QComboBox* combo_;
  QLineEdit* portField_;
  QLineEdit* devicePortField_ = nullptr;
  QAbstractButton* withDeviceBox_ = nullptr;
  QStatusBar* statusBar_;
  QWidget* dialogParent_;
  FileNameProvider fileNameProvider_;
  AddressProvider addressProvider_;
  BusyFileCheck busyFileCheck_;
  std::function<std::string()> routeTableReader_;
  capture::PcapRecorder recorder_;
  std::vector<capture::CaptureInterface> interfaces_;
  QString filePath_;
  // The operator picked an interface in the combo (its activated signal).
  bool operatorChose_ = false;
  // A recording was started and not yet reported as ended, even if its thread ended on its own.
  bool active_ = false;
  QLabel* countLabel_;  // owned by the status bar
  // Shows the running count and notices a capture thread that ended on its own.
  QTimer pollTimer_;
};

}  // namespace tovik
