// The main window's Record button: the controller does the work, the window keeps its
// recording flag in step with it.
#include <QCheckBox>
#include <QFile>

#include "acquisition/capture_file.h"
#include "app/manwindow.h"
#include "app/record_controller.h"
#include "ui_manwindow.h"

void manwindow::createRecordController() {
  recordController_ = std::make_unique<tovik::RecordController>(
      ui_->toolButton_SavePcapData, ui_->comboBox_captureInterface, ui_->lineEdit_portNumber,
      ui_->statusBar, this);
  // The device packets travel with the point data unless the operator unchecks the box.
  recordController_->setDevicePortSource(ui_->lineEdit, ui_->checkBox_recordDevicePackets);
  // Recording onto the capture that plays would pull the file from under the playback.
  recordController_->setBusyFileCheck([this](const QString& path) {
    return capture_ && capture_->isSameFile(QFile::encodeName(path).toStdString());
  });
  // Also follows a recording that ended on its own (a read error).
  connect(recordController_.get(), &tovik::RecordController::recordingChanged, this,
          [this](bool on) { recording_ = on; });
}

void manwindow::onRecord() {
  recordController_->onRecordClicked();
  recording_ = recordController_->isRecording();
}
