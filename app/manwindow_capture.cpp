// The main window's side of a capture that describes itself: a recording made with the device's
// status packets names the sensor type, the angle mode, the distance resolution and the
// vertical angles it was recorded with, so playback takes them from the file.
#include <QComboBox>

#include "acquisition/GetlidarData.h"
#include "acquisition/GetlidarData_1.h"
#include "acquisition/SelectLidar.h"
#include "acquisition/geometry.h"
#include "acquisition/lidar_data.h"
#include "app/manwindow.h"
#include "ui_manwindow.h"

void manwindow::applyCaptureDescription() {
  captureDescription_ = tovik::describeCapture(capture_->index().devicePackets);
  const tovik::CaptureDescription& d = captureDescription_;
  if (!d.fromDevice) {
    // The operator chooses, as before; a preselection that came from another file is dropped.
    if (!selectLidar_->preselected().isEmpty()) selectLidar_->preselect(QString());
    return;
  }
  selectLidar_->preselect(d.sensorType);
  // A change of index reaches Return_Degree, which tells the decoders and the vertical angle
  // window.
  ui_->comboBox_degree->setCurrentIndex(d.degreeMode);
  accuaryMode_ = d.accuaryMode;
  // The mode window shows what the recording device was set to (it starts nothing by itself).
  emit sendDefaultConfig(
      QString::fromLatin1(d.dualReturn() ? tovik::kSensorDualLive : tovik::kSensorSingleLive),
      d.degreeMode, d.accuaryMode);
}

tovik::AngleTable manwindow::deviceAnglesForPass() const {
  // Live and played revolutions never mix: while no live receiver runs, a revolution comes from
  // the loaded capture.
  const bool live = getlidarData1_->isRunning() || getlidarData_->isRunning();
  if (capture_ && captureDescription_.fromDevice && !live)
    return captureDescription_.verticalAngles;
  return tovik::deviceVerticalAnglesSnapshot();
}

void manwindow::playLoadedCapture() {
  if (!capture_ || !ui_->toolButton_Play->isEnabled() || !paused_) return;
  ui_->toolButton_Play->click();
  // Play showed the sensor window with the recorded sensor type already selected: OK.
  if (selectLidar_->isVisible() && !selectLidar_->preselected().isEmpty())
    selectLidar_->ReturnCurrentItem();
}
