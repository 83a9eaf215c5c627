// The main window's side of the drawing pipeline: one revolution pass per revolution, the
// coalesced redraw and the view-tool slots.
#include <QLabel>
#include <QScrollBar>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "acquisition/geometry.h"
#include "app/manwindow.h"
#include "app/point_cloud_view.h"
#include "app/point_table.h"
#include "dialogs/Form_QLaserSelection.h"
#include "ui_manwindow.h"

namespace {

constexpr int kMinPointSize = 1;
constexpr int kMaxPointSize = 10;

tovik::SelectionBox boundingBox(const std::vector<tovik::DrawnPoint>& points) {
  tovik::SelectionBox box;
  if (points.empty()) return box;
  box.minX = box.maxX = points.front().x;
  box.minY = box.maxY = points.front().y;
  box.minZ = box.maxZ = points.front().z;
  for (const tovik::DrawnPoint& p : points) {
    box.minX = std::min(box.minX, p.x);
    box.maxX = std::max(box.maxX, p.x);
    box.minY = std::min(box.minY, p.y);
    box.maxY = std::max(box.maxY, p.y);
    box.minZ = std::min(box.minZ, p.z);
    box.maxZ = std::max(box.maxZ, p.z);
  }
  return box;
}

}  // namespace

tovik::PassSettings manwindow::passSettings() const {
  tovik::PassSettings s;
  s.degreeMode = degreeMode_;
  s.accuaryMode = accuaryMode_;
  s.colorMode = ui_->comboBox_4->currentIndex();
  s.displayAngleLimit = displayAngleLimit_;
  for (int k = 0; k < 16; ++k) s.channelShown[size_t(k)] = laserSelection_->channelShown(k);
  s.channelNumber = channelNumber_;
  s.selectionActive = selectionActive_;
  s.selectionBox = selectionBox_;
  s.deviceAngles = deviceAnglesForPass();
  return s;
}

void manwindow::CalculateCoordinates(LidarData lidardata) { passRevolution(lidardata); }

void manwindow::onRevolutionFrame(const tovik::SharedFrame& frame) {
  // The handle is released on return, so its frame goes back to the producer at once.
  if (frame) passRevolution(*frame);
}

void manwindow::passRevolution(const LidarData& revolution) {
  if (!displayEnabled_) return;
  // Kept with its raw distances for the stored-revolution selection and export. Copied into the
  // lists of the previous one: once they are large enough, nothing is allocated.
  lastScan_ = revolution;
  ui_->comboBox_4->setEnabled(true);

  // Every revolution is placed and reaches the table and the frame counter; only the newest
  // one is drawn.
  const int64_t passStart = perfClock_.nsecsElapsed();
  pass_.clear();
  const tovik::PassSettings settings = passSettings();
  tovik::runRevolutionPass(lastScan_, settings, &pass_);
  ++revolutionsPassed_;
  if (pass_.mistakenChannel >= 0) emit sendAngleMistake(pass_.mistakenChannel);

  if (csvSaving_) {
    // While a CSV export runs its rows take the place of drawing: both clouds stay empty.
    realTimeCloud_.clear();
    clickedCloud_.clear();
    writeCsvRevolution(settings.deviceAngles);
  } else {
    if (selectionActive_) {
      table_->writeSelectionRows(pass_.inBox, selectedCount_,
                                 ui_->tableView->verticalScrollBar()->value(),
                                 &selectionRowCounter_);
    } else {
      table_->writeNormalRows(pass_.normalRows);
    }
    realTimeCloud_.swap(pass_.realTime);
    clickedCloud_.swap(pass_.clicked);
  }

  // Offline frame counter.
  if (playing_) {
    if (stepBackward_) ui_->Spbox_Frame->setValue(--frameIndex_);
    if (stepForward_) ui_->Spbox_Frame->setValue(++frameIndex_);
  }
  const int64_t passEnd = perfClock_.nsecsElapsed();
  perf_.passNs += passEnd - passStart;
  ++perf_.passes;
  if (!redrawPending_) newestArrivalNs_ = passStart;
  scheduleRedraw();
}

void manwindow::scheduleRedraw() {
  redrawPending_ = true;
  if (!redrawTimer_.isActive()) redrawTimer_.start();
}

void manwindow::cancelPendingRedraw() {
  redrawTimer_.stop();
  redrawPending_ = false;
  realTimeCloud_.clear();
  clickedCloud_.clear();
}

