#include "dialogs/ACWPSettingWidget.h"

#include <QFile>
#include <QFileDialog>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QThread>
#include <algorithm>
#include <chrono>

#include "acquisition/capture_rights.h"
#include "acquisition/udp_socket.h"
#include "device/GetSet.h"
#include "device/device_text.h"
#include "dialogs/vertical_angle_packet.h"
#include "ui_ACWPSettingWidget.h"

namespace {

// Frames read before a search gives up: any full frame ends a refresh, a device packet a set.
constexpr int kRefreshFrameLimit = 1000;
constexpr int kSetFrameLimit = 3000;

}  // namespace

ACWPSettingWidget::ACWPSettingWidget(QWidget* parent)
    : QWidget(parent),
      ui_(std::make_unique<Ui::ACWPSettingWidget>()),
      capture_(&tovik::captureDevicePacket),
      askSaveName_([](QWidget* parent, const QString& caption, const QString& filter) {
        return QFileDialog::getSaveFileName(parent, caption, QString(), filter, nullptr,
                                            QFileDialog::DontUseNativeDialog);
      }) {
  ui_->setupUi(this);
  const QString images = QStringLiteral(":/image/Resources/images/");
  ui_->comboBox_rotateSpeed->addItem(QIcon(images + QStringLiteral("5.png")),
                                     QStringLiteral(" 5 HZ"));
  ui_->comboBox_rotateSpeed->addItem(QIcon(images + QStringLiteral("10.png")),
                                     QStringLiteral(" 10 HZ"));
  ui_->comboBox_rotateSpeed->addItem(QIcon(images + QStringLiteral("20.png")),
                                     QStringLiteral(" 20 HZ"));
  ui_->pushButton_OK->setEnabled(false);
  ui_->label_SerialNumber->hide();
  ui_->lineEdit_SerialNumber->hide();
  ui_->label_VersionNumber->hide();
  ui_->lineEdit_Version->hide();
  setAttribute(Qt::WA_QuitOnClose, false);
  connect(ui_->pushButton_OK, &QPushButton::clicked, this, &ACWPSettingWidget::onOK_Clicked);
  connect(ui_->pushButton_Cancel, &QPushButton::clicked, this,
          &ACWPSettingWidget::onCancel_Clicked);
  connect(ui_->pushButton_Refreshlidar, &QPushButton::clicked, this,
          &ACWPSettingWidget::onRefreshbutton_clicked);
  connect(ui_->pushButton_SaveSettingfile, &QPushButton::clicked, this,
          &ACWPSettingWidget::onSaveSettingFile);
  connect(ui_->pushButton_RecoverSetting, &QPushButton::clicked, this,
          &ACWPSettingWidget::onRecoverSetting);
}

ACWPSettingWidget::~ACWPSettingWidget() = default;

void ACWPSettingWidget::showWindow() {
  refreshed_ = false;
  show();
}

tovik::DevicePacketCaptureOptions ACWPSettingWidget::captureOptions(
    bool requireDeviceHeader) const {
  tovik::DevicePacketCaptureOptions o;
  o.requireDeviceHeader = requireDeviceHeader;
  // The adapter is the one that routes to the device: the address it reports in its last
  // device packet, else the address typed for the factory defaults.
  const tovik::DevicePacketBytes last = tovik::lastDevicePacket();
  if (tovik::net::isDottedIpv4(preferredLidar_.toStdString()))
    o.routeAddress = preferredLidar_.toStdString();
  else if (tovik::isDevicePacket(last.data()) && last[10] != 0)
    o.routeAddress = tovik::deviceAddress(last.data()).toStdString();
  else
    o.routeAddress = ui_->lineEdit_DestIP->text().trimmed().toStdString();
  // Device packets travel to the device port of the last status; without one, any UDP frame.
  if (static_cast<int>(mac_.size()) > tovik::kMacDevicePort)
    o.port = uint16_t(mac_[tovik::kMacDevicePort]);
  return o;
}

tovik::DevicePacketCaptureResult ACWPSettingWidget::capture(bool requireDeviceHeader,
                                                            int frameLimit) {
  tovik::DevicePacketCaptureOptions o = captureOptions(requireDeviceHeader);
  o.frameLimit = frameLimit;
  return capture_(o);
}

