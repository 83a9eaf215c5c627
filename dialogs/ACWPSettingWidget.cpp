#include "dialogs/ACWPSettingWidget.h"

#include <QLabel>
#include <QVBoxLayout>

#include "device/device_text.h"

ACWPSettingWidget::ACWPSettingWidget(QWidget* parent) : QWidget(parent) {
  setWindowTitle(tr("ACWPSet"));
  resize(586, 500);
  setAttribute(Qt::WA_QuitOnClose, false);
  readings_ = new QLabel(this);
  versions_ = new QLabel(this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(readings_);
  layout->addWidget(versions_);
  layout->addStretch();
}

void ACWPSettingWidget::showWindow() {
  refreshed_ = false;
  show();
}

void ACWPSettingWidget::onLidarStatusReceiving(SettingData* data, std::vector<int> Mac) {
  if (data == nullptr) return;
  deviceSetting_ = *data;
  mac_ = std::move(Mac);
  ++recordsReceived_;
  if (static_cast<int>(mac_.size()) > tovik::kMacBoard2Threshold) {
    readings_->setText(tr("High voltage: %1   Adjustment: %2   Threshold: %3")
                           .arg(mac_[tovik::kMacBoard2HighVoltage])
                           .arg(mac_[tovik::kMacBoard2HighVoltageAdjust])
                           .arg(mac_[tovik::kMacBoard2Threshold]));
  }
  versions_->setText(tovik::fpga2VersionText(deviceSetting_) + QStringLiteral("   ") +
                     tovik::fpga3VersionText(deviceSetting_));
}

void ACWPSettingWidget::onCleanACWPControl() { versions_->clear(); }
