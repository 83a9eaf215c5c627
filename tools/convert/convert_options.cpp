#include "tools/convert/convert_options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <sched.h>
#endif

#include "acquisition/revolution_assembler.h"

namespace tovik::convert {

namespace {

// A whole-string decimal integer within [lo, hi].
bool parseInteger(const std::string& text, int64_t lo, int64_t hi, int64_t* value) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  *value = v;
  return true;
}

bool parseFloat(const std::string& text, float* value) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
  errno = 0;
  char* end = nullptr;
  const float v = std::strtof(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

bool parseChannels(const std::string& text, uint16_t* mask) {
  uint16_t m = 0;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    const std::string item =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    int64_t ch = 0;
    if (!parseInteger(item, 0, kChannelCount - 1, &ch)) return false;
    m = uint16_t(m | (1u << ch));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  *mask = m;
  return true;
}

// "A:B" or "A:" with 1 <= A <= B.
bool parseRange(const std::string& text, int64_t* first, int64_t* last) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  int64_t a = 0, b = -1;
  if (!parseInteger(text.substr(0, colon), 1, INT32_MAX, &a)) return false;
  const std::string tail = text.substr(colon + 1);
  if (!tail.empty() && !parseInteger(tail, a, INT32_MAX, &b)) return false;
  *first = a;
  *last = b;
  return true;
}

}  // namespace

bool CloudNames::setPattern(const std::string& pattern, std::string* error) {
  std::string prefix, suffix;
  bool found = false, zero = false;
  int width = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    std::string& out = found ? suffix : prefix;
    if (pattern[i] != '%') {
      out.push_back(pattern[i]);
      continue;
    }
    if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    size_t j = i + 1;
    const bool z = j < pattern.size() && pattern[j] == '0';
    if (z) ++j;
    int w = 0;
    while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j])) && w < 100)
      w = w * 10 + (pattern[j++] - '0');
    if (found || j >= pattern.size() || pattern[j] != 'd' || w >= 100) {
      *error = "bad output pattern '" + pattern +
               "' (expected exactly one %d, %5d or %05d conversion; %% for a literal %)";
      return false;
    }
    found = true;
    zero = z;
    width = w;
    i = j;
  }
  if (!found) {
    *error = "output pattern '" + pattern + "' holds no %d conversion for the revolution number";
    return false;
  }
  prefix_ = prefix;
  suffix_ = suffix;
  zeroPad_ = zero;
  width_ = width;
  return true;
}

void CloudNames::setFolder(const std::string& folder, const std::string& capturePath,
                           const char* extension) {
  std::string base = capturePath.substr(capturePath.find_last_of('/') + 1);
  const size_t dot = base.find_last_of('.');
  if (dot != std::string::npos && dot > 0) base.erase(dot);
  prefix_ = folder.empty() ? std::string() : folder.back() == '/' ? folder : folder + "/";
  prefix_ += base + "_";
  suffix_ = std::string(".") + extension;
  zeroPad_ = true;
  width_ = 5;
}

std::string CloudNames::name(int64_t freamId) const {
  char digits[32];
  std::snprintf(digits, sizeof digits, zeroPad_ ? "%0*lld" : "%*lld", width_,
                static_cast<long long>(freamId));
  return prefix_ + digits + suffix_;
}

int defaultThreads() {
#if defined(__linux__)
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
#endif
  return std::max(1, int(std::thread::hardware_concurrency()));
}

std::string usageText() {
  return "Usage: tovik16-convert [options] CAPTURE [-o OUTPUT]\n"
         "\n"
         "Decodes the point data packets of a pcap/pcapng capture as forward offline playback\n"
         "does and writes every closed revolution as CSV rows (FreamID 1, 2, 3, ...), or as one\n"
         "point cloud file per revolution. The revolution still open at the end of the file is\n"
         "not written.\n"
         "\n"
         "Options:\n"
         "  --format csv|pcd|ply  CSV rows (default), or binary PCD / binary little-endian PLY\n"
         "                        files, one per revolution, with the points the CSV gives\n"
         "                        (fields x y z intensity channel azimuth time)\n"
         "  --sensor auto|Tovik16-1|Tovik16-2  auto (default) takes single or dual return, the\n"
         "                        angle table and the resolution from the capture's device\n"
         "                        packets; without any, it judges the layout from the point\n"
         "                        packets and says so on standard error\n"
         "  --echo 0|1|2          dual-return echo: 0 both merged, 1 strong, 2 second "
         "(default 0)\n"
         "  --degree 0|1          vertical angle table: 0 = 2 degree, 1 = 1.33 degree "
         "(default:\n"
         "                        the device's, else 0)\n"
         "  --resolution 0|1      distance per count: 0 = 0.25 cm, 1 = 0.4 cm (default: the\n"
         "                        device's, else 0)\n"
         "  --frames N            write the first N revolutions only (N >= 1; default all)\n"
         "  --revolutions A:B     write revolutions A to B (FreamIDs counted from 1 at the start\n"
         "                        of the capture, both included; 'A:' runs to the end). They\n"
         "                        keep their FreamIDs; with --frames N, the first N of them\n"
         "  --azimuth MIN:MAX     write points with MIN <= azimuth <= MAX degrees "
         "(default 0:360)\n"
         "  --channels LIST       comma-separated channel indices 0..15 (default all)\n"
         "  --stats               print packet, revolution and point counts instead of CSV\n"
         "  --threads N           decode and format on N threads beside the reading and the\n"
         "                        writing one (default: the cores available); 0 does all of\n"
         "                        it on one thread. The output is the same either way.\n"
         "  --progress            report progress on standard error (automatic on a terminal)\n"
         "  -o, --output OUTPUT   CSV: write to OUTPUT instead of standard output ('-' is\n"
         "                        standard output). PCD/PLY: a folder (an existing one, or a\n"
         "                        name ending in '/'), which receives CAPTURENAME_00001.pcd,\n"
         "                        ..., or a pattern with one %d conversion for the FreamID,\n"
         "                        such as out_%05d.ply (default: the current folder)\n"
         "  -h, --help            show this text\n"
         "  --version             show the version and the git revision of the build\n"
         "\n"
         "Vertical angles: the device's own from its first device packet, unless one lies more\n"
         "than 1.5 degrees from the nominal table; then (and without device packets) the\n"
         "nominal table.\n"
         "\n"
         "A revolution that never closes within " +
         std::to_string(kMaxRevolutionPoints) +
         " points (a motor standing still) is left out\n"
         "and counted.\n"
         "\n"
         "Exit status: 0 done, 1 internal error, 2 bad command line, 3 capture missing,\n"
         "unreadable or without point data, 4 output cannot be created or written.\n";
}