tovik::DevicePacketCaptureResult ACWPSettingWidget::captureFromPreferredLidar(QStringList* others) {
  tovik::DevicePacketCaptureOptions o = captureOptions(true);
  o.frameLimit = kSetFrameLimit;
  tovik::DevicePacketCaptureResult r = capture_(o);
  // The preferred lidar is known by the address its device packets report; its IP source
  // address is normally the same.
  auto preferred = [this](const tovik::DevicePacketCaptureResult& c) {
    return tovik::dottedAddress(c.packet.sourceIp) == preferredLidar_ ||
           tovik::deviceAddress(c.packet.payload.data()) == preferredLidar_;
  };
  if (r.outcome != tovik::CaptureOutcome::Matched || preferredLidar_.isEmpty() || preferred(r))
    return r;
  // Another lidar answered: listen on, within the same frame limit and time-out, for a packet of
  // the preferred one. Its packet is never answered instead.
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(o.timeoutMs);
  int frames = 0;
  while (r.outcome == tovik::CaptureOutcome::Matched) {
    if (preferred(r)) return r;
    const QString other = tovik::dottedAddress(r.packet.sourceIp);
    if (!others->contains(other)) others->append(other);
    frames += std::max(1, r.framesRead);
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || frames >= kSetFrameLimit) break;
    o.frameLimit = kSetFrameLimit - frames;
    o.timeoutMs = int(left);
    r = capture_(o);
  }
  if (r.outcome == tovik::CaptureOutcome::Matched) r.outcome = tovik::CaptureOutcome::NoMatch;
  return r;
}

void ACWPSettingWidget::showOtherLidarsOnly(const QStringList& others, const QString& nothing) {
  QMessageBox::information(
      this, QStringLiteral("error"),
      tr("Device packets came only from another lidar (%1), none from the lidar at %2 that the "
         "viewer is connected to. %3")
          .arg(others.join(QStringLiteral(", ")), preferredLidar_, nothing));
}

bool ACWPSettingWidget::fieldAccepted(const QLabel* label, const QLineEdit* edit,
                                      const tovik::TypedField& field, bool hundredths) {
  if (field.error == tovik::FieldError::kNone) return true;
  // The field as the form names it, without its colon.
  QString name = label->text().trimmed();
  while (name.endsWith(QChar(0xFF1A)) || name.endsWith(QLatin1Char(':'))) name.chop(1);
  auto shown = [hundredths](int v) {
    return hundredths ? QString::number(v / 100.0, 'f', 2) : QString::number(v);
  };
  QString text;
  if (field.error == tovik::FieldError::kEmpty)
    text = tr("%1 is empty. Nothing was sent.").arg(name);
  else if (field.error == tovik::FieldError::kNotANumber)
    text = tr("%1: \"%2\" is not a number. Nothing was sent.").arg(name, edit->text());
  else
    text = tr("%1: %2 does not fit the device's field, which holds %3 to %4. Nothing was sent.")
               .arg(name, edit->text().trimmed(), shown(field.min), shown(field.max));
  QMessageBox::information(this, QStringLiteral("error"), text);
  return false;
}

void ACWPSettingWidget::showAdapterError(const tovik::DevicePacketCaptureResult& r) {
  const QString reason = QString::fromStdString(r.error);
  const QString text = r.outcome == tovik::CaptureOutcome::NoAdapter
                           ? tr("No capture adapter reaches the lidar: %1").arg(reason)
                           : tr("Cannot open the capture adapter %1: %2")
                                 .arg(QString::fromStdString(r.interfaceName), reason);
  QMessageBox::information(this, QStringLiteral("error"),
                           r.outcome == tovik::CaptureOutcome::OpenFailed
                               ? text + QString::fromStdString(tovik::capture::captureRightsHint())
                               : text);
}

bool ACWPSettingWidget::sendDatagram(const tovik::ConfigPacket& packet, const QString& address,
                                     quint16 port) {
  sendBuffer_ = packet;
  tovik::net::UdpSocket socket;
  const bool sent = socket.open() && socket.sendTo(sendBuffer_.data(), sendBuffer_.size(),
                                                   address.toStdString(), port);
  QThread::msleep(200);
  const QString why = QString::fromStdString(socket.lastError());
  socket.close();
  if (!sent) {
    QMessageBox::information(this, QStringLiteral("error"),
                             tr("Sending to %1:%2 failed: %3").arg(address).arg(port).arg(why));
  }
  return sent;
}

