#include "app/record_controller.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QStatusBar>

#include "acquisition/capture_rights.h"
#include "device/GetSet.h"

namespace tovik {

namespace {

constexpr int kPollIntervalMs = 1000;
constexpr int kNoticeMs = 5000;

std::string readRouteTable() {
  QFile f(QStringLiteral("/proc/net/route"));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll().toStdString();
}

// The lidar's own address as its last device information packet reports it (bytes 10-13).
std::string lastReportedLidarAddress() {
  const DevicePacketBytes packet = lastDevicePacket();
  if (packet[10] == 0 && packet[11] == 0 && packet[12] == 0 && packet[13] == 0) return {};
  return std::to_string(packet[10]) + "." + std::to_string(packet[11]) + "." +
         std::to_string(packet[12]) + "." + std::to_string(packet[13]);
}

QString askForFileName(QWidget* parent, const QString& defaultName) {
  return QFileDialog::getSaveFileName(parent, QStringLiteral("Save PCAP"), defaultName,
                                      QStringLiteral("WireSharkCaptureFile (*.pcap)"), nullptr,
                                      QFileDialog::DontUseNativeDialog);
}

}  // namespace

RecordController::RecordController(QAbstractButton* recordButton, QComboBox* interfaceCombo,
                                   QLineEdit* portField, QStatusBar* statusBar,
                                   QWidget* dialogParent)
    : button_(recordButton),
      combo_(interfaceCombo),
      portField_(portField),
      statusBar_(statusBar),
      dialogParent_(dialogParent),
      fileNameProvider_(askForFileName),
      addressProvider_(lastReportedLidarAddress),
      routeTableReader_(readRouteTable),
      countLabel_(new QLabel(statusBar)) {
  button_->setCheckable(true);
  countLabel_->setObjectName(QStringLiteral("recordingCountLabel"));
  countLabel_->hide();
  statusBar_->addPermanentWidget(countLabel_);
  combo_->installEventFilter(this);
  connect(combo_, QOverload<int>::of(&QComboBox::activated), this,
          [this] { operatorChose_ = true; });
  pollTimer_.setInterval(kPollIntervalMs);
  connect(&pollTimer_, &QTimer::timeout, this, &RecordController::onPoll);
  refreshInterfaces();
}

RecordController::~RecordController() {
  combo_->removeEventFilter(this);
  recorder_.stop();
}

QString RecordController::defaultFileName(const QDateTime& localTime) {
  return localTime.toString(QStringLiteral("yyyy-MM-dd-hh-mm-ss")) + QStringLiteral(".pcap");
}

QString RecordController::interfaceLabel(const capture::CaptureInterface& i) const {
  QString label = QString::fromStdString(i.name);
  if (!i.description.empty())
    label += QStringLiteral(" (") + QString::fromStdString(i.description) + QLatin1Char(')');
  return label;
}

void RecordController::refreshInterfaces() {
  const QString previous = combo_->currentData().toString();
  std::string error;
  std::vector<capture::CaptureInterface> all;
  if (!capture::listCaptureInterfaces(&all, &error)) {
    all.clear();
    statusBar_->showMessage(
        tr("Capture interfaces cannot be listed: %1").arg(QString::fromStdString(error)),
        kNoticeMs);
  }
  interfaces_ = capture::lidarCaptureInterfaces(all);
  const QSignalBlocker blocker(combo_);
  combo_->clear();
  for (const auto& i : interfaces_)
    combo_->addItem(interfaceLabel(i), QString::fromStdString(i.name));
  int index = operatorChose_ && !previous.isEmpty() ? combo_->findData(previous) : -1;
  if (index < 0) {
    const std::string address = addressProvider_ ? addressProvider_() : std::string();
    const std::string route =
        address.empty() ? std::string()
                        : capture::routeInterfaceFor(
                              address, routeTableReader_ ? routeTableReader_() : std::string());
    index = capture::defaultCaptureInterface(interfaces_, route);
  }
  combo_->setCurrentIndex(index);
}

bool RecordController::eventFilter(QObject* watched, QEvent* event) {
  if (watched == combo_ && combo_->isEnabled()) {
    bool opening = event->type() == QEvent::MouseButtonPress;
    if (event->type() == QEvent::KeyPress) {
      const auto* key = static_cast<QKeyEvent*>(event);
      opening = key->key() == Qt::Key_F4 || key->key() == Qt::Key_Space ||
                (key->key() == Qt::Key_Down && (key->modifiers() & Qt::AltModifier));
    }
    if (opening) refreshInterfaces();
  }
  return QObject::eventFilter(watched, event);
}

void RecordController::onRecordClicked() {
  // A recording whose thread ended on its own (a full disk) is still this press's to stop and
  // report, even before the poll has noticed.
  if (active_) {
    finishRecording();
  } else {
    startRecording();
  }
}

void RecordController::startRecording() {
  auto refuse = [this](const QString& reason) {
    button_->setChecked(false);
    QMessageBox::warning(dialogParent_, QStringLiteral("Warning"),
                         tr("Recording could not start.\n%1").arg(reason));
    emit recordingChanged(false);
  };

  refreshInterfaces();
  bool portOk = false;
  const int port = portField_->text().trimmed().toInt(&portOk, 10);
  if (!portOk || port < 0 || port > 65535) {
    refuse(tr("The data port \"%1\" is not a port number.").arg(portField_->text()));
    return;
  }
  int devicePort = 0;
  if (withDeviceBox_ != nullptr && withDeviceBox_->isChecked() && devicePortField_ != nullptr) {
    const int value = devicePortField_->text().trimmed().toInt(&portOk, 10);
    if (!portOk || value < 1 || value > 65535) {
      refuse(tr("The device port \"%1\" is not a port number; uncheck \"With device packets\" "
                "to record the point data alone.")
                 .arg(devicePortField_->text()));
      return;
    }
    devicePort = value;
  }
  const QString name =
      fileNameProvider_(dialogParent_, defaultFileName(QDateTime::currentDateTime()));
  if (name.isEmpty()) {
    button_->setChecked(false);
    emit recordingChanged(false);
    return;
  }
  if (busyFileCheck_ && busyFileCheck_(name)) {
    refuse(tr("%1 is the capture open in the Offline tab; recording would overwrite it while it "
              "plays. Choose another file.")
               .arg(QDir::toNativeSeparators(name)));
    return;
  }
  if (combo_->currentIndex() < 0) {
    refuse(tr("No capture interface is available."));
    return;
  }

  capture::RecordSettings settings;
  settings.interfaceName = combo_->currentData().toString().toStdString();
  settings.filePath = QFile::encodeName(name).toStdString();
  settings.port = port;
  settings.devicePort = devicePort;
  if (!recorder_.start(settings)) {
    QString reason = QString::fromStdString(recorder_.errorText());
    if (recorder_.error() == capture::RecordError::NoPermission)
      reason += tr("\nCapturing needs root or the CAP_NET_RAW capability.") +
                QString::fromStdString(capture::captureRightsHint());
    refuse(reason);
    return;
  }
  filePath_ = QFileInfo(name).absoluteFilePath();
  active_ = true;
  button_->setChecked(true);
  combo_->setEnabled(false);
  if (withDeviceBox_ != nullptr) withDeviceBox_->setEnabled(false);
  countLabel_->setText(tr("Recording: 0 packets"));
  countLabel_->setToolTip(QDir::toNativeSeparators(filePath_));
  countLabel_->show();
  pollTimer_.start();
  const QString ports = devicePort > 0 && devicePort != port
                            ? tr("ports %1 and %2").arg(port).arg(devicePort)
                            : tr("port %1").arg(port);
  statusBar_->showMessage(
      tr("Recording %1 on %2 to %3")
          .arg(ports)
          .arg(QString::fromStdString(settings.interfaceName), QDir::toNativeSeparators(filePath_)),
      kNoticeMs);
  emit recordingChanged(true);
}

void RecordController::finishRecording() {
  recorder_.stop();
  pollTimer_.stop();
  active_ = false;
  button_->setChecked(false);
  combo_->setEnabled(true);
  if (withDeviceBox_ != nullptr) withDeviceBox_->setEnabled(true);
  countLabel_->hide();
  const QString file = QDir::toNativeSeparators(filePath_);
  const uint64_t packets = recorder_.capturedPackets();
  if (recorder_.error() != capture::RecordError::None) {
    // Writing or reading failed on the way: never reported as a recording that went well.
    const QString reason = QString::fromStdString(recorder_.errorText());
    statusBar_->showMessage(
        tr("Recording to %1 failed after %2 packets: %3").arg(file).arg(packets).arg(reason),
        kNoticeMs);
    emit recordingChanged(false);
    QMessageBox::warning(dialogParent_, QStringLiteral("Warning"),
                         tr("Recording failed after %1 packets; the file %2 holds those.\n%3")
                             .arg(packets)
                             .arg(file, reason));
    return;
  }
  QString text = tr("Recorded %1 packets to %2").arg(packets).arg(file);
  if (recorder_.droppedPackets() > 0)
    text += tr("; the system dropped %1").arg(recorder_.droppedPackets());
  statusBar_->showMessage(text, kNoticeMs);
  emit recordingChanged(false);
}

void RecordController::onPoll() {
  if (recorder_.isRecording()) {
    countLabel_->setText(tr("Recording: %1 packets").arg(recorder_.capturedPackets()));
    return;
  }
  // The capture thread ended on its own (the interface went away, the disk filled up).
  finishRecording();
}

}  // namespace tovik
