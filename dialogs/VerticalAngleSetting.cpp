#include "dialogs/VerticalAngleSetting.h"

#include <QHeaderView>
#include <QMessageBox>
#include <QStandardItemModel>
#include <QThread>
#include <cstring>

#include "acquisition/geometry.h"
#include "acquisition/udp_socket.h"
#include "dialogs/vertical_angle_packet.h"
#include "ui_VerticalAngleSetting.h"

namespace {

enum Column : int { kChannelColumn = 0, kReViewColumn = 1, kSetColumn = 2 };

QString twoDecimals(float v) { return QString::number(double(v), 'f', 2); }

}  // namespace

VerticalAngleSetting::VerticalAngleSetting(QWidget* parent)
    : QWidget(parent),
      ui_(std::make_unique<Ui::VerticalAngleSetting>()),
      model_(new QStandardItemModel(this)) {
  ui_->setupUi(this);
  setAttribute(Qt::WA_QuitOnClose, false);
  connect(ui_->updatePushButton, &QPushButton::clicked, this,
          &VerticalAngleSetting::reflushLidarStatus);
  connect(ui_->setPushButton, &QPushButton::clicked, this,
          &VerticalAngleSetting::SendPacketToLidar);
  initView();
}

VerticalAngleSetting::~VerticalAngleSetting() = default;

void VerticalAngleSetting::onLidarStatusReceiving_(SettingData* data, std::vector<int> Mac) {
  if (data == nullptr) return;
  deviceSetting_ = *data;
  mac_ = std::move(Mac);
  ++recordsReceived_;
}

void VerticalAngleSetting::OnLidarDifoData_(const u_char* packet) {
  if (packet == nullptr || std::memcmp(packet, tovik::kDeviceHeader, 4) != 0) return;
  std::memcpy(devicePacket_.data(), packet, devicePacket_.size());
  hasDevicePacket_ = true;
}

void VerticalAngleSetting::showAngleMistake(int channel) {
  mistakenChannel_ = channel;
  if (channel < 0 || channel > 15) return;
  ui_->label->setText(QString::fromUtf8("回读：通道") +
                      QString::number(tovik::kChannelRow[channel]) +
                      QString::fromUtf8("  偏差大于正负1.5\n"));
  ui_->label->setStyleSheet(QStringLiteral("color:red;"));
}

void VerticalAngleSetting::setDegreeMode(int mode) {
  degreeMode_ = mode;
  if (mode != 0 && mode != 1) return;
  const tovik::AngleTable& nominal = tovik::nominalVerticalAngles(mode);
  for (int ch = 0; ch < 16; ++ch) preSetAngleData(ch, nominal[size_t(ch)]);
}

void VerticalAngleSetting::initView() {
  model_->clear();
  model_->setColumnCount(3);
  model_->setHorizontalHeaderLabels({QStringLiteral("Actual Channel"),
                                     QStringLiteral("ReView Angle"), QStringLiteral("Set Angle")});
  ui_->tableView->setModel(model_);
  for (int c = 0; c < 3; ++c) ui_->tableView->setColumnWidth(c, 150);
  ui_->tableView->horizontalHeader()->setStretchLastSection(true);
  ui_->tableView->horizontalHeader()->setFixedHeight(40);
  ui_->tableView->verticalHeader()->hide();
  ui_->tableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  for (int k = 0; k < 16; ++k) addDataRecord(k, QString::number(-15 + 2 * k, 'g', 6), QString());
  ui_->setPushButton->setVisible(writeEnabled_);
}

void VerticalAngleSetting::setWriteEnabled(bool on) {
  writeEnabled_ = on;
  ui_->setPushButton->setVisible(on);
}

void VerticalAngleSetting::addDataRecord(int channel, QString reView, QString setData) {
  QList<QStandardItem*> row{new QStandardItem(QString::number(channel)), new QStandardItem(reView),
                            new QStandardItem(setData)};
  for (QStandardItem* item : row) item->setTextAlignment(Qt::AlignCenter);
  model_->appendRow(row);
}

void VerticalAngleSetting::reViewData(int channel, float reView) {
  if (channel < 0 || channel > 15) return;
  model_->setData(model_->index(tovik::kChannelRow[channel], kReViewColumn), twoDecimals(reView));
}

void VerticalAngleSetting::preSetAngleData(int channel, float setData) {
  if (channel < 0 || channel > 15) return;
  model_->setData(model_->index(tovik::kChannelRow[channel], kSetColumn), twoDecimals(setData));
}