void ACWPSettingWidget::onOK_Clicked() {
  if (!refreshed_) {
    QMessageBox::information(this, QStringLiteral("error"),
                             QString::fromUtf8("请先刷新数据否则再进行设置!"));
    return;
  }
  // Every typed field is checked before anything is captured or sent; a refusal keeps the
  // refreshed flag. Nothing that failed to convert ever goes out as 0.
  tovik::AcwpSettings s;
  const tovik::TypedField offset = tovik::readHundredthsField(
      ui_->lineEdit_deviationAngle->text(), -tovik::kSignedFieldMax, tovik::kSignedFieldMax);
  if (offset.error == tovik::FieldError::kEmpty) {
    QMessageBox::information(this, QStringLiteral("error"),
                             QString::fromUtf8("请输入水平偏移角度!"));
    return;
  }
  if (!fieldAccepted(ui_->label_deviationAngle, ui_->lineEdit_deviationAngle, offset, true)) return;
  s.horizontalOffsetX100 = offset.value;
  // The range is a decimal number of metres (150.5), sent in hundredths.
  const tovik::TypedField range =
      tovik::readHundredthsField(ui_->lineEdit_21->text(), 0, tovik::kUnsignedFieldMax);
  if (range.error == tovik::FieldError::kEmpty) {
    QMessageBox::information(this, QStringLiteral("error"), QString::fromUtf8("请输入量程!"));
    return;
  }
  if (!fieldAccepted(ui_->label_11, ui_->lineEdit_21, range, true)) return;
  s.rangeX100 = range.value;
  const tovik::TypedField threshold =
      tovik::readIntegerField(ui_->lineEdit_tw->text(), 0, tovik::kUnsignedFieldMax);
  if (!fieldAccepted(ui_->label_15, ui_->lineEdit_tw, threshold, false)) return;
  s.tailThreshold = threshold.value;
  const tovik::TypedField distance =
      tovik::readIntegerField(ui_->lineEdit_twjl->text(), 0, tovik::kUnsignedFieldMax);
  if (!fieldAccepted(ui_->label_16, ui_->lineEdit_twjl, distance, false)) return;
  s.tailDistanceCm = distance.value;
  // An empty encoder field keeps the device's bytes; anything else must be a number that fits.
  const tovik::TypedField encoder = tovik::readHundredthsField(
      ui_->lineEdit_MaPanAngle->text(), -tovik::kSignedFieldMax, tovik::kSignedFieldMax);
  if (encoder.error != tovik::FieldError::kEmpty) {
    if (!fieldAccepted(ui_->label__MaPanAngle, ui_->lineEdit_MaPanAngle, encoder, true)) return;
    s.encoderZeroX100 = encoder.value;
  }
  if (s.tailThreshold == 0 || s.tailDistanceCm == 0) {
    const auto answer = QMessageBox::information(
        this, QStringLiteral("error"), QString::fromUtf8("拖尾数据为0,或拖尾距离为0?"),
        QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok);
    if (answer != QMessageBox::Ok) return;
  }

  QStringList others;
  const tovik::DevicePacketCaptureResult r = captureFromPreferredLidar(&others);
  if (r.outcome != tovik::CaptureOutcome::Matched) {
    if (!others.isEmpty())
      showOtherLidarsOnly(others, tr("Nothing was sent."));
    else if (r.outcome == tovik::CaptureOutcome::NoMatch)
      QMessageBox::information(nullptr, tr("warring"), tr("You didn't connect Lidar."));
    else
      showAdapterError(r);
    refreshed_ = false;
    QThread::msleep(50);
    return;
  }
  const QString target = tovik::dottedAddress(r.packet.sourceIp);
  const quint16 targetPort = r.packet.sourcePort;
  s.rpm = tovik::rotateSpeedRpm(ui_->comboBox_rotateSpeed->currentIndex());
  s.recordedMotorState = deviceSetting_.motorState;
  s.zeroDegreePosition = ui_->comboBox_Zero_degree_position->currentIndex();
  s.echoMode = ui_->comboBox_SingleOrDouble->currentIndex();

  packetBuffer_ = tovik::buildAcwpPacket(r.packet, s, QDateTime::currentDateTime());
  if (sendDatagram(packetBuffer_, target, targetPort))
    QMessageBox::information(this, QStringLiteral("Tips"), tr("Setup completed"));
  refreshed_ = false;
  QThread::msleep(50);
}

void ACWPSettingWidget::onCancel_Clicked() { close(); }

void ACWPSettingWidget::fillFromStatus() {
  auto element = [this](int i) { return mac_[size_t(i)]; };
  const QString range = tovik::generalNumber(element(tovik::kMacRange) / 100.0);
  ui_->lineEdit_21->setText(range);
  ui_->lineEdit_22->setText(range);
  ui_->lineEdit_22->setEnabled(false);
  ui_->lineEdit_tw->setText(QString::number(element(tovik::kMacTailThreshold)));
  ui_->lineEdit_twjl->setText(QString::number(element(tovik::kMacTailDistance)));
  const int zero = element(tovik::kMacZeroPosition);
  if (zero == 0 || zero == 1) ui_->comboBox_Zero_degree_position->setCurrentIndex(zero);
  const int echo = element(tovik::kMacEchoMode);
  if (echo == 0 || echo == 1) ui_->comboBox_SingleOrDouble->setCurrentIndex(echo);
  ui_->lineEdit_deviationAngle->setText(tovik::generalNumber(
      tovik::decodeSigned16(uint16_t(element(tovik::kMacHorizontalOffset))) / 100.0));
  ui_->lineEdit_MaPanAngle->setText(tovik::generalNumber(
      tovik::decodeSigned16(uint16_t(element(tovik::kMacEncoderZero))) / 100.0));
  ui_->lineEdit_Board_2->setText(tovik::fpga2VersionText(deviceSetting_));
  ui_->lineEdit_Board_3->setText(tovik::fpga3VersionText(deviceSetting_));
  const int speed = tovik::rotateSpeedIndex(deviceSetting_.motorSpeed);
  if (speed >= 0) ui_->comboBox_rotateSpeed->setCurrentIndex(speed);
}

