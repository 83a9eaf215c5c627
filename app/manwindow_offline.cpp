// The main window's Offline tab, recording and CSV export. This release has the playback
// engine's hand-over and end-of-file report; opening captures, the playback buttons, recording
// and the CSV file are not in it yet and say so in the status bar.
#include <QIcon>

#include "acquisition/ReadLiveOffData.h"
#include "app/manwindow.h"
#include "ui_manwindow.h"

namespace {

constexpr int kNoticeMs = 4000;

}  // namespace

void manwindow::ReceiveSensor(QString str) {
  readLiveOffData_->sensorType = QString::fromLatin1(
      str == QLatin1String(tovik::kSensorSingleOffline) ? tovik::kSensorSingleOffline
                                                        : tovik::kSensorDualOffline);
  readLiveOffData_->setPackets(packetList_.data(), packetCount_);
  readLiveOffData_->start(QThread::InheritPriority);
  playbackFinished_ = false;
}

void manwindow::FinshorStart(bool Finshone) {
  if (Finshone) {
    playbackFinished_ = true;
    frameIndex_ = 0;
    ui_->Spbox_Frame->setValue(frameIndex_);
    ui_->toolButton_Open->setEnabled(true);
    ui_->toolButton_SeekForward->setIcon(
        QIcon(QStringLiteral("./Resources/images/Seekforward.png")));
    forwardSpeedStep_ = 1;
    ui_->toolButton_SeekBackward->setIcon(
        QIcon(QStringLiteral("./Resources/images/Seekbackward.png")));
    backwardSpeedStep_ = 1;
  }
  stepForward_ = true;
  playing_ = false;
  paused_ = true;
  ui_->toolButton_Play->setIcon(QIcon(QStringLiteral("./Resources/images/Play.png")));
  ui_->toolButton_GoToEnd->setEnabled(true);
  ui_->toolButton_GoToStart->setEnabled(true);
}

void manwindow::receiveSaveDataOption(bool isSave, int freams, float angleMin, float angleMax,
                                      QList<int> lines) {
  csvRequested_ = isSave;
  csvFrames_ = freams;
  csvAngleMin_ = angleMin;
  csvAngleMax_ = angleMax;
  csvLines_ = lines;
  if (!isSave) return;
  ui_->statusBar->showMessage(tr("CSV export is not available in this release."), kNoticeMs);
}

void manwindow::onOpenCapture() {
  ui_->statusBar->showMessage(tr("Opening capture files is not available in this release."),
                              kNoticeMs);
}

void manwindow::onRecord() {
  ui_->toolButton_SavePcapData->setChecked(false);
  ui_->statusBar->showMessage(tr("Recording is not available in this release."), kNoticeMs);
}
