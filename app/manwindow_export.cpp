// The main window's CSV export: the request from the save-data options window, the file, and
// the CSV pass that takes the place of drawing while an export runs.
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QStatusBar>
#include <QToolButton>

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
    const QString text =
        tr("%1 is the capture file open in the Offline tab. Choose another name for the CSV file.")
            .arg(QDir::toNativeSeparators(path));
    notify(text);
    auto* box = new QMessageBox(QMessageBox::Warning, tr("Warning"), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("csvExportFailure"));
    box->open();
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
        tovik::chooseVerticalAngles(degreeMode_, tovik::deviceVerticalAnglesSnapshot());
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
    case tovik::CsvExport::Outcome::kFailed: {
      const QString text = csvExport_.failedText();
      notify(text);
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
