#include "device/InetactionSetupWidget.h"

#include <QIcon>
#include <QIntValidator>
#include <QMessageBox>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QThread>
#include <QTimer>
#include <cstring>
#include <initializer_list>

#include "acquisition/udp_socket.h"
#include "device/device_text.h"
#include "ui_InetactionSetupWidget.h"

namespace {

const char kIpv4Expression[] =
    "\\b(?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\.){3}"
    "(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\b";

// The sending socket stays open this long after the datagram, so it leaves before the close.
constexpr int kSendPauseMs = 50;
// Input is ignored this long after the operator keeps the window open following a Set.
constexpr int kKeepOpenPauseMs = 1000;

bool sendThroughSocket(const uint8_t* data, size_t length, const QString& address, uint16_t port,
                       QString* error) {
  tovik::net::UdpSocket socket;
  const bool sent = socket.open() && socket.sendTo(data, length, address.toStdString(), port);
  if (!sent) *error = QString::fromStdString(socket.lastError());
  QThread::msleep(kSendPauseMs);
  return sent;
}

}  // namespace

InetactionSetupWidget::InetactionSetupWidget(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::InetactionSetupWidget>()) {
  ui_->setupUi(this);
  // Icons come from the compiled-in resources, so they do not depend on the working directory.
  const QString images = QStringLiteral(":/image/Resources/images/");
  setWindowIcon(QIcon(images + QStringLiteral("InteractionSetUp.png")));
  setAttribute(Qt::WA_QuitOnClose, false);
  ui_->pushButton_OK->setEnabled(false);

  const QRegularExpression ipv4(QString::fromLatin1(kIpv4Expression));
  for (QLineEdit* e : {ui_->lineEdit_DefaultIP, ui_->lineEdit_DestIP, ui_->lineEdit_Subnet,
                       ui_->lineEdit_Gateway, ui_->lineEdit_NTP})
    e->setValidator(new QRegularExpressionValidator(ipv4, e));
  ui_->lineEdit_defaultPort->setValidator(new QIntValidator(1024, 65536, this));
  ui_->lineEdit_destPort->setValidator(new QIntValidator(1024, 65536, this));
  ui_->lineEdit_interval->setValidator(new QIntValidator(0, 1, this));
  ui_->lineEdit_SetPPS_Angle->setValidator(new QIntValidator(0, 360, this));

  for (QLineEdit* e : {ui_->lineEdit_mac_addr, ui_->lineEdit_utc_time, ui_->lineEdit_PPS_Set_Angle,
                       ui_->lineEdit_Motor_State, ui_->lineEdit, ui_->lineEdit_2,
                       ui_->lineEdit_GPS_Position_longitude, ui_->lineEdit_GPS_Position_latitude,
                       ui_->lineEdit_Current_IP, ui_->lineEdit_Current_Port})
    e->setEnabled(false);
  for (QLineEdit* e :
       {ui_->lineEdit_Current_IP, ui_->lineEdit_Current_Port, ui_->lineEdit_GPS_Position_longitude,
        ui_->lineEdit_GPS_Position_latitude, ui_->lineEdit_Motor_State})
    e->setFocusPolicy(Qt::NoFocus);

  ui_->comboBox_rotateSpeed->addItem(QIcon(images + QStringLiteral("5.png")),
                                     QStringLiteral(" 5 HZ"));
  ui_->comboBox_rotateSpeed->addItem(QIcon(images + QStringLiteral("10.png")),
                                     QStringLiteral(" 10 HZ"));
  ui_->comboBox_rotateSpeed->addItem(QIcon(images + QStringLiteral("20.png")),
                                     QStringLiteral(" 20 HZ"));
  ui_->comboBox_localTime->addItem(QIcon(images + QStringLiteral("YES.png")),
                                   QStringLiteral(" Yes"));
  ui_->comboBox_localTime->addItem(QIcon(images + QStringLiteral("NO.png")), QStringLiteral(" No"));
  ui_->comboBox->addItems(tovik::motorStateItems());
  ui_->comboBox_LVDS_Valuse->addItems(tovik::lvdsItems());
  ui_->comboBox_LidarClean->addItems(tovik::cleanlinessItems());
  ui_->comboBox_LidarStatus->addItems(tovik::lidarStatusItems());

  connect(ui_->pushButton_OK, &QPushButton::clicked, this, &InetactionSetupWidget::onOK_Clicked);
  connect(ui_->pushButton_Cancel, &QPushButton::clicked, this,
          &InetactionSetupWidget::onCancel_Clicked);
  connect(ui_->pushButton_LidarRefresh, &QPushButton::clicked, this,
          &InetactionSetupWidget::onRefreshCilcked);
  onCleanUCWPControl();

  // Rows the device reports but the window keeps out of sight.
  const std::initializer_list<QWidget*> hiddenRows = {
      ui_->label_Subnet,         ui_->lineEdit_Subnet,         ui_->label_Gateway,
      ui_->lineEdit_Gateway,     ui_->label_GPS_State,         ui_->lineEdit_GPS_State,
      ui_->label_PPS_State,      ui_->lineEdit_PPS_State,      ui_->label_Plate_3_V,
      ui_->lineEdit_Plate_3_V,   ui_->label_High_T_Pause,      ui_->lineEdit_High_T_Pause,
      ui_->label_Machine_Stop_T, ui_->lineEdit_Machine_Stop_T, ui_->label_Current_IP,
      ui_->lineEdit_Current_IP,  ui_->label_Current_Port,      ui_->lineEdit_Current_Port};
  for (QWidget* w : hiddenRows) w->hide();
}