void ACWPSettingWidget::onRefreshbutton_clicked() {
  if (static_cast<int>(mac_.size()) < tovik::kMacVectorSize) {
    QMessageBox::information(this, QStringLiteral("error"),
                             QString::fromUtf8("设备包端口错误请检查!"));
    return;
  }
  const tovik::DevicePacketCaptureResult r = capture(false, kRefreshFrameLimit);
  if (r.outcome == tovik::CaptureOutcome::Matched) {
    fillFromStatus();
    QMessageBox::about(this, QStringLiteral("Tips"), tr("Resresh completed"));
  } else if (r.outcome == tovik::CaptureOutcome::NoMatch) {
    QMessageBox::information(nullptr, tr("warring"), tr("You didn't connect Lidar."));
  } else {
    showAdapterError(r);
  }
  ui_->pushButton_OK->setEnabled(true);
  refreshed_ = true;
}

void ACWPSettingWidget::onSaveSettingFile() {
  QStringList others;
  const tovik::DevicePacketCaptureResult r = captureFromPreferredLidar(&others);
  if (r.outcome == tovik::CaptureOutcome::NoAdapter ||
      r.outcome == tovik::CaptureOutcome::OpenFailed) {
    showAdapterError(r);
    return;
  }
  if (!others.isEmpty()) {
    showOtherLidarsOnly(others, tr("Nothing was saved."));
    return;
  }
  if (r.outcome != tovik::CaptureOutcome::Matched) {
    QMessageBox::information(this, QStringLiteral("error"),
                             QString::fromUtf8("抓包失败,请设置发包间隔为0!"));
    return;
  }
  const QString name =
      askSaveName_(this, tr("WireSharkCaptureFile"), QStringLiteral("Supported Files (*.ini)"));
  if (name.isEmpty()) return;
  QFile file(name);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Truncate)) {
    QMessageBox::information(this, QStringLiteral("error"),
                             QString::fromUtf8("打开文件失败,请检查!"));
    return;
  }
  const bool written = tovik::writeSettingsFile(&file, r.packet.payload.data()) && file.flush();
  file.close();
  if (!written) {
    QMessageBox::information(this, QStringLiteral("error"),
                             tr("Writing %1 failed: %2").arg(name, file.errorString()));
  }
}

void ACWPSettingWidget::onRecoverSetting() {
  const QString address = ui_->lineEdit_DestIP->text().trimmed();
  bool portOk = false;
  const uint port = ui_->lineEdit_DestPort->text().trimmed().toUInt(&portOk, 10);
  if (!tovik::net::isDottedIpv4(address.toStdString()) || !portOk || port == 0 || port > 65535) {
    QMessageBox::information(
        this, QStringLiteral("error"),
        tr("Not a lidar address and port: %1:%2").arg(address, ui_->lineEdit_DestPort->text()));
    return;
  }
  packetBuffer_ = tovik::buildFactoryDefaultPacket(QDateTime::currentDateTime());
  if (sendDatagram(packetBuffer_, address, quint16(port)))
    QMessageBox::information(this, QStringLiteral("Tips"), tr("Reset completed !"));
}

void ACWPSettingWidget::onLidarStatusReceiving(SettingData* data, std::vector<int> Mac) {
  if (data == nullptr) return;
  deviceSetting_ = *data;
  mac_ = std::move(Mac);
  ++recordsReceived_;
  if (static_cast<int>(mac_.size()) <= tovik::kMacBoard2Threshold) return;
  for (int i : {tovik::kMacBoard2HighVoltage, tovik::kMacBoard2HighVoltageAdjust,
                tovik::kMacBoard2Threshold})
    mac_[size_t(i)] = tovik::decodeSigned16(uint16_t(mac_[size_t(i)]));
  const float hv = tovik::board2HighVoltage(deviceSetting_, mac_[tovik::kMacBoard2HighVoltage]);
  ui_->lineEdit_board2HV->setText(tovik::generalNumber(hv));
  ui_->lineEdit_board2HV_adjust->setText(QString::number(mac_[tovik::kMacBoard2HighVoltageAdjust]));
  ui_->lineEdit_board2HV_sill->setText(QString::number(mac_[tovik::kMacBoard2Threshold]));
}

void ACWPSettingWidget::onCleanACWPControl() {
  ui_->lineEdit_SerialNumber->clear();
  ui_->lineEdit_Version->clear();
}
