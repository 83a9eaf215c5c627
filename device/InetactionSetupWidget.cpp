#include "device/InetactionSetupWidget.h"

#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>
#include <cstring>

#include "device/device_text.h"

InetactionSetupWidget::InetactionSetupWidget(QWidget* parent) : QWidget(parent) {
  setWindowTitle(tr("InteractionSet"));
  setWindowIcon(QIcon(QStringLiteral("image/InteractionSetUp.png")));
  resize(600, 700);
  setMinimumSize(600, 630);
  setMaximumSize(658, 700);
  setAttribute(Qt::WA_QuitOnClose, false);

  readout_ = new QLabel(this);
  readout_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  readout_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(readout_);
  onCleanUCWPControl();
}

void InetactionSetupWidget::OnLidarStatusReceiving(SettingData* data, std::vector<int> Mac) {
  if (data == nullptr) return;
  deviceSetting_ = *data;
  ++recordsReceived_;
  const QStringList versions = tovik::deviceVersions(deviceSetting_);
  if (versionsPending_) {
    versionsPending_ = false;
    emit sVersionsToHelp(versions);
  }
  readout_->setText(QStringLiteral("Lidar ID: %1\nMAC: %2\nMotor speed: %3\n\n%4")
                        .arg(tovik::lidarIdText(deviceSetting_), tovik::macAddressText(Mac),
                             tovik::motorSpeedText(deviceSetting_),
                             versions.join(QLatin1Char('\n'))));
}

void InetactionSetupWidget::OnLidarDifoData(const u_char* packet) {
  if (packet == nullptr) return;
  std::memcpy(devicePacket_.data(), packet, devicePacket_.size());
  ++packetsReceived_;
}

void InetactionSetupWidget::onCleanUCWPControl() {
  readout_->setText(tr("Waiting for the device information packet..."));
}
