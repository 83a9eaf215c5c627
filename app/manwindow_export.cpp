// The main window's exports: the CSV export (the request from the save-data options window, the
// file, and the CSV pass that takes the place of drawing while an export runs) and the PCD/PLY
// file of the shown revolution or of the selected points.
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QStatusBar>
#include <QToolButton>

#include "app/cloud_export.h"
#include "app/manwindow.h"
#include "dialogs/Form_QLaserSelection.h"
#include "ui_manwindow.h"

tovik::csv::RowOptions manwindow::csvRowOptions() const {
  tovik::csv::RowOptions o;
  o.accuaryMode = accuaryMode_;
  o.angleMin = csvAngleMin_;
  o.angleMax = csvAngleMax_;
  o.channels = tovik::csv::channelMask(csvLines_);
  o.channelNumber = channelNumber_;
  return o;
}

void manwindow::receiveSaveDataOption(bool isSave, int freams, float angleMin, float angleMax,
                                      QList<int> lines) {
  // Cancel in the options window ends an export that is waiting for its revolutions, and
  // otherwise changes nothing.
  if (!isSave) {
    if (csvSaving_) cancelCsvExport();
    return;
  }
  // A second OK leaves the running export as it is.
  if (csvSaving_) {
    notify(tr("A CSV export is already running: ") + csvExport_.progressText());
    return;
  }
  // Only a count of at least 1 ends by itself.
  if (freams < 1) return;

  const QString defaultName =
      QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-hh-mm")) +
      QStringLiteral(".csv");
  const QString path = csvFileNameProvider_ ? csvFileNameProvider_(defaultName)
                                            : QFileDialog::getSaveFileName(
                                                  this, tr("Save CSV"), defaultName, QString(),
                                                  nullptr, QFileDialog::DontUseNativeDialog);
  // A cancelled file dialog starts nothing: the view keeps drawing.
  if (path.isEmpty()) {
    notify(tr("CSV export cancelled"));
    return;
  }
  // Truncating the capture that is open for playback would pull the pages from under it.
  if (capture_ && capture_->isSameFile(QFile::encodeName(path).toStdString())) {
    showExportFailure(
        tr("%1 is the capture file open in the Offline tab. Choose another name for the CSV file.")
            .arg(QDir::toNativeSeparators(path)),
        QStringLiteral("csvExportFailure"));
    return;
  }

  csvRequested_ = isSave;
  csvFrames_ = freams;
  csvAngleMin_ = angleMin;
  csvAngleMax_ = angleMax;
  csvLines_ = lines;

  // When no revolution will arrive (display paused, playback paused with no live receiver), the
  // stored one is written at once as FreamID 1.
  const bool stored = !revolutionsWillArrive();
  if (!csvExport_.begin(path, stored ? 1 : csvFrames_, csvRowOptions())) {
    reportCsvOutcome(tovik::CsvExport::Outcome::kFailed);
    return;
  }
  csvSaving_ = true;
  if (stored) {
    // The check of the device's angles is made silently here: this is no new revolution.
    const tovik::AngleTable angles =
        tovik::chooseVerticalAngles(degreeMode_, deviceAnglesForPass());
    csvSaving_ = false;
    reportCsvOutcome(csvExport_.writeRevolution(lastScan_, angles));
    return;
  }
  showCsvProgress();
}

bool manwindow::revolutionsWillArrive() const {
  if (!displayEnabled_) return false;
  if (liveReceiverRunning()) return true;
  // Playback delivers unless it is paused. With nothing loaded, the revolutions handed to the
  // pass are awaited.
  return !paused_;
}

void manwindow::showCsvProgress() {
  notify(csvExport_.progressText());
  csvStopButton_->setText(
      tr("Stop CSV export (%1/%2)").arg(csvExport_.frameCounter()).arg(csvExport_.frames()));
  csvStopButton_->setVisible(csvSaving_);
}

void manwindow::cancelCsvExport() {
  if (!csvSaving_) return;
  csvSaving_ = false;
  csvStopButton_->hide();
  if (!csvExport_.active()) return;
  csvExport_.finish();
  const QString error = csvExport_.errorText();
  if (!error.isEmpty()) {
    reportCsvOutcome(tovik::CsvExport::Outcome::kFailed);
    return;
  }
  notify(csvExport_.stoppedText());
}

void manwindow::writeCsvRevolution(const tovik::AngleTable& deviceAngles) {
  if (!csvExport_.active()) {
    // No file behind the flag: nothing to write and nothing to wait for.
    csvSaving_ = false;
    csvStopButton_->hide();
    return;
  }
  const tovik::AngleTable angles = tovik::chooseVerticalAngles(degreeMode_, deviceAngles);
  const tovik::CsvExport::Outcome outcome = csvExport_.writeRevolution(lastScan_, angles);
  if (outcome != tovik::CsvExport::Outcome::kWritten) csvSaving_ = false;
  reportCsvOutcome(outcome);
}

void manwindow::reportCsvOutcome(tovik::CsvExport::Outcome outcome) {
  if (outcome != tovik::CsvExport::Outcome::kWritten) csvStopButton_->hide();
  switch (outcome) {
    case tovik::CsvExport::Outcome::kWritten:
      showCsvProgress();
      break;
    case tovik::CsvExport::Outcome::kFinished:
      notify(csvExport_.finishedText());
      break;
    case tovik::CsvExport::Outcome::kFailed:
      showExportFailure(csvExport_.failedText(), QStringLiteral("csvExportFailure"));
      break;
  }
}