InetactionSetupWidget::~InetactionSetupWidget() = default;

void InetactionSetupWidget::setDatagramSender(DatagramSender sender) {
  sender_ = std::move(sender);
}

void InetactionSetupWidget::setClock(std::function<QDateTime()> clock) {
  clock_ = std::move(clock);
}

tovik::NetworkConfigFields InetactionSetupWidget::fieldTexts() const {
  tovik::NetworkConfigFields f;
  f.lidarIp = ui_->lineEdit_DefaultIP->text();
  f.destIp = ui_->lineEdit_DestIP->text();
  f.mac = ui_->lineEdit_mac_addr->text();
  f.dataPort = ui_->lineEdit_defaultPort->text();
  f.devicePort = ui_->lineEdit_destPort->text();
  f.ntpIp = ui_->lineEdit_NTP->text();
  f.interval = ui_->lineEdit_interval->text();
  f.ppsAngle = ui_->lineEdit_SetPPS_Angle->text();
  f.rotateSpeed = ui_->comboBox_rotateSpeed->currentText();
  f.motorState = ui_->comboBox->currentText();
  f.lidarStatusIndex = ui_->comboBox_LidarStatus->currentIndex();
  f.sendLocalTime = ui_->comboBox_localTime->currentText() == QLatin1String(" Yes");
  if (f.sendLocalTime) f.localTime = clock_ ? clock_() : QDateTime::currentDateTime();
  return f;
}

bool InetactionSetupWidget::sendDatagram(const QString& address, QString* error) {
  if (sender_)
    return sender_(configPacket_.data(), configPacket_.size(), address, tovik::kNetworkConfigPort,
                   error);
  return sendThroughSocket(configPacket_.data(), configPacket_.size(), address,
                           tovik::kNetworkConfigPort, error);
}