int VerticalAngleSetting::getAngleDatas(int channel) {
  if (channel < 0 || channel > 15) return 0;
  const QString text =
      model_->data(model_->index(tovik::kChannelRow[channel], kSetColumn)).toString();
  return tovik::angleHundredths(text.toDouble());
}

void VerticalAngleSetting::reflushLidarStatus() {
  if (!hasDevicePacket_) {
    QMessageBox::information(this, QString::fromUtf8("提示"), QString::fromUtf8("连接错误"));
    return;
  }
  int zeros = 0;
  for (int ch = 0; ch < 16; ++ch) {
    const uint16_t raw = tovik::readU16BE(deviceSetting_.verticalAngles + 2 * ch);
    if (raw == 0) ++zeros;
    reViewData(ch, float(tovik::decodeSigned16(raw) / 100.0));
  }
  if (zeros < 16) {
    for (int ch = 0; ch < 16; ++ch) {
      const QString shown =
          model_->data(model_->index(tovik::kChannelRow[ch], kReViewColumn)).toString();
      preSetAngleData(ch, shown.toFloat());
    }
  }
  ui_->label->clear();
  ui_->label_2->clear();
  QMessageBox::information(this, QString::fromUtf8("提示"), QString::fromUtf8("刷新成功"));
}

void VerticalAngleSetting::SendPacketToLidar() {
  if (!hasDevicePacket_) {
    QMessageBox::information(this, QString::fromUtf8("提示"), QString::fromUtf8("连接错误"));
    return;
  }
  sendDataTolidar();
}

void VerticalAngleSetting::TwoBytesDecToHex(int num, uint8_t& upperbytesnumber,
                                            uint8_t& lowerbytesnumber) {
  tovik::TwoBytesDecToHex(num, upperbytesnumber, lowerbytesnumber);
}

bool VerticalAngleSetting::SendPacketDataToLidar(unsigned char* packet, const char* ip_data,
                                                 u_short portdata) {
  tovik::net::UdpSocket socket;
  const bool sent =
      socket.open() && socket.sendTo(packet, tovik::kDevicePacketSize, ip_data, portdata);
  if (!sent) {
    QMessageBox::information(this, QString::fromUtf8("提示"),
                             tr("Sending to %1:%2 failed: %3")
                                 .arg(QString::fromLatin1(ip_data))
                                 .arg(portdata)
                                 .arg(QString::fromStdString(socket.lastError())));
  }
  return sent;
}

void VerticalAngleSetting::sendDataTolidar() {
  std::array<double, 16> setAngles{};
  for (int ch = 0; ch < 16; ++ch) {
    setAngles[size_t(ch)] =
        model_->data(model_->index(tovik::kChannelRow[ch], kSetColumn)).toString().toDouble();
  }
  const int bad = tovik::firstDeviatingChannel(setAngles, degreeMode_);
  if (bad >= 0) {
    const QString text = QString::fromUtf8("设置：通道") +
                         QString::number(tovik::kChannelRow[bad]) +
                         QString::fromUtf8("  偏差大于正负1.5，请重新输入");
    QMessageBox::information(this, QString::fromUtf8("提示"), text);
    ui_->label_2->setText(text);
    return;
  }
  std::array<int, 16> hundredths{};
  for (int ch = 0; ch < 16; ++ch) hundredths[size_t(ch)] = getAngleDatas(ch);
  // The datagram goes to the address the device reports in its own packet.
  const QString lidar = tovik::deviceAddress(devicePacket_.data());
  const QString question =
      tr("Write these vertical angles to the lidar at %1 (UDP port %2)? This changes the "
         "device's calibration.")
          .arg(lidar)
          .arg(tovik::kVerticalAnglePort);
  if (QMessageBox::question(this, QStringLiteral("Question"), question,
                            QMessageBox::Yes | QMessageBox::No,
                            QMessageBox::No) != QMessageBox::Yes)
    return;
  packetBuffer_ = tovik::buildVerticalAnglePacket(devicePacket_.data(), hundredths);
  const QByteArray address = lidar.toLatin1();
  if (!SendPacketDataToLidar(packetBuffer_.data(), address.constData(), tovik::kVerticalAnglePort))
    return;
  QThread::msleep(500);
  QMessageBox::information(this, QString::fromUtf8("提示"), QString::fromUtf8("设置成功"));
  reflushLidarStatus();
  QThread::msleep(500);
  hasDevicePacket_ = false;
}
