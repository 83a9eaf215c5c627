// One CSV export of the viewer: the open file, the revolutions written so far and the status
// texts. The rows are the converter's rows (tovik::csv::appendRevolution); a revolution's rows
// are built in memory and reach the file in one write, so a full disk or a lost file shows at
// the revolution that failed and the export ends there.
#pragma once

#include <QFile>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "acquisition/csv_writer.h"
#include "acquisition/geometry.h"
#include "acquisition/lidar_data.h"

namespace tovik {

// Live decoding moves the points of the next revolution's start out of a closing one and leaves
// zeroed places behind (distance 0 and time 0), never measured there. scan without them, or
// nullptr when it has none (the common case: no copy).
std::unique_ptr<LidarData> withoutZeroedPlaces(const LidarData& scan);

class CsvExport {
 public:
  enum class Outcome {
    kWritten,   // rows written, more revolutions to come
    kFinished,  // the last revolution was written; the file is closed
    kFailed     // nothing more can be written; the file is closed, errorText() says why
  };

  CsvExport() = default;
  // Writes what is pending and closes the file.
  ~CsvExport();
  CsvExport(const CsvExport&) = delete;
  CsvExport& operator=(const CsvExport&) = delete;

  // Creates or truncates path for an export of frames (>= 1) revolutions and prepares the
  // header, which reaches the file with the first revolution. false when the file cannot be
  // opened or frames < 1; errorText() then says why and no export is active.
  bool begin(const QString& path, int frames, const csv::RowOptions& options);

  // Writes the rows of scan with the next FreamID (1 for the first revolution of a file), using
  // the vertical angles the revolution is placed with. kFailed when no export is active.
  // Points at distance 0 and time 0 are left out: live decoding moves the points of the next
  // revolution's start out of a closing one and leaves such zeroed places behind; they were
  // never measured there (a real point without echo has its firing time).
  Outcome writeRevolution(const LidarData& scan, const AngleTable& verticalAngles);

  // Ends an active export early: what is pending is written, the file is closed. The file holds
  // whole lines only, the rows of the revolutions written so far.
  void finish();

  bool active() const { return file_.isOpen(); }
  // Revolutions written to the current (or last) file; the FreamID of the last one.
  int frameCounter() const { return frameCounter_; }
  int frames() const { return frames_; }
  uint64_t rowsWritten() const { return rowsWritten_; }
  QString fileName() const { return fileName_; }
  QString errorText() const { return errorText_; }
  // Nanoseconds the last writeRevolution() took: building the rows and writing them.
  int64_t lastWriteNs() const { return lastWriteNs_; }

  // "Saving CSV: n of N revolutions to FILE"
  QString progressText() const;
  // Where the finished file went and what it holds.
  QString finishedText() const;
  // Where an export stopped early went and what it holds.
  QString stoppedText() const;
  // Why the export ended without its revolutions.
  QString failedText() const;

 private:
  // Writes pending_ whole; false (with errorText_) when the file refused some of it.
  bool writePending();
  void closeFile();

  QFile file_;
  QString fileName_;
  QString errorText_;
  csv::RowOptions options_;
  std::string pending_;
  int frames_ = 0;
  int frameCounter_ = 0;
  uint64_t rowsWritten_ = 0;
  int64_t lastWriteNs_ = 0;
};

}  // namespace tovik