void InetactionSetupWidget::onOK_Clicked() {
  if (ui_->lineEdit_DefaultIP->text() == ui_->lineEdit_DestIP->text()) {
    QMessageBox::information(nullptr, tr("warring"),
                             tr("The Lidar local IP cannot be set to the same as the destination "
                                "IP.Please reset it !"),
                             QMessageBox::Ok);
    return;
  }
  if (ui_->lineEdit_defaultPort->text() == ui_->lineEdit_destPort->text()) {
    QMessageBox::information(
        nullptr, tr("warring"),
        tr("The Lidar local Port cannot be set to the same as the destination Port !"),
        QMessageBox::Ok);
    return;
  }
  if (!packetSinceSet_) {
    QMessageBox::information(nullptr, tr("warring"), tr("Please check the device package port !"),
                             QMessageBox::Ok);
    return;
  }

  // Addresses and ports are refused as typed, before anything is built or sent.
  const tovik::NetworkConfigFields fields = fieldTexts();
  tovik::ConfigField refused = tovik::firstRefusedField(fields);
  if (refused == tovik::ConfigField::kNone)
    refused = tovik::buildNetworkConfigPacket(devicePacket_.data(), fields, configPacket_.data());
  if (refused != tovik::ConfigField::kNone) {
    QString text;
    switch (refused) {
      case tovik::ConfigField::kDataPort:
      case tovik::ConfigField::kDevicePort:
        text = tr("The %1 must be a number from 1025 to 65535.Please reset it !")
                   .arg(refused == tovik::ConfigField::kDataPort ? tr("Data Port")
                                                                 : tr("device Port"));
        break;
      default:
        text = tr("The %1 must be four numbers from 0 to 255 separated by dots.Please reset it !")
                   .arg(refused == tovik::ConfigField::kLidarIp  ? tr("Lidar IP")
                        : refused == tovik::ConfigField::kDestIp ? tr("Dest IP")
                                                                 : tr("NTP IP"));
    }
    QMessageBox::information(nullptr, tr("warring"), text, QMessageBox::Ok);
    return;
  }

  const QString address = tovik::lidarAddressText(devicePacket_.data());
  QString error;
  if (!sendDatagram(address, &error)) {
    // Nothing reached the network: the operator may try again with the same device packet.
    QMessageBox::warning(this, tr("warring"),
                         tr("The settings could not be sent to %1:%2 (%3) !")
                             .arg(address)
                             .arg(tovik::kNetworkConfigPort)
                             .arg(error),
                         QMessageBox::Ok);
    return;
  }
  packetSinceSet_ = false;

  QMessageBox::about(this, QStringLiteral("Tips"), tr("Setup completed"));
  const auto answer = QMessageBox::question(this, QStringLiteral("Question"),
                                            tr("Whether to close the Settings form ?"),
                                            QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok);
  if (answer == QMessageBox::Ok) {
    close();
  } else {
    // The window stays open but takes no input for a moment; status keeps flowing into it.
    setEnabled(false);
    QTimer::singleShot(kKeepOpenPauseMs, this, [this] { setEnabled(true); });
  }
}

void InetactionSetupWidget::onCancel_Clicked() { close(); }

void InetactionSetupWidget::OnLidarStatusReceiving(SettingData* data, std::vector<int> Mac) {
  if (data == nullptr) return;
  ++recordsReceived_;
  statusReceived_ = true;
  deviceSetting_ = *data;
  if (Mac.size() > size_t(tovik::kMacDevicePort)) {
    devicePorts_[0] = Mac[tovik::kMacDataPort];
    devicePorts_[1] = Mac[tovik::kMacDevicePort];
  }
  if (versionsPending_) {
    versionsPending_ = false;
    emit sVersionsToHelp(tovik::deviceVersions(deviceSetting_));
  }

  deviceSetting_.motorSpeed = tovik::displayedMotorSpeed(deviceSetting_);
  ui_->lineEdit_Motor_State->setText(QString::number(deviceSetting_.motorSpeed));
  ui_->lineEdit_utc_time->clear();
  ui_->lineEdit_utc_time->setText(tovik::gpsTimeText(deviceSetting_));
  ui_->lineEdit_PPS_Set_Angle->setText(tovik::ppsSetAngleText(deviceSetting_));
  ui_->lineEdit_GPS_Position_longitude->clear();
  ui_->lineEdit_GPS_Position_latitude->clear();
  ui_->lineEdit_GPS_Position_longitude->setText(tovik::longitudeText(deviceSetting_));
  ui_->lineEdit_GPS_Position_latitude->setText(tovik::latitudeText(deviceSetting_));
  ui_->lineEdit_mac_addr->setText(tovik::macAddressText(Mac));
  ui_->lineEdit->setText(tovik::ppsLockText(deviceSetting_));
  ui_->lineEdit_2->setText(tovik::ppsDeviationText(deviceSetting_));
  ui_->lineEdit_Plate_2_T->setText(tovik::plate2TemperatureText(deviceSetting_));
  ui_->comboBox_LVDS_Valuse->setCurrentIndex(tovik::lvdsIndex(deviceSetting_));
  ui_->lineEdit_GPS_State->setText(tovik::gpsStateText(deviceSetting_));
  ui_->lineEdit_PPS_State->setText(tovik::ppsStateText(deviceSetting_));
  ui_->lineEdit_High_T_Pause->setText(tovik::highTempPauseText(deviceSetting_));
  ui_->lineEdit_Machine_Stop_T->setText(tovik::stopTemperatureText(deviceSetting_));
  ui_->lineEdit_Plate_3_V->setText(tovik::plate3VoltageText(deviceSetting_));
  const int clean = tovik::cleanlinessIndex(Mac);
  if (clean >= 0) ui_->comboBox_LidarClean->setCurrentIndex(clean);
}

