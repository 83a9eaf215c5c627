// Command line of tovik16-convert.
#pragma once

#include <cstdint>
#include <string>

#include "acquisition/csv_writer.h"
#include "acquisition/lidar_data.h"

namespace tovik::convert {

// Exit statuses. A script can tell a wrong call from a bad capture from a full disk.
enum ExitCode : int {
  kExitOk = 0,
  kExitInternal = 1,  // a fault of this program
  kExitUsage = 2,
  kExitInput = 3,
  kExitOutput = 4
};

// The largest --threads.
constexpr int kMaxThreads = 256;
// The default of --threads: the cores this process may run on.
int defaultThreads();

// --format: CSV rows to one output, or one point cloud file per revolution.
enum class Format { Csv, Pcd, Ply };

struct Options {
  std::string capturePath;
  std::string outputPath;  // CSV: empty or "-" is standard output; clouds: a folder or a pattern
  Format format = Format::Csv;
  // --sensor, --degree and --resolution: each given one overrides what the capture's device
  // packets say (--sensor auto, the default, gives none).
  bool sensorGiven = false;
  bool dualReturn = false;   // --sensor Tovik16-2
  int echoCode = kDualEcho;  // --echo, dual-return decoding only
  bool degreeGiven = false;
  int degreeMode = kDegree2;  // --degree
  bool resolutionGiven = false;
  int accuaryMode = kResolution025;  // --resolution
  int64_t maxFrames = -1;            // --frames; -1 writes every closed revolution
  // --revolutions A:B, 1-based FreamIDs counted from the start of the capture; lastRevolution -1
  // runs to the end.
  int64_t firstRevolution = 1;
  int64_t lastRevolution = -1;
  float angleMin = 0.0f;  // --azimuth MIN:MAX, degrees, both ends included
  float angleMax = 360.0f;
  uint16_t channels = csv::kAllChannels;  // --channels
  bool statsOnly = false;                 // --stats
  bool progress = false;  // --progress (also on by itself when stderr is a terminal)
  int threads = 1;        // --threads; parseArguments sets defaultThreads() before reading argv
};

enum class ParseResult { Run, Help, Version, Error };

// Reads argv[1..argc-1]. On Error, *error holds a one-line reason naming the offending argument.
ParseResult parseArguments(int argc, const char* const* argv, Options* options, std::string* error);

// Where the cloud of revolution n goes: a pattern with exactly one %d-style conversion (flags
// '0' and a width allowed; "%%" is a literal '%').
class CloudNames {
 public:
  // Checks pattern; false with *error set when it does not hold exactly one conversion.
  bool setPattern(const std::string& pattern, std::string* error);
  // DIR/<capture name without its extension>_%05d.<extension>.
  void setFolder(const std::string& folder, const std::string& capturePath, const char* extension);
  std::string name(int64_t freamId) const;

 private:
  std::string prefix_, suffix_;
  bool zeroPad_ = false;
  int width_ = 0;
};

// The --help text.
std::string usageText();

}  // namespace tovik::convert