void manwindow::showExportFailure(const QString& text, const QString& boxName) {
  notify(text);
  // Not exec(): this may run inside the handling of a revolution, and a nested event loop would
  // hand the next revolutions to the pass while the box is up.
  auto* box = new QMessageBox(QMessageBox::Warning, tr("Warning"), text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setObjectName(boxName);
  box->open();
}

// --- PCD/PLY ---------------------------------------------------------------------------------

void manwindow::createCloudExportButton() {
  QToolButton* csv = ui_->toolButton_11;
  auto* button = new QToolButton(ui_->Tab_3);
  button->setObjectName(QStringLiteral("toolButton_exportCloud"));
  button->setText(tr("PCD/PLY"));
  button->setToolTip(
      tr("Export the shown revolution or the selected points as a PCD or PLY point cloud"));
  button->setIcon(csv->icon());
  button->setIconSize(csv->iconSize());
  button->setMinimumSize(csv->minimumSize());
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  button->setAutoRaise(true);
  button->setPopupMode(QToolButton::InstantPopup);
  auto* menu = new QMenu(button);
  QAction* revolution = menu->addAction(tr("Export shown revolution..."));
  revolution->setObjectName(QStringLiteral("actionExportRevolutionCloud"));
  connect(revolution, &QAction::triggered, this, [this] { exportCloud(false); });
  QAction* selection = menu->addAction(tr("Export selected points..."));
  selection->setObjectName(QStringLiteral("actionExportSelectionCloud"));
  connect(selection, &QAction::triggered, this, [this] { exportCloud(true); });
  connect(menu, &QMenu::aboutToShow, this,
          [this, selection] { selection->setEnabled(selectionActive_); });
  button->setMenu(menu);
  ui_->layout_Tab_3->insertWidget(ui_->layout_Tab_3->indexOf(csv) + 1, button);
}

bool manwindow::exportCloud(bool selectedOnly) {
  if (lastScan_.totalPoints() == 0) {
    notify(tr("No revolution has arrived yet: there is nothing to export."));
    return false;
  }
  if (selectedOnly && !selectionActive_) {
    notify(tr("No area is selected: press Select and drag over points first."));
    return false;
  }
  // The revolution shown now, taken before the dialog lets the next ones in.
  const LidarData scan = lastScan_;
  const tovik::SelectionBox box = selectionBox_;

  const QString defaultName =
      QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-hh-mm")) +
      QStringLiteral(".pcd");
  QString path = cloudFileNameProvider_
                     ? cloudFileNameProvider_(defaultName)
                     : QFileDialog::getSaveFileName(this, tr("Export point cloud"), defaultName,
                                                    tr("Point clouds (*.pcd *.ply)"), nullptr,
                                                    QFileDialog::DontUseNativeDialog);
  if (path.isEmpty()) {
    notify(tr("Point cloud export cancelled"));
    return false;
  }
  tovik::CloudFormat format = tovik::CloudFormat::Pcd;
  if (QFileInfo(path).suffix().isEmpty()) {
    path += QStringLiteral(".pcd");
  } else if (!tovik::cloudFormatOfName(path, &format)) {
    showExportFailure(tr("%1: the file name must end in .pcd or .ply, which give the format.")
                          .arg(QDir::toNativeSeparators(path)),
                      QStringLiteral("cloudExportFailure"));
    return false;
  }
  if (capture_ && capture_->isSameFile(QFile::encodeName(path).toStdString())) {
    showExportFailure(tr("%1 is the capture file open in the Offline tab. Choose another name for "
                         "the point cloud file.")
                          .arg(QDir::toNativeSeparators(path)),
                      QStringLiteral("cloudExportFailure"));
    return false;
  }

  // The channels and the display angle of the view; the geometry and rows of the CSV export.
  tovik::csv::RowOptions options;
  options.accuaryMode = accuaryMode_;
  options.channels = 0;
  for (int k = 0; k < 16; ++k)
    if (laserSelection_->channelShown(k)) options.channels = uint16_t(options.channels | (1u << k));
  options.channelNumber = channelNumber_;
  const tovik::AngleTable angles = tovik::chooseVerticalAngles(degreeMode_, deviceAnglesForPass());
  const std::vector<tovik::CloudPoint> points = tovik::viewCloudPoints(
      scan, angles, options, displayAngleLimit_, selectedOnly ? &box : nullptr);
  if (points.empty()) {
    notify(selectedOnly ? tr("The selected area holds no point of the shown revolution.")
                        : tr("The shown revolution has no point to export."));
    return false;
  }
  std::string error;
  if (!tovik::writeCloudFile(QFile::encodeName(path).toStdString(), format, points, &error)) {
    showExportFailure(
        tr("The point cloud file %1 could not be written: %2.")
            .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(error.c_str())),
        QStringLiteral("cloudExportFailure"));
    return false;
  }
  notify(tr("Point cloud saved: %1 points to %2")
             .arg(points.size())
             .arg(QDir::toNativeSeparators(path)));
  return true;
}
