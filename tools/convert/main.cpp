// tovik16-convert: writes the revolutions of a capture file as CSV rows or point cloud files,
// without the viewer.
//
// Decoding is forward offline playback: every point data packet in file order, each closed
// revolution numbered from 1, the revolution still open at the end of the file dropped. The
// decoding and the vertical angles come from the capture's first device packet, as the viewer
// takes them from a live device; the command line overrides them. The work is spread over
// --threads workers (convert_pipeline.h).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "acquisition/capture_description.h"
#include "acquisition/capture_file.h"
#include "acquisition/cloud_file.h"
#include "acquisition/csv_writer.h"
#include "acquisition/geometry.h"
#include "acquisition/revolution_assembler.h"
#include "tools/convert/convert_options.h"
#include "tools/convert/convert_pipeline.h"
#include "tovik16_version.h"

namespace {

using tovik::convert::Options;

constexpr const char* kProgram = "tovik16-convert";

void complain(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
}

// Progress on standard error, at most once a second, so a run shorter than a second prints
// nothing. A phase that printed anything also prints its 100% line. On a terminal the line is
// rewritten in place.
class Progress {
 public:
  explicit Progress(bool enabled)
      : enabled_(enabled),
        terminal_(isatty(STDERR_FILENO) == 1),
        last_(std::chrono::steady_clock::now()) {}

  void report(const char* what, uint64_t done, uint64_t total) {
    if (!enabled_ || total == 0) return;
    const auto now = std::chrono::steady_clock::now();
    const bool last = done >= total;
    if (!(last && shown_) && now - last_ < std::chrono::seconds(1)) return;
    last_ = now;
    shown_ = true;
    std::fprintf(stderr, "%s%s: %s %3d%% (%llu/%llu)%s", terminal_ ? "\r" : "", kProgram, what,
                 int(done * 100 / total), static_cast<unsigned long long>(done),
                 static_cast<unsigned long long>(total), terminal_ ? "" : "\n");
  }

  // Ends a rewritten line so later messages start on their own.
  void finish() {
    if (enabled_ && shown_ && terminal_) std::fputc('\n', stderr);
    shown_ = false;
  }

 private:
  bool enabled_;
  bool terminal_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_;
};

// The CSV destination: a file created by name, or standard output. Every failure is kept with
// its reason so the caller reports it once.
class Output {
 public:
  bool open(const std::string& path) {
    if (path.empty() || path == "-") {
      file_ = stdout;
      name_ = "standard output";
      return true;
    }
    name_ = "'" + path + "'";
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
      error_ = "cannot create " + name_ + ": " + std::strerror(errno);
      return false;
    }
    owned_ = true;
    return true;
  }

  bool write(const std::string& bytes) {
    if (bytes.empty()) return true;
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
      return fail("cannot write to");
    }
    return true;
  }

  // Flushes and closes; a full disk often shows only here.
  bool close() {
    errno = 0;
    if (owned_) {
      owned_ = false;
      if (std::fclose(file_) != 0) return fail("cannot finish writing");
      return true;
    }
    if (std::fflush(file_) != 0 || std::ferror(file_)) return fail("cannot finish writing");
    return true;
  }

  const std::string& error() const { return error_; }

 private:
  bool fail(const char* what) {
    error_ = std::string(what) + " " + name_ + ": " +
             (errno ? std::strerror(errno) : "write error") + " (the output is incomplete)";
    return false;
  }

  std::FILE* file_ = nullptr;
  bool owned_ = false;
  std::string name_;
  std::string error_;
};