void manwindow::drawNewestRevolution() {
  if (!redrawPending_) return;
  redrawPending_ = false;
  const int64_t drawStart = perfClock_.nsecsElapsed();
  viewer_->setClouds(realTimeCloud_, clickedCloud_, pointSize_);
  drawnPointCount_ = realTimeCloud_.size() + clickedCloud_.size();
  if (cameraFitsPending_ > 0 && drawnPointCount_ > 0) {
    // A cleared view has no extent to frame: the first revolutions after it set the camera to
    // the chosen view direction, moved back until the whole revolution is in sight (which also
    // sets the depth range). The first revolution after a start is usually partial, so the
    // second one is framed again.
    --cameraFitsPending_;
    viewer_->setCameraPreset(ui_->comboBox_View->currentIndex());
  }
  // Picking reads the drawn depth buffer, which a view that was never shown does not have.
  if (infoTextEnabled() && ui_->screen->isVisible()) viewer_->refreshInfoText();
  viewer_->render();
  ++framesDrawn_;
  const int64_t drawEnd = perfClock_.nsecsElapsed();
  perf_.redrawNs += drawEnd - drawStart;
  ++perf_.redraws;
  perf_.maxWaitNs = std::max(perf_.maxWaitNs, drawEnd - newestArrivalNs_);
}

// --- View tools ------------------------------------------------------------------------------

void manwindow::createViewTools() {
  auto* box = new QWidget(ui_->Tab_1);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  auto* label = new QLabel(tr("Trails"), box);
  trailSpin_ = new QSpinBox(box);
  trailSpin_->setObjectName(QStringLiteral("spinBox_trails"));
  trailSpin_->setRange(1, tovik::PointCloudView::kMaxTrailLength);
  trailSpin_->setValue(1);
  trailSpin_->setToolTip(
      tr("Revolutions kept in view, each older one darker (1: the current revolution only). "
         "Selection and the point list use the current revolution."));
  label->setBuddy(trailSpin_);
  layout->addWidget(label);
  layout->addWidget(trailSpin_);
  ui_->layout_Tab_1->insertWidget(ui_->layout_Tab_1->indexOf(ui_->comboBox_View) + 1, box);
  connect(trailSpin_, QOverload<int>::of(&QSpinBox::valueChanged), this, [this](int n) {
    viewer_->setTrailLength(n);
    viewer_->render();
  });
  // For the soak benchmark: the trail length a run starts with.
  const int startLength = qEnvironmentVariableIntValue("TOVIK16_TRAILS");
  if (startLength > 0) trailSpin_->setValue(startLength);

  connect(ui_->comboBox_4, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
          [this](int mode) {
            viewer_->setColorLegend(mode);
            viewer_->render();
          });
  viewer_->setColorLegend(ui_->comboBox_4->currentIndex());
}

void manwindow::view() { viewer_->setCameraPreset(ui_->comboBox_View->currentIndex()); }

void manwindow::onToggleAxes() {
  axesShown_ = viewer_->toggleAxes(axesShown_);
  viewer_->resetCamera();
}

void manwindow::onToggleGrid() {
  if (gridHidden_) {
    gridHidden_ = false;
    viewer_->drawGrid();
  } else {
    // Also removes the info text; the next refresh brings it back.
    viewer_->removeAllShapes();
    gridHidden_ = true;
  }
  viewer_->resetCamera();
}

void manwindow::onPointSizeKey(int delta) {
  // Takes effect with the next drawn revolution.
  pointSize_ = std::clamp(pointSize_ + delta, kMinPointSize, kMaxPointSize);
}

bool manwindow::selectingMode() const { return viewer_->areaSelectionMode(); }

void manwindow::SelectPoints() {
  ui_->screen->setFocus();
  viewer_->setAreaSelectionMode(!viewer_->areaSelectionMode());
}

void manwindow::onAreaSelectionModeChanged(bool on) {
  setCursor(on ? Qt::CrossCursor : Qt::ArrowCursor);
}

void manwindow::onAreaPicked(std::vector<int> indices) {
  // An area that covers no point changes nothing; selection mode stays on.
  if (indices.empty()) return;
  const std::vector<tovik::DrawnPoint> picked = viewer_->realTimePointsAt(indices);
  if (picked.empty()) return;

  selectedCount_ = static_cast<int>(indices.size());
  // One row per selected point from the start, so that the scroll bar reaches them all; the
  // revolutions fill the rows around the visible part.
  resetTable(false);
  table_->sizeForSelection(selectedCount_);
  selectionBox_ = boundingBox(picked);
  // No revolution will arrive to fill the table: list the stored one's points in the box.
  if (!displayEnabled_ || paused_) {
    table_->writeStoredSelection(tovik::pointsInBox(lastScan_, passSettings(), selectionBox_),
                                 selectedCount_);
  }
  viewer_->setClickedCloud(picked);

  selectionActive_ = true;
  viewer_->setAreaSelectionMode(false);
}

void manwindow::onClear() {
  selectionBox_ = tovik::SelectionBox{};
  selectionActive_ = false;
  selectedCount_ = 0;
  resetTable(false);
  cancelPendingRedraw();
  viewer_->clearAll();
  cameraFitsPending_ = kCameraFits;
}
