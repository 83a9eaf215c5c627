#include "dialogs/VerticalAngleSetting.h"

#include <QLabel>
#include <QVBoxLayout>
#include <cstring>

namespace {

// Table row of each channel: rows are sorted by nominal elevation.
constexpr int kChannelRow[16] = {0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15};

}  // namespace

VerticalAngleSetting::VerticalAngleSetting(QWidget* parent) : QWidget(parent) {
  setWindowTitle(tr("Vertical Angle Setting"));
  resize(586, 629);
  setAttribute(Qt::WA_QuitOnClose, false);
  label_ = new QLabel(this);
  label_->setObjectName(QStringLiteral("label"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label_);
  layout->addStretch();
}

void VerticalAngleSetting::onLidarStatusReceiving_(SettingData* data, std::vector<int> Mac) {
  if (data == nullptr) return;
  deviceSetting_ = *data;
  mac_ = std::move(Mac);
  ++recordsReceived_;
}

void VerticalAngleSetting::OnLidarDifoData_(const u_char* packet) {
  static const uint8_t kHeader[4] = {0xA5, 0xFF, 0x00, 0x5A};
  if (packet == nullptr || std::memcmp(packet, kHeader, sizeof kHeader) != 0) return;
  std::memcpy(devicePacket_.data(), packet, devicePacket_.size());
  hasDevicePacket_ = true;
}

void VerticalAngleSetting::showAngleMistake(int channel) {
  mistakenChannel_ = channel;
  if (channel < 0 || channel > 15) return;
  label_->setText(QString::fromUtf8("回读：通道") + QString::number(kChannelRow[channel]) +
                  QString::fromUtf8("  偏差大于正负1.5\n"));
  label_->setStyleSheet(QStringLiteral("color:red;"));
}

void VerticalAngleSetting::setDegreeMode(int mode) { degreeMode_ = mode; }