// The decoding of the capture: its device packets' settings, the command line's where given. The
// notes for standard error go to *notes.
void chooseDecoding(const Options& opt, const tovik::capture::Index& index,
                    tovik::convert::Settings* settings, std::string* notes) {
  const tovik::CaptureDescription device = tovik::describeCapture(index.devicePackets);
  bool dual = opt.dualReturn;
  int degreeMode = opt.degreeMode;
  int accuaryMode = opt.accuaryMode;
  // An all-zero device table never passes the plausibility check: the nominal table is used.
  tovik::AngleTable deviceAngles{};
  if (device.fromDevice) {
    if (!opt.sensorGiven) dual = device.dualReturn();
    if (!opt.degreeGiven) degreeMode = device.degreeMode;
    if (!opt.resolutionGiven) accuaryMode = device.accuaryMode;
    deviceAngles = device.verticalAngles;
  } else if (!opt.sensorGiven) {
    const tovik::LayoutGuess guess = tovik::guessLayout(index.pointPackets);
    dual = guess == tovik::LayoutGuess::Dual;
    *notes += std::string("note: no device packets in the capture; ") +
              (guess == tovik::LayoutGuess::Unknown
                   ? "its point packets do not tell the layout, decoding as "
                   : "its point packets look like ") +
              (dual ? tovik::kSensorDualOffline : tovik::kSensorSingleOffline) +
              " (--sensor overrides)";
  }
  settings->layout =
      dual ? tovik::OfflineAssembler::Layout::Dual : tovik::OfflineAssembler::Layout::Single;
  settings->angles = tovik::chooseVerticalAngles(degreeMode, deviceAngles);
  settings->rows.accuaryMode = accuaryMode;
}

