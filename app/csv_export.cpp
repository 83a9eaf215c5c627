#include "app/csv_export.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <memory>

namespace tovik {

namespace {

QString translate(const char* text) { return QCoreApplication::translate("CsvExport", text); }

bool isZeroedPlace(const LidarData& scan, int ch, size_t i) {
  return scan.distance[size_t(ch)][i] == 0.0f && scan.adjustedTime[size_t(ch)][i] == 0;
}

}  // namespace

std::unique_ptr<LidarData> withoutZeroedPlaces(const LidarData& scan) {
  bool any = false;
  for (int ch = 0; ch < kChannelCount && !any; ++ch)
    for (size_t i = 0, n = scan.pointCount(ch); i < n && !any; ++i)
      any = isZeroedPlace(scan, ch, i);
  if (!any) return nullptr;
  auto kept = std::make_unique<LidarData>();
  kept->blockAzimuth = scan.blockAzimuth;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const auto c = size_t(ch);
    for (size_t i = 0, n = scan.pointCount(ch); i < n; ++i) {
      if (isZeroedPlace(scan, ch, i)) continue;
      kept->distance[c].push_back(scan.distance[c][i]);
      kept->intensity[c].push_back(scan.intensity[c][i]);
      kept->azimuth[c].push_back(scan.azimuth[c][i]);
      kept->adjustedTime[c].push_back(scan.adjustedTime[c][i]);
    }
  }
  return kept;
}

CsvExport::~CsvExport() { finish(); }

bool CsvExport::begin(const QString& path, int frames, const csv::RowOptions& options) {
  finish();
  errorText_.clear();
  frameCounter_ = 0;
  rowsWritten_ = 0;
  fileName_ = path;
  frames_ = frames;
  if (frames < 1) {
    errorText_ = translate("the number of revolutions must be at least 1");
    return false;
  }
  if (path.isEmpty()) {
    errorText_ = translate("no file name was given");
    return false;
  }
  file_.setFileName(path);
  // Unbuffered: each revolution is one write of its own, so a failure shows at once.
  if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
    errorText_ = file_.errorString();
    return false;
  }
  options_ = options;
  pending_.clear();
  csv::appendHeader(pending_);
  return true;
}

CsvExport::Outcome CsvExport::writeRevolution(const LidarData& scan,
                                              const AngleTable& verticalAngles) {
  if (!active()) {
    if (errorText_.isEmpty()) errorText_ = translate("no CSV file is open");
    return Outcome::kFailed;
  }
  QElapsedTimer clock;
  clock.start();
  ++frameCounter_;
  const std::unique_ptr<LidarData> measured = withoutZeroedPlaces(scan);
  const size_t rows = csv::appendRevolution(pending_, measured ? *measured : scan, frameCounter_,
                                            verticalAngles, options_);
  const bool written = writePending();
  lastWriteNs_ = clock.nsecsElapsed();
  if (!written) {
    --frameCounter_;  // the revolution that failed is not in the file whole
    closeFile();
    return Outcome::kFailed;
  }
  rowsWritten_ += rows;
  if (frameCounter_ >= frames_) {
    closeFile();
    if (!errorText_.isEmpty()) return Outcome::kFailed;
    return Outcome::kFinished;
  }
  return Outcome::kWritten;
}

void CsvExport::finish() {
  if (!active()) return;
  writePending();
  closeFile();
}

bool CsvExport::writePending() {
  const qint64 size = qint64(pending_.size());
  qint64 done = 0;
  while (done < size) {
    const qint64 n = file_.write(pending_.data() + done, size - done);
    if (n <= 0) {
      errorText_ = file_.errorString();
      if (errorText_.isEmpty()) errorText_ = translate("the file took no more data");
      pending_.clear();
      return false;
    }
    done += n;
  }
  pending_.clear();
  return true;
}

void CsvExport::closeFile() {
  file_.close();
  if (file_.error() != QFileDevice::NoError && errorText_.isEmpty()) {
    errorText_ = file_.errorString();
  }
  file_.unsetError();
}

QString CsvExport::progressText() const {
  return translate("Saving CSV: %1 of %2 revolutions to %3")
      .arg(frameCounter_)
      .arg(frames_)
      .arg(QDir::toNativeSeparators(fileName_));
}

QString CsvExport::finishedText() const {
  return translate("CSV saved: %1 revolutions, %2 points to %3")
      .arg(frameCounter_)
      .arg(rowsWritten_)
      .arg(QDir::toNativeSeparators(fileName_));
}

QString CsvExport::stoppedText() const {
  return translate("CSV export stopped after %1 of %2 revolutions: %3 points in %4")
      .arg(frameCounter_)
      .arg(frames_)
      .arg(rowsWritten_)
      .arg(QDir::toNativeSeparators(fileName_));
}

QString CsvExport::failedText() const {
  return translate(
             "The CSV file %1 could not be written: %2. The export has ended after %3 of %4 "
             "revolutions.")
      .arg(QDir::toNativeSeparators(fileName_), errorText_)
      .arg(frameCounter_)
      .arg(frames_);
}

}  // namespace tovik