ParseResult parseArguments(int argc, const char* const* argv, Options* options,
                           std::string* error) {
  Options o;
  o.threads = defaultThreads();
  std::vector<std::string> positional;
  bool optionsEnded = false;

  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") return ParseResult::Help;
    if (arg == "--version") return ParseResult::Version;
    if (arg == "--stats") {
      o.statsOnly = true;
      continue;
    }
    if (arg == "--progress") {
      o.progress = true;
      continue;
    }

    // Options with a value: "--name VALUE", "--name=VALUE", "-o VALUE" or "-oVALUE".
    std::string name = arg;
    std::string value;
    bool hasValue = false;
    if (arg.compare(0, 2, "--") == 0) {
      const size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
        hasValue = true;
      }
    } else if (arg.size() > 2 && arg.compare(0, 2, "-o") == 0) {
      name = "-o";
      value = arg.substr(2);
      hasValue = true;
    }
    static const char* const kValued[] = {"--sensor", "--echo",    "--degree",      "--resolution",
                                          "--frames", "--azimuth", "--channels",    "--threads",
                                          "--output", "-o",        "--revolutions", "--format"};
    bool known = false;
    for (const char* v : kValued) known = known || name == v;
    if (!known) {
      *error = "unknown option '" + arg + "'";
      return ParseResult::Error;
    }
    if (!hasValue) {
      if (i + 1 >= argc) {
        *error = "option '" + name + "' needs a value";
        return ParseResult::Error;
      }
      value = argv[++i];
    }

    auto bad = [&](const char* expected) {
      *error = "bad value '" + value + "' for " + name + " (expected " + expected + ")";
      return ParseResult::Error;
    };
    int64_t n = 0;
    if (name == "--sensor") {
      o.sensorGiven = value != "auto";
      if (value == kSensorSingleOffline || value == "auto") {
        o.dualReturn = false;
      } else if (value == kSensorDualOffline) {
        o.dualReturn = true;
      } else {
        return bad("auto, Tovik16-1 or Tovik16-2");
      }
    } else if (name == "--format") {
      if (value == "csv") {
        o.format = Format::Csv;
      } else if (value == "pcd") {
        o.format = Format::Pcd;
      } else if (value == "ply") {
        o.format = Format::Ply;
      } else {
        return bad("csv, pcd or ply");
      }
    } else if (name == "--revolutions") {
      if (!parseRange(value, &o.firstRevolution, &o.lastRevolution))
        return bad("A:B or A: with 1 <= A <= B");
    } else if (name == "--echo") {
      if (!parseInteger(value, 0, 2, &n)) return bad("0, 1 or 2");
      o.echoCode = int(n);
    } else if (name == "--degree") {
      if (!parseInteger(value, 0, 1, &n)) return bad("0 or 1");
      o.degreeMode = int(n);
      o.degreeGiven = true;
    } else if (name == "--resolution") {
      if (!parseInteger(value, 0, 1, &n)) return bad("0 or 1");
      o.accuaryMode = int(n);
      o.resolutionGiven = true;
    } else if (name == "--frames") {
      if (!parseInteger(value, 1, INT32_MAX, &n)) return bad("a whole number of at least 1");
      o.maxFrames = n;
    } else if (name == "--azimuth") {
      const size_t colon = value.find(':');
      float lo = 0, hi = 0;
      if (colon == std::string::npos || !parseFloat(value.substr(0, colon), &lo) ||
          !parseFloat(value.substr(colon + 1), &hi) || lo > hi) {
        return bad("MIN:MAX in degrees with MIN <= MAX");
      }
      o.angleMin = lo;
      o.angleMax = hi;
    } else if (name == "--threads") {
      if (!parseInteger(value, 0, kMaxThreads, &n)) return bad("a whole number from 0 to 256");
      o.threads = int(n);
    } else if (name == "--channels") {
      if (!parseChannels(value, &o.channels)) return bad("comma-separated indices 0..15");
    } else {  // -o, --output
      if (value.empty()) return bad("a file name");
      o.outputPath = value;
    }
  }

  if (positional.empty()) {
    *error = "no capture file given";
    return ParseResult::Error;
  }
  if (positional.size() > 1) {
    *error = "more than one capture file given ('" + positional[0] + "', '" + positional[1] + "')";
    return ParseResult::Error;
  }
  o.capturePath = positional[0];
  // A pattern is checked here; whether a plain name is a folder is the caller's to find out.
  if (o.format != Format::Csv && !o.statsOnly && o.outputPath.find('%') != std::string::npos &&
      o.outputPath.back() != '/') {
    CloudNames names;
    if (!names.setPattern(o.outputPath, error)) return ParseResult::Error;
  }
  *options = o;
  return ParseResult::Run;
}

}  // namespace tovik::convert
