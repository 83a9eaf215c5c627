// The window side of recording: the "Record" button, the capture interface combo, the save
// dialog and the status bar messages around one PcapRecorder.
//
// A press with no recording running asks for a file (default name "yyyy-MM-dd-hh-mm.pcap") and
// starts recording the data port's traffic on the chosen interface; a failed start shows the
// reason in a message box and unchecks the button. A press while recording stops it and tells
// where the file is and how many packets it holds.
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

  // None of the widgets is owned; all must outlive the controller. dialogParent parents the
  // save dialog and the message boxes.
  RecordController(QAbstractButton* recordButton, QComboBox* interfaceCombo, QLineEdit* portField,
                   QStatusBar* statusBar, QWidget* dialogParent);
  // Stops a running recording (the file is closed cleanly).
  ~RecordController() override;

  // Replace the save dialog and the device address lookup (tests).
  void setFileNameProvider(FileNameProvider provider) { fileNameProvider_ = std::move(provider); }
  void setAddressProvider(AddressProvider provider) { addressProvider_ = std::move(provider); }
  // Text of /proc/net/route by default (tests give their own).
  void setRouteTableReader(std::function<std::string()> reader) {
    routeTableReader_ = std::move(reader);
  }

  bool isRecording() const { return recorder_.isRecording(); }
  const capture::PcapRecorder& recorder() const { return recorder_; }
  // Absolute path of the current or last recording.
  const QString& filePath() const { return filePath_; }

  // "yyyy-MM-dd-hh-mm.pcap" for the given local time.
  static QString defaultFileName(const QDateTime& localTime);

  // Re-reads the interfaces into the combo. An interface the operator picked stays selected
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
  void stopRecording();
  void onPoll();
  QString interfaceLabel(const capture::CaptureInterface& i) const;

  QAbstractButton* button_;
  QComboBox* combo_;
  QLineEdit* portField_;
  QStatusBar* statusBar_;
  QWidget* dialogParent_;
  FileNameProvider fileNameProvider_;
  AddressProvider addressProvider_;
  std::function<std::string()> routeTableReader_;
  capture::PcapRecorder recorder_;
  std::vector<capture::CaptureInterface> interfaces_;
  QString filePath_;
  // The operator picked an interface in the combo (its activated signal).
  bool operatorChose_ = false;
  // Shows the running count and notices a capture thread that ended on its own.
  QTimer pollTimer_;
};

}  // namespace tovik