// Where the clouds go; false with *error set when OUTPUT is neither a folder nor a pattern.
bool chooseCloudNames(const Options& opt, const char* extension, tovik::convert::CloudNames* names,
                      std::string* error) {
  const std::string& out = opt.outputPath;
  struct stat st {};
  if (out.empty() || out == "-" || out.back() == '/' ||
      (stat(out.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
    names->setFolder(out.empty() || out == "-" ? std::string() : out, opt.capturePath, extension);
    return true;
  }
  if (out.find('%') == std::string::npos) {
    *error = "'" + out + "' is no folder and no pattern with %d (one file per revolution)";
    return false;
  }
  return names->setPattern(out, error);
}

int run(const Options& opt) {
  Progress progress(opt.progress || isatty(STDERR_FILENO) == 1);

  tovik::capture::CaptureFile capture;
  const bool opened = capture.open(opt.capturePath, [&](size_t done, size_t total) {
    progress.report("indexing", done, total);
  });
  progress.finish();
  if (!opened) {
    complain(capture.errorString());
    return tovik::convert::kExitInput;
  }
  if (capture.pointCount() == 0) {
    complain("'" + opt.capturePath + "' holds no point data packets (" + capture.summary() + ")");
    return tovik::convert::kExitInput;
  }
  const tovik::capture::Index& index = capture.index();
  if (index.truncated || index.damaged) {
    complain("warning: '" + opt.capturePath + "' is incomplete; converting what it holds (" +
             capture.summary() + ")");
  }

  const bool clouds = opt.format != tovik::convert::Format::Csv && !opt.statsOnly;
  const tovik::CloudFormat cloudFormat =
      opt.format == tovik::convert::Format::Pcd ? tovik::CloudFormat::Pcd : tovik::CloudFormat::Ply;
  tovik::convert::CloudNames cloudNames;
  if (clouds) {
    std::string error;
    if (!chooseCloudNames(opt, tovik::cloudExtension(cloudFormat), &cloudNames, &error)) {
      complain(error);
      return tovik::convert::kExitUsage;
    }
  }

  Output out;
  if (!clouds && !out.open(opt.outputPath)) {
    complain(out.error());
    return tovik::convert::kExitOutput;
  }

  tovik::convert::Settings settings;
  std::string notes;
  chooseDecoding(opt, index, &settings, &notes);
  if (!notes.empty()) complain(notes);
  settings.echoCode = opt.echoCode;
  settings.firstRevolution = opt.firstRevolution - 1;
  settings.maxFrames = opt.maxFrames;
  if (opt.lastRevolution > 0) {
    const int64_t inRange = opt.lastRevolution - opt.firstRevolution + 1;
    settings.maxFrames = settings.maxFrames > 0 ? std::min(settings.maxFrames, inRange) : inRange;
  }
  settings.statsOnly = opt.statsOnly;
  settings.rows.angleMin = opt.angleMin;
  settings.rows.angleMax = opt.angleMax;
  settings.rows.channels = opt.channels;
  settings.threads = opt.threads;

  // One file per revolution, written by the workers; the first failure is kept for the message.
  std::mutex cloudErrorMutex;
  std::string cloudError;
  if (clouds) {
    settings.frameOutput = [&](const LidarData& frame, int64_t freamId) {
      thread_local std::vector<tovik::CloudPoint> points;
      points.clear();
      tovik::appendCloudPoints(frame, settings.angles, settings.rows, &points);
      std::string error;
      if (tovik::writeCloudFile(cloudNames.name(freamId), cloudFormat, points, &error)) return true;
      std::lock_guard<std::mutex> lock(cloudErrorMutex);
      if (cloudError.empty()) cloudError = error;
      return false;
    };
  }

  if (!opt.statsOnly && !clouds) {
    std::string header;
    tovik::csv::appendHeader(header);
    if (!out.write(header)) {
      complain(out.error());
      out.close();
      return tovik::convert::kExitOutput;
    }
  }

  tovik::convert::Counts counts;
  const tovik::convert::Outcome outcome = tovik::convert::convert(
      index.pointPackets, settings, [&](const std::string& bytes) { return out.write(bytes); },
      [&](uint64_t done, uint64_t total) { progress.report("converting", done, total); }, &counts);
  if (outcome != tovik::convert::Outcome::Done) {
    progress.finish();
    if (outcome == tovik::convert::Outcome::CutMismatch) {
      complain("internal error: the revolutions were cut where the decoder did not close them");
      out.close();
      return tovik::convert::kExitInternal;
    }
    complain(clouds ? cloudError : out.error());
    if (!clouds) out.close();
    return tovik::convert::kExitOutput;
  }
  progress.report("converting", index.pointPackets.size(), index.pointPackets.size());
  progress.finish();

  std::string buffer;
  if (opt.statsOnly) {
    buffer += "capture: " + opt.capturePath + "\n";
    buffer += "format: " + index.format + "\n";
    buffer += "records: " + std::to_string(index.records) + "\n";
    buffer += "point packets: " + std::to_string(capture.pointCount()) + "\n";
    buffer += "device packets: " + std::to_string(index.devicePackets.size()) + "\n";
    buffer += "packets decoded: " + std::to_string(counts.packets) + "\n";
    buffer += "revolutions: " + std::to_string(counts.revolutions) + "\n";
    buffer += "points: " + std::to_string(counts.points) + "\n";
    buffer += "rows: " + std::to_string(counts.rows) + "\n";
    if (counts.capped > 0)
      buffer += "revolutions dropped at the size cap: " + std::to_string(counts.capped) + "\n";
  }
  if (!clouds && (!out.write(buffer) || !out.close())) {
    complain(out.error());
    return tovik::convert::kExitOutput;
  }
  if (counts.capped > 0 && !opt.statsOnly) {
    complain("warning: " + std::to_string(counts.capped) + " revolution(s) never closed within " +
             std::to_string(tovik::kMaxRevolutionPoints) + " points and were left out");
  }
  if (counts.revolutions == 0 && opt.firstRevolution > 1) {
    complain("warning: '" + opt.capturePath + "' holds no revolution " +
             std::to_string(opt.firstRevolution) + " (--revolutions)");
  } else if (counts.revolutions == 0) {
    complain("warning: no complete revolution in '" + opt.capturePath + "' (" +
             std::to_string(capture.pointCount()) + " point data packets)");
  }
  return tovik::convert::kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  switch (tovik::convert::parseArguments(argc, argv, &options, &error)) {
    case tovik::convert::ParseResult::Help:
      std::fputs(tovik::convert::usageText().c_str(), stdout);
      return std::fflush(stdout) == 0 ? tovik::convert::kExitOk : tovik::convert::kExitOutput;
    case tovik::convert::ParseResult::Version:
      std::puts(tovik::versionLine(kProgram).c_str());
      return std::fflush(stdout) == 0 ? tovik::convert::kExitOk : tovik::convert::kExitOutput;
    case tovik::convert::ParseResult::Error:
      complain(error);
      std::fprintf(stderr, "Try '%s --help' for more information.\n", kProgram);
      return tovik::convert::kExitUsage;
    case tovik::convert::ParseResult::Run:
      break;
  }
  return run(options);
}
