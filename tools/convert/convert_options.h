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

struct Options {
  std::string capturePath;
  std::string outputPath;            // empty or "-": standard output
  bool dualReturn = false;           // --sensor Tovik16-2
  int echoCode = kDualEcho;          // --echo, dual-return decoding only
  int degreeMode = kDegree2;         // --degree
  int accuaryMode = kResolution025;  // --resolution
  int64_t maxFrames = -1;            // --frames; -1 writes every closed revolution
  float angleMin = 0.0f;             // --azimuth MIN:MAX, degrees, both ends included
  float angleMax = 360.0f;
  uint16_t channels = csv::kAllChannels;  // --channels
  bool statsOnly = false;                 // --stats
  bool progress = false;  // --progress (also on by itself when stderr is a terminal)
  int threads = 1;        // --threads; parseArguments sets defaultThreads() before reading argv
};

enum class ParseResult { Run, Help, Version, Error };

// Reads argv[1..argc-1]. On Error, *error holds a one-line reason naming the offending argument.
ParseResult parseArguments(int argc, const char* const* argv, Options* options, std::string* error);

// The --help text.
std::string usageText();

}  // namespace tovik::convert