void InetactionSetupWidget::OnLidarDifoData(const u_char* packet) {
  if (packet == nullptr) return;
  std::memcpy(devicePacket_.data(), packet, devicePacket_.size());
  ++packetsReceived_;
  packetSinceSet_ = true;
  packetSinceRefresh_ = true;
}

void InetactionSetupWidget::onRefreshCilcked() {
  if (!packetSinceRefresh_) {
    QMessageBox::information(nullptr, tr("warring"), tr("Please check the device package port !"),
                             QMessageBox::Ok);
    return;
  }
  ui_->lineEdit_DefaultIP->setText(tovik::ipv4Text(devicePacket_.data() + 10));
  ui_->lineEdit_DestIP->setText(tovik::ipv4Text(devicePacket_.data() + 14));
  if (devicePacket_[0] == 0xA5 && devicePacket_[1] == 0xFF)
    ui_->lineEdit_NTP->setText(tovik::ipv4Text(devicePacket_.data() + 28));
  ui_->lineEdit_defaultPort->setText(QString::number(devicePorts_[0]));
  ui_->lineEdit_destPort->setText(QString::number(devicePorts_[1]));

  if (statusReceived_) {
    ui_->lineEdit_interval->setText(QString::number(deviceSetting_.packetInterval));
    ui_->lineEdit_Motor_State->setText(QString::number(deviceSetting_.motorSpeed));
    const uint32_t rpm = deviceSetting_.motorSpeed;
    if (rpm >= 250 && rpm <= 350)
      ui_->comboBox_rotateSpeed->setCurrentIndex(0);
    else if (rpm >= 550 && rpm <= 650)
      ui_->comboBox_rotateSpeed->setCurrentIndex(1);
    else if (rpm >= 1150 && rpm <= 1250)
      ui_->comboBox_rotateSpeed->setCurrentIndex(2);
    ui_->comboBox_LidarStatus->setCurrentIndex(tovik::lidarStatusIndex(devicePacket_.data()));
    const int motor = tovik::motorStateIndex(deviceSetting_);
    if (motor >= 0) ui_->comboBox->setCurrentIndex(motor);
    QMessageBox::about(this, QStringLiteral("Tips"), tr("Resresh completed"));
    statusReceived_ = false;
  }
  packetSinceRefresh_ = false;
  ui_->pushButton_OK->setEnabled(true);
}

void InetactionSetupWidget::onCleanUCWPControl() {
  for (QLineEdit* e :
       {ui_->lineEdit_Current_IP, ui_->lineEdit_DefaultIP, ui_->lineEdit_DestIP,
        ui_->lineEdit_Current_Port, ui_->lineEdit_defaultPort, ui_->lineEdit_destPort,
        ui_->lineEdit_GPS_Position_latitude, ui_->lineEdit_GPS_Position_longitude,
        ui_->lineEdit_Motor_State, ui_->lineEdit_mac_addr, ui_->lineEdit_interval})
    e->clear();
}
