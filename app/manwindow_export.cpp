// The main window's CSV export: the request from the save-data options window, the file, and
// the CSV pass that takes the place of drawing while an export runs.
#include <QDateTime>
#include <QFileDialog>
#include <QMessageBox>
#include <QStatusBar>

#include "app/manwindow.h"
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
  // Cancel in the options window changes nothing, not even a running export's request.
  if (!isSave) return;
  if (csvSaving_) {
    ui_->statusBar->showMessage(tr("A CSV export is already running: ") +
                                csvExport_.progressText());
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
    ui_->statusBar->showMessage(tr("CSV export cancelled"));
    return;
  }

  csvRequested_ = isSave;
  csvFrames_ = freams;
  csvAngleMin_ = angleMin;
  csvAngleMax_ = angleMax;
  csvLines_ = lines;

  // With the display or playback paused no revolution will arrive: the stored one is written
  // at once as FreamID 1.
  const bool stored = !displayEnabled_ || paused_;
  if (!csvExport_.begin(path, stored ? 1 : csvFrames_, csvRowOptions())) {
    reportCsvOutcome(tovik::CsvExport::Outcome::kFailed);
    return;
  }
  csvSaving_ = true;
  if (stored) {
    // The check of the device's angles is made silently here: this is no new revolution.
    const tovik::AngleTable angles =
        tovik::chooseVerticalAngles(degreeMode_, tovik::deviceVerticalAnglesSnapshot());
    csvSaving_ = false;
    reportCsvOutcome(csvExport_.writeRevolution(lastScan_, angles));
    return;
  }
  ui_->statusBar->showMessage(csvExport_.progressText());
}

void manwindow::writeCsvRevolution(const tovik::AngleTable& deviceAngles) {
  if (!csvExport_.active()) {
    // No file behind the flag: nothing to write and nothing to wait for.
    csvSaving_ = false;
    return;
  }
  const tovik::AngleTable angles = tovik::chooseVerticalAngles(degreeMode_, deviceAngles);
  const tovik::CsvExport::Outcome outcome = csvExport_.writeRevolution(lastScan_, angles);
  if (outcome != tovik::CsvExport::Outcome::kWritten) csvSaving_ = false;
  reportCsvOutcome(outcome);
}

void manwindow::reportCsvOutcome(tovik::CsvExport::Outcome outcome) {
  switch (outcome) {
    case tovik::CsvExport::Outcome::kWritten:
      ui_->statusBar->showMessage(csvExport_.progressText());
      break;
    case tovik::CsvExport::Outcome::kFinished:
      ui_->statusBar->showMessage(csvExport_.finishedText());
      break;
    case tovik::CsvExport::Outcome::kFailed: {
      const QString text = csvExport_.failedText();
      ui_->statusBar->showMessage(text);
      // Not exec(): this may run inside the handling of a revolution, and a nested event loop
      // would hand the next revolutions to the pass while the box is up.
      auto* box = new QMessageBox(QMessageBox::Warning, tr("Warning"), text, QMessageBox::Ok, this);
      box->setAttribute(Qt::WA_DeleteOnClose);
      box->setObjectName(QStringLiteral("csvExportFailure"));
      box->open();
      break;
    }
  }
}
