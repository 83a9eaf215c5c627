// tovik16-convert end to end: captures written here with CaptureWriter, the built executable run
// on them, its output files, messages and exit statuses checked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pcl/PCLPointCloud2.h>
#include <pcl/conversions.h>
#include <pcl/io/pcd_io.h>
#include <pcl/io/ply_io.h>
#include <pcl/point_types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "acquisition/pcap_writer.h"
#include "acquisition/point_packet.h"
#include "packet_builder.h"
#include "tools/convert/convert_pipeline.h"
#ifdef TOVIK_HAVE_SIM
#include "tools/sim/sim_runner.h"
#include "tools/sim/sim_state.h"
#endif

#ifndef TOVIK_CONVERT_EXE
#error "TOVIK_CONVERT_EXE must name the converter executable"
#endif

namespace {

namespace fs = std::filesystem;

constexpr char kHeader[] =
    "FreamID,Points_X,Points_Y,Points_Z,intensity,channel,azimuth,distance,adjustedtime,timestamp";

struct RunResult {
  int status = -1;  // exit status, or -1 when the process did not exit normally
  std::string out;
  std::string err;
};

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string libcG(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

// The synthetic capture: 105 packets of 12 blocks, one degree per block, starting at 0 degrees,
// so the azimuth wraps after blocks 359, 719 and 1079 and three revolutions close; the last 180
// blocks stay an open revolution. Raw distance of channel ch: 1000 + 10 ch, plus 2 in the second
// firing sequence, plus 5 in odd blocks, so each row tells which block parity it came from.
constexpr int kPackets = 105;
constexpr uint32_t kFirstTimestamp = 1000000;  // microseconds; packets 1000 us apart

std::array<uint8_t, tovik::kPacketSize> makePacket(int packet) {
  std::array<uint8_t, tovik::kPacketSize> p{};
  for (int k = 0; k < tovik::kBlocksPerPacket; ++k) {
    const int block = packet * tovik::kBlocksPerPacket + k;
    uint8_t* b = p.data() + tovik::kBlockSize * k;
    const int azimuth = (block % 360) * 100;  // hundredths of a degree
    b[0] = 0xFF;
    b[1] = 0xEE;
    b[2] = uint8_t(azimuth & 0xFF);
    b[3] = uint8_t(azimuth >> 8);
    for (int j = 0; j < tovik::kRecordsPerBlock; ++j) {
      const int ch = j % 16;
      const int raw = 1000 + 10 * ch + (j >= 16 ? 2 : 0) + (block % 2 ? 5 : 0);
      b[4 + 3 * j] = uint8_t(raw & 0xFF);
      b[5 + 3 * j] = uint8_t(raw >> 8);
      b[6 + 3 * j] = uint8_t(ch * 16 + (j >= 16));
    }
  }
  const uint32_t ts = kFirstTimestamp + uint32_t(packet) * 1000;
  for (int i = 0; i < 4; ++i) p[tovik::kTimestampOffset + i] = uint8_t(ts >> (8 * i));
  return p;
}

// Writes a capture of the given UDP payloads, all 127.0.0.1:2368 -> 127.0.0.1:2368.
void writeCapture(const fs::path& path, const std::vector<std::vector<uint8_t>>& payloads) {
  std::ofstream file(path, std::ios::binary);
  tovik::capture::CaptureWriter writer(file);
  uint64_t t = 1700000000ull * 1000000000ull;
  for (const auto& p : payloads) {
    ASSERT_TRUE(writer.writeUdp(t, 0x7F000001, 2368, 0x7F000001, 2368, p.data(), p.size()));
    t += 1000000;
  }
  ASSERT_TRUE(writer.ok());
}

class ConvertTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testDir =
        new fs::path(fs::path(TOVIK_TEST_DATA_DIR) / ("convert-" + std::to_string(::getpid())));
    fs::create_directories(*testDir);
    std::vector<std::vector<uint8_t>> payloads;
    for (int i = 0; i < kPackets; ++i) {
      const auto p = makePacket(i);
      payloads.emplace_back(p.begin(), p.end());
      if (i == 40) payloads.push_back(std::vector<uint8_t>(300, 0x42));  // not point data
    }
    writeCapture(*testDir / "three.pcap", payloads);
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    fs::remove_all(*testDir, ignored);
    delete testDir;
    testDir = nullptr;
  }

  static fs::path path(const std::string& name) { return *testDir / name; }
  static std::string capture() { return path("three.pcap").string(); }

  // Runs the converter with args; stdout and stderr go to files that are read back.
  static RunResult run(const std::vector<std::string>& args) {
    const fs::path outPath = path("stdout.txt");
    const fs::path errPath = path("stderr.txt");
    std::vector<std::string> argvStore = {TOVIK_CONVERT_EXE};
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    RunResult r;
    const pid_t pid = fork();
    if (pid == 0) {
      const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || err < 0) _exit(126);
      dup2(out, STDOUT_FILENO);
      dup2(err, STDERR_FILENO);
      execv(argv[0], argv.data());
      _exit(127);
    }
    if (pid < 0) return r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    return r;
  }

  static fs::path* testDir;
};
fs::path* ConvertTest::testDir = nullptr;

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::vector<std::string> splitFields(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  std::string f;
  while (std::getline(in, f, ',')) fields.push_back(f);
  return fields;
}

struct Csv {
  std::string header;
  std::vector<std::vector<std::string>> rows;
  std::map<int, size_t> rowsPerFrame;  // FreamID -> rows
  bool idsAscending = true;
};

Csv parseCsv(const std::string& text) {
  Csv csv;
  const auto lines = splitLines(text);
  if (lines.empty()) return csv;
  csv.header = lines[0];
  int lastId = 0;
  for (size_t i = 1; i < lines.size(); ++i) {
    csv.rows.push_back(splitFields(lines[i]));
    const int id = std::atoi(csv.rows.back()[0].c_str());
    csv.idsAscending = csv.idsAscending && id >= lastId;
    lastId = id;
    ++csv.rowsPerFrame[id];
  }
  return csv;
}

// Rows per revolution of the synthetic capture: a revolution holds the block that wraps it (the
// playback rule), so the first one has 361 blocks and the others 360; 32 points per block.
constexpr size_t kRowsFirst = 361 * 32;
constexpr size_t kRowsOther = 360 * 32;

// Raw distance of a row, from its distance column in metres at 0.25 cm per count.
int rawFromRow(const std::vector<std::string>& row) {
  return int(std::lround(std::strtod(row[7].c_str(), nullptr) * 400));
}

TEST_F(ConvertTest, WritesHeaderAndEveryClosedRevolution) {
  const RunResult r = run({capture()});
  ASSERT_EQ(r.status, 0) << r.err;
  // Without device packets the layout is judged from the point packets, and that is said.
  EXPECT_NE(r.err.find("look like Tovik16-1"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(r.out.substr(0, sizeof kHeader), std::string(kHeader) + "\n");
  const Csv csv = parseCsv(r.out);
  EXPECT_TRUE(csv.idsAscending);
  EXPECT_EQ(csv.rowsPerFrame,
            (std::map<int, size_t>{{1, kRowsFirst}, {2, kRowsOther}, {3, kRowsOther}}));
  for (const auto& row : csv.rows) ASSERT_EQ(row.size(), 10u);

  // The first row: channel 0, first sequence of block 0. 250 cm at A = 0 on the -15 degree
  // channel; firing time = timestamp - 596.875 us, truncated.
  const double rad = 3.14159 / 180.0, v = -15.0 * rad, c = 14.67 * rad;
  EXPECT_EQ(csv.rows[0], (std::vector<std::string>{
                             "1", libcG(float((250.0 * std::cos(v) + 4.376 * std::cos(c)) / 100)),
                             libcG(float(4.376 * std::sin(c) / 100)),
                             libcG(float((250.0 * std::sin(v) + 0.426) / 100)), "0", "0", "0",
                             "2.5", "999403", "999403"}));
  // The second row: channel 0, second sequence of block 0, half a block later in azimuth.
  EXPECT_EQ(csv.rows[1][4], "1");
  EXPECT_EQ(csv.rows[1][6], "0.5");
  EXPECT_EQ(csv.rows[1][7], "2.505");
  EXPECT_EQ(csv.rows[1][8], "999453");  // + 16 firings x 3.125 us
}

TEST_F(ConvertTest, OutputFileHoldsTheSameBytesAsStandardOutput) {
  const RunResult toStdout = run({capture(), "--frames", "1"});
  const fs::path file = path("out.csv");
  const RunResult toFile = run({"--frames=1", capture(), "-o", file.string()});
  ASSERT_EQ(toStdout.status, 0) << toStdout.err;
  ASSERT_EQ(toFile.status, 0) << toFile.err;
  EXPECT_EQ(toFile.out, "");
  EXPECT_EQ(readFile(file), toStdout.out);
  EXPECT_EQ(parseCsv(toStdout.out).rows.size(), kRowsFirst);
}

// Option cases that share a shape: run, parse, check the revolutions, row count and a property
// every row must have.
struct OptionCase {
  const char* name;
  std::vector<std::string> args;
  std::map<int, size_t> rowsPerFrame;
  bool (*rowOk)(const std::vector<std::string>& row);
};

void PrintTo(const OptionCase& c, std::ostream* os) { *os << c.name; }

class ConvertOptionTest : public ConvertTest, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(ConvertOptionTest, SelectsTheExpectedRows) {
  const OptionCase& c = GetParam();
  std::vector<std::string> args = c.args;
  args.push_back(capture());
  const RunResult r = run(args);
  ASSERT_EQ(r.status, 0) << r.err;
  const Csv csv = parseCsv(r.out);
  EXPECT_EQ(csv.header, kHeader);
  EXPECT_TRUE(csv.idsAscending);
  EXPECT_EQ(csv.rowsPerFrame, c.rowsPerFrame);
  size_t bad = 0;
  for (const auto& row : csv.rows) bad += !(row.size() == 10 && c.rowOk(row));
  EXPECT_EQ(bad, 0u);
}

bool anyRow(const std::vector<std::string>&) { return true; }
bool channel0or15(const std::vector<std::string>& row) { return row[5] == "0" || row[5] == "15"; }
bool azimuth10to20(const std::vector<std::string>& row) {
  const double a = std::strtod(row[6].c_str(), nullptr);
  return a >= 10.0 && a <= 20.0;
}
bool evenBlock(const std::vector<std::string>& row) { return rawFromRow(row) % 10 < 5; }
bool oddBlock(const std::vector<std::string>& row) { return rawFromRow(row) % 10 >= 5; }
// 0.4 cm per count: raw 1000 + 10 ch (+2, +5) reads as 4 m + 4 cm per channel.
bool coarseResolution(const std::vector<std::string>& row) {
  const double metres = std::strtod(row[7].c_str(), nullptr);
  const int ch = std::atoi(row[5].c_str());
  return metres >= 4.0 + 0.04 * ch - 1e-9 && metres <= 4.0 + 0.04 * ch + 0.028 + 1e-9;
}
// Channel 0 at 1.33 degree spacing points 10 degrees down; 2.5 m gives z of about -0.43 m.
bool channel0At10Down(const std::vector<std::string>& row) {
  if (row[5] != "0") return true;
  const double z = std::strtod(row[3].c_str(), nullptr);
  const double d = std::strtod(row[7].c_str(), nullptr) * 100;
  const double want = (d * std::sin(-10.0 * 3.14159 / 180.0) + 0.426) / 100;
  return std::fabs(z - want) < 1e-4;
}

// In [10, 20] degrees, per revolution: the first-sequence points of blocks 10..19 (and of block
// 20 on channel 0, whose point sits exactly at 20) and the second-sequence points of 10..19.
constexpr size_t kRowsAzimuth10to20 = 16 * 20 + 1;

INSTANTIATE_TEST_SUITE_P(
    Options, ConvertOptionTest,
    ::testing::Values(
        OptionCase{"frames2", {"--frames", "2"}, {{1, kRowsFirst}, {2, kRowsOther}}, anyRow},
        OptionCase{"frames99",
                   {"--frames", "99"},
                   {{1, kRowsFirst}, {2, kRowsOther}, {3, kRowsOther}},
                   anyRow},
        OptionCase{"channels",
                   {"--channels", "15,0"},
                   {{1, kRowsFirst / 8}, {2, kRowsOther / 8}, {3, kRowsOther / 8}},
                   channel0or15},
        OptionCase{"azimuth",
                   {"--azimuth", "10:20"},
                   {{1, kRowsAzimuth10to20}, {2, kRowsAzimuth10to20}, {3, kRowsAzimuth10to20}},
                   azimuth10to20},
        OptionCase{"resolution",
                   {"--resolution", "1"},
                   {{1, kRowsFirst}, {2, kRowsOther}, {3, kRowsOther}},
                   coarseResolution},
        OptionCase{"degree",
                   {"--degree=1"},
                   {{1, kRowsFirst}, {2, kRowsOther}, {3, kRowsOther}},
                   channel0At10Down},
        // Dual-return, both echoes merged: the revolution closes on the wrap of the even blocks.
        OptionCase{"dualMerged",
                   {"--sensor", "Tovik16-2", "--echo", "0"},
                   {{1, kRowsFirst}, {2, kRowsOther}, {3, kRowsOther}},
                   anyRow},
        OptionCase{"dualStrong",
                   {"--sensor", "Tovik16-2", "--echo", "1"},
                   {{1, 181 * 32}, {2, 180 * 32}, {3, 180 * 32}},
                   evenBlock},
        OptionCase{"dualSecond",
                   {"--sensor", "Tovik16-2", "--echo", "2"},
                   {{1, 181 * 32}, {2, 180 * 32}, {3, 180 * 32}},
                   oddBlock}),
    [](const ::testing::TestParamInfo<OptionCase>& info) { return info.param.name; });

TEST_F(ConvertTest, StatsPrintCountsInsteadOfRows) {
  const RunResult all = run({"--stats", capture()});
  ASSERT_EQ(all.status, 0) << all.err;
  const auto lines = splitLines(all.out);
  const std::set<std::string> have(lines.begin(), lines.end());
  for (const char* want : {"point packets: 105", "revolutions: 3", "points: 34592", "rows: 34592",
                           "packets decoded: 105"}) {
    EXPECT_TRUE(have.count(want)) << "missing \"" << want << "\" in\n" << all.out;
  }
  EXPECT_EQ(all.out.find("FreamID"), std::string::npos);

  const RunResult filtered = run({"--stats", "--channels", "3", "--frames", "1", capture()});
  ASSERT_EQ(filtered.status, 0) << filtered.err;
  EXPECT_NE(filtered.out.find("revolutions: 1\n"), std::string::npos) << filtered.out;
  EXPECT_NE(filtered.out.find("points: 11552\n"), std::string::npos) << filtered.out;
  EXPECT_NE(filtered.out.find("rows: 722\n"), std::string::npos) << filtered.out;
}

TEST_F(ConvertTest, LessThanOneRevolutionWritesTheHeaderAndWarns) {
  std::vector<std::vector<uint8_t>> payloads;
  for (int i = 0; i < 20; ++i) {
    const auto p = makePacket(i);
    payloads.emplace_back(p.begin(), p.end());
  }
  writeCapture(path("short.pcap"), payloads);
  const RunResult r = run({path("short.pcap").string()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kHeader) + "\n");
  EXPECT_NE(r.err.find("no complete revolution"), std::string::npos) << r.err;
}

TEST_F(ConvertTest, HelpGoesToStandardOutput) {
  const RunResult r = run({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: tovik16-convert", 0), 0u) << r.out;
  EXPECT_EQ(r.err, "");
}

struct FailureCase {
  const char* name;
  std::vector<std::string> args;  // "@" stands for the good capture, "%name" for a file made here
  int status;
  const char* message;  // part of the text on standard error
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class ConvertFailureTest : public ConvertTest, public ::testing::WithParamInterface<FailureCase> {
 protected:
  static void SetUpTestSuite() {
    ConvertTest::SetUpTestSuite();
    std::ofstream(path("text.pcap")) << "this is not a capture file at all, just some text\n";
    std::ofstream empty(path("empty.pcap"));
    // A valid capture whose only datagrams are a device-sized payload of zeros and a short one.
    writeCapture(path("nopoints.pcap"),
                 {std::vector<uint8_t>(tovik::kPacketSize, 0), std::vector<uint8_t>(64, 0xFF)});
  }
};

TEST_P(ConvertFailureTest, ReportsAndExitsWithItsCode) {
  const FailureCase& c = GetParam();
  std::vector<std::string> args;
  for (const std::string& a : c.args) {
    if (a == "@") {
      args.push_back(capture());
    } else if (a[0] == '%') {
      args.push_back(path(a.substr(1)).string());
    } else {
      args.push_back(a);
    }
  }
  const RunResult r = run(args);
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_NE(r.err.find(c.message), std::string::npos) << "stderr was: " << r.err;
  EXPECT_EQ(r.err.rfind("tovik16-convert: ", 0), 0u) << r.err;
  EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Errors, ConvertFailureTest,
    ::testing::Values(
        FailureCase{"missingFile", {"%absent.pcap"}, 3, "no such file"},
        FailureCase{"notACapture", {"%text.pcap"}, 3, "text.pcap"},
        FailureCase{"emptyFile", {"%empty.pcap"}, 3, "empty.pcap"},
        FailureCase{"directory", {"%"}, 3, "directory"},
        FailureCase{"noPointData", {"%nopoints.pcap"}, 3, "no point data"},
        FailureCase{"noCapture", {}, 2, "no capture file"},
        FailureCase{"twoCaptures", {"@", "@"}, 2, "more than one capture"},
        FailureCase{"unknownOption", {"--colour", "red", "@"}, 2, "unknown option '--colour'"},
        FailureCase{"echo3", {"--echo", "3", "@"}, 2, "--echo"},
        FailureCase{"echoText", {"--echo=strong", "@"}, 2, "--echo"},
        FailureCase{"sensorLive", {"--sensor", "Tovik161", "@"}, 2, "--sensor"},
        FailureCase{"degree2", {"--degree", "2", "@"}, 2, "--degree"},
        FailureCase{"resolutionNeg", {"--resolution", "-1", "@"}, 2, "--resolution"},
        FailureCase{"frames0", {"--frames", "0", "@"}, 2, "--frames"},
        FailureCase{"framesText", {"--frames", "3x", "@"}, 2, "--frames"},
        FailureCase{"framesHuge", {"--frames", "99999999999999999999", "@"}, 2, "--frames"},
        FailureCase{"azimuthOne", {"--azimuth", "10", "@"}, 2, "--azimuth"},
        FailureCase{"azimuthReversed", {"--azimuth", "20:10", "@"}, 2, "--azimuth"},
        FailureCase{"azimuthNan", {"--azimuth", "nan:10", "@"}, 2, "--azimuth"},
        FailureCase{"channels16", {"--channels", "0,16", "@"}, 2, "--channels"},
        FailureCase{"channelsEmptyItem", {"--channels", "1,,2", "@"}, 2, "--channels"},
        FailureCase{"valueMissing", {"@", "--frames"}, 2, "needs a value"},
        FailureCase{"outputMissing", {"@", "-o"}, 2, "needs a value"},
        FailureCase{"outputInMissingDir", {"@", "-o", "%no/such/dir/out.csv"}, 4, "cannot create"},
        FailureCase{"outputIsDirectory", {"@", "-o", "%"}, 4, "cannot create"},
        FailureCase{"formatXyz", {"@", "--format", "xyz"}, 2, "--format"},
        FailureCase{"revolutionsReversed", {"@", "--revolutions", "3:2"}, 2, "--revolutions"},
        FailureCase{"revolutionsZero", {"@", "--revolutions", "0:2"}, 2, "--revolutions"},
        FailureCase{"patternTwoNumbers", {"@", "--format", "pcd", "-o", "a%d_%d"}, 2, "pattern"},
        FailureCase{"patternNotNumber", {"@", "--format", "ply", "-o", "a%s"}, 2, "pattern"},
        FailureCase{"cloudNoPattern", {"@", "--format", "ply", "-o", "%x.ply"}, 2, "no folder"},
        FailureCase{"cloudMissingFolder",
                    {"@", "--format", "pcd", "-o", "%no/such/dir/"},
                    4,
                    "No such file"},
        // The input is checked before the output is created.
        FailureCase{"badInputBeforeOutput", {"%absent.pcap", "-o", "%x.csv"}, 3, "absent.pcap"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST_F(ConvertTest, FullDiskIsAWriteError) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  // #10: the pipeline ends the same way, every thread joined (a thread left running would end
  // the process abnormally or keep it from ending).
  for (const char* threads : {"0", "1", "4"}) {
    for (const char* frames : {"1", "3"}) {  // one revolution fits the stdio buffer, three do not
      const RunResult r =
          run({capture(), "--frames", frames, "--threads", threads, "-o", "/dev/full"});
      EXPECT_EQ(r.status, 4) << threads << " threads, " << frames;
      EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("incomplete"), std::string::npos) << r.err;
    }
  }
}

// #9: a standing stream (the azimuth never wraps) is left out at the size cap, counted, and
// the revolutions after it are converted.
void writeCappedCapture(const fs::path& file) {
  std::vector<std::vector<uint8_t>> payloads;
  tovik::test::PacketBuilder standing;
  for (int k = 0; k < tovik::kBlocksPerPacket; ++k) standing.azimuth(k, 10000);
  const size_t standingPackets = tovik::kMaxRevolutionBlocks / tovik::kBlocksPerPacket + 1;
  payloads.assign(standingPackets,
                  std::vector<uint8_t>(standing.image().begin(), standing.image().end()));
  for (int i = 0; i < kPackets; ++i) {
    const auto p = makePacket(i);
    payloads.emplace_back(p.begin(), p.end());
  }
  writeCapture(file, payloads);
}

#ifdef TOVIK_HAVE_SIM
void writeSimCapture(const fs::path& file, bool dual) {
  tovik::sim::RunOptions o;
  o.sim.dualReturn = dual;
  o.revolutionLimit = 6;
  o.withDevicePackets = true;
  o.faults.badHeaderRatio = 0.02;  // packets the decoders skip
  o.faults.seed = 7;
  o.quiet = true;
  std::ofstream out(file, std::ios::binary);
  std::string error;
  ASSERT_TRUE(tovik::sim::writeCapture(o, out, nullptr, &error)) << error;
}
#endif

// #10: the pipeline's output is byte for byte that of the single-threaded path, for captures of
// both layouts, with filters, on 1, 2 and 4 threads.
TEST_F(ConvertTest, EveryThreadCountWritesTheSameBytes) {
  writeCappedCapture(path("capped.pcap"));
  std::vector<std::vector<std::string>> cases = {
      {capture()},
      {capture(), "--channels", "15,0", "--azimuth", "10:20"},
      {capture(), "--sensor", "Tovik16-2", "--echo", "2", "--frames", "2"},
      {capture(), "--stats"},
      {path("capped.pcap").string()},
      {path("capped.pcap").string(), "--stats"},
      // From a later revolution the single-threaded path seeks through the revolution index.
      {path("capped.pcap").string(), "--revolutions", "2:3"},
      {path("capped.pcap").string(), "--revolutions", "2:", "--stats"},
      {capture(), "--revolutions", "2:9", "--frames", "1", "--stats"},
  };
#ifdef TOVIK_HAVE_SIM
  writeSimCapture(path("sim-single.pcap"), false);
  writeSimCapture(path("sim-dual.pcap"), true);
  const std::string single = path("sim-single.pcap").string();
  const std::string dual = path("sim-dual.pcap").string();
  cases.push_back({single});
  cases.push_back({single, "--channels", "3,4,9", "--azimuth", "100:300", "--resolution", "1"});
  cases.push_back({dual, "--sensor", "Tovik16-2"});
  cases.push_back({dual, "--sensor", "Tovik16-2", "--echo", "1", "--degree", "1", "--frames", "3"});
  cases.push_back({dual, "--sensor", "Tovik16-2", "--echo", "2", "--stats"});
  cases.push_back({dual, "--echo", "1", "--revolutions", "3:5"});
#endif
  for (const auto& args : cases) {
    std::vector<std::string> serial = args;
    serial.insert(serial.end(), {"--threads", "0"});
    const RunResult want = run(serial);
    ASSERT_EQ(want.status, 0) << want.err;
    ASSERT_GT(want.out.size(), 100u);
    for (const char* threads : {"1", "2", "4"}) {
      std::vector<std::string> piped = args;
      piped.insert(piped.end(), {"--threads", threads});
      const RunResult got = run(piped);
      EXPECT_EQ(got.status, 0) << got.err;
      EXPECT_EQ(got.err, want.err);
      EXPECT_TRUE(got.out == want.out)
          << args[0] << " " << (args.size() > 1 ? args[1] : "") << " on " << threads << " threads";
    }
  }
  const RunResult capped = run({path("capped.pcap").string(), "--stats"});
  EXPECT_NE(capped.out.find("revolutions: 3\n"), std::string::npos) << capped.out;
  EXPECT_NE(capped.out.find("dropped at the size cap: 1\n"), std::string::npos) << capped.out;
}

// ---------------------------------------------------------------------------------------------
// The pipeline in-process.

std::vector<std::array<uint8_t, tovik::kPacketSize>> syntheticStream(int packets) {
  std::vector<std::array<uint8_t, tovik::kPacketSize>> v;
  for (int i = 0; i < packets; ++i) v.push_back(makePacket(i));
  return v;
}

size_t threadsOfThisProcess() {
  size_t n = 0;
  for (const auto& e : fs::directory_iterator("/proc/self/task")) n += e.is_directory();
  return n;
}

// #10: a writer fault ends the run with every thread joined, and nothing is written after it.
TEST(ConvertPipeline, WriterFaultLeavesNoThreadBehind) {
  const auto stream = syntheticStream(30 * 12);  // 12 revolutions
  std::vector<const uint8_t*> packets;
  for (const auto& p : stream) packets.push_back(p.data());
  const size_t before = threadsOfThisProcess();
  for (int threads : {1, 2, 4}) {
    for (int failAt : {1, 5}) {
      tovik::convert::Settings s;
      s.threads = threads;
      int calls = 0;
      tovik::convert::Counts counts;
      const auto outcome = tovik::convert::convert(
          packets, s, [&](const std::string&) { return ++calls < failAt; }, {}, &counts);
      EXPECT_EQ(outcome, tovik::convert::Outcome::WriteFailed) << threads << " " << failAt;
      EXPECT_EQ(calls, failAt);
      EXPECT_EQ(threadsOfThisProcess(), before) << threads << " threads, fault at " << failAt;
    }
  }
}

// A stream with jumps, standing stretches, out-of-range azimuths and packets that fail the FF EE
// test.
std::vector<tovik::test::PacketImage> jumpyStream() {
  std::mt19937 rng(10);
  std::vector<tovik::test::PacketImage> stream;
  uint32_t az = 0;
  for (int p = 0; p < 3000; ++p) {
    tovik::test::PacketBuilder b;
    if (rng() % 40 == 0) b.flag(0xFF, uint8_t(rng()));
    const bool standing = p >= 400 && p < 1900;  // longer than the cap
    for (int k = 0; k < tovik::kBlocksPerPacket; ++k) {
      const uint32_t r = rng() % 200;
      if (!standing) az = r < 2 ? rng() % 36000 : (az + (k % 2 ? 0 : 700)) % 36000;
      b.azimuth(k, uint16_t(r == 3 && !standing ? 36000 + rng() % 1000 : az));
    }
    stream.push_back(b.image());
  }
  return stream;
}

// The cutter finds the revolutions with the rule the assembler closes them by: same blocks, same
// drops at the cap.
TEST(ConvertPipeline, CutterClosesWhereTheAssemblerDoes) {
  const std::vector<tovik::test::PacketImage> stream = jumpyStream();
  using Layout = tovik::OfflineAssembler::Layout;
  for (Layout layout : {Layout::Single, Layout::Dual}) {
    for (int echo : {0, 1, 2}) {
      tovik::OfflineAssembler a(layout);
      a.setEchoCode(echo);
      tovik::RevolutionCutter cutter(layout, echo);
      size_t closes = 0, drops = 0;
      for (size_t i = 0; i < stream.size(); ++i) {
        if (!a.beginPacket(stream[i].data())) continue;
        for (int k = 0; k < tovik::kBlocksPerPacket; ++k) {
          const uint64_t capped = a.cappedRevolutions();
          const bool closed = a.addBlock(k, +1);
          if (closed) a.takeFrame();
          const auto e = cutter.addBlock(k, tovik::rawBlockAzimuth(stream[i].data(), k));
          using Event = tovik::RevolutionCutter::Event;
          const Event want = closed                           ? Event::Closed
                             : a.cappedRevolutions() > capped ? Event::Dropped
                                                              : Event::None;
          ASSERT_EQ(e, want) << "packet " << i << " block " << k << " echo " << echo;
          closes += closed;
          drops += want == Event::Dropped;
        }
      }
      EXPECT_GT(closes, 20u);
      EXPECT_EQ(drops, 1u);
    }
  }
}

// --stats counts without decoding: per revolution the points and filtered rows of decoding.
TEST(ConvertPipeline, CounterGivesTheCountsOfDecoding) {
  const std::vector<tovik::test::PacketImage> stream = jumpyStream();
  struct Filter {
    uint16_t channels;
    float lo, hi;
  };
  using Layout = tovik::OfflineAssembler::Layout;
  for (Layout layout : {Layout::Single, Layout::Dual}) {
    for (int echo : {0, 1, 2}) {
      for (const Filter f : {Filter{0xFFFF, 0, 360}, Filter{0x8021, 0, 360},
                             Filter{0x8021, 30.5f, 200}, Filter{0xFFFF, 359.5f, 400}}) {
        SCOPED_TRACE(std::to_string(int(layout)) + " echo " + std::to_string(echo) + " " +
                     std::to_string(f.channels) + " " + std::to_string(f.lo));
        tovik::csv::RowOptions rows;
        rows.channels = f.channels;
        rows.angleMin = f.lo;
        rows.angleMax = f.hi;
        tovik::OfflineAssembler a(layout);
        a.setEchoCode(echo);
        tovik::RevolutionCounter counter(layout, echo, f.channels, f.lo, f.hi);
        std::vector<std::pair<uint64_t, uint64_t>> decoded, counted;
        std::vector<LidarData> frames;
        uint64_t drops = 0;
        for (const auto& image : stream) {
          frames.clear();
          a.addPacket(image.data(), +1, frames);
          for (const LidarData& frame : frames)
            decoded.emplace_back(frame.totalPoints(), tovik::csv::countRows(frame, rows));
          if (!tovik::isPointPacket(image.data())) continue;
          for (int k = 0; k < tovik::kBlocksPerPacket; ++k) {
            const auto e = counter.addBlock(k, tovik::rawBlockAzimuth(image.data(), k));
            if (e == tovik::RevolutionCutter::Event::Closed)
              counted.emplace_back(counter.points(), counter.rows());
            drops += e == tovik::RevolutionCutter::Event::Dropped;
          }
        }
        EXPECT_GT(decoded.size(), 20u);
        EXPECT_TRUE(decoded == counted) << decoded.size() << " vs " << counted.size();
        EXPECT_EQ(drops, a.cappedRevolutions());
      }
    }
  }
}

#ifdef TOVIK_HAVE_SIM
// A capture of the simulated lidar in its room (x -7..13 m, y -5..7 m, floor 1.2 m below the
// sensor, ceiling 1.8 m above): four revolutions at 600 rpm, device packets in between.
TEST_F(ConvertTest, SimulatorCaptureLandsInsideTheRoom) {
  for (bool dual : {false, true}) {
    SCOPED_TRACE(dual ? "dual-return" : "single-return");
    tovik::sim::RunOptions o;
    o.sim.dualReturn = dual;
    o.revolutionLimit = 4;
    o.withDevicePackets = true;
    o.quiet = true;
    const fs::path file = path(dual ? "sim-dual.pcap" : "sim-single.pcap");
    tovik::sim::RunStats st;
    {
      std::ofstream out(file, std::ios::binary);
      std::string error;
      ASSERT_TRUE(tovik::sim::writeCapture(o, out, &st, &error)) << error;
    }
    std::vector<std::string> args = {file.string()};
    if (dual) args.insert(args.end(), {"--sensor", "Tovik16-2", "--echo", "0"});

    std::vector<std::string> statsArgs = args;
    statsArgs.push_back("--stats");
    const RunResult stats = run(statsArgs);
    ASSERT_EQ(stats.status, 0) << stats.err;
    EXPECT_NE(stats.out.find("revolutions: 4\n"), std::string::npos) << stats.out;
    EXPECT_NE(stats.out.find("point packets: " + std::to_string(st.pointSent) + "\n"),
              std::string::npos)
        << stats.out;
    EXPECT_NE(stats.out.find("device packets: " + std::to_string(st.devicePackets) + "\n"),
              std::string::npos)
        << stats.out;

    const RunResult r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const Csv csv = parseCsv(r.out);
    ASSERT_EQ(csv.rowsPerFrame.size(), 4u);
    // 0.36 degrees per firing position: 1000 positions a revolution, 32 points each, twice that
    // with both echoes merged.
    const double perFrame = dual ? 64000 : 32000;
    for (const auto& [id, rows] : csv.rowsPerFrame) {
      EXPECT_NEAR(double(rows), perFrame, perFrame * 0.02) << "FreamID " << id;
    }
    size_t hits = 0, outside = 0;
    for (const auto& row : csv.rows) {
      if (std::strtod(row[7].c_str(), nullptr) == 0.0) continue;
      ++hits;
      const double x = std::strtod(row[1].c_str(), nullptr);
      const double y = std::strtod(row[2].c_str(), nullptr);
      const double z = std::strtod(row[3].c_str(), nullptr);
      outside += !(x > -7.1 && x < 13.1 && y > -5.1 && y < 7.1 && z > -1.3 && z < 1.9);
    }
    EXPECT_GT(hits, csv.rows.size() * 9 / 10);  // a closed room answers nearly every beam
    EXPECT_EQ(outside, 0u);
  }
}
#endif

// The rows of FreamIDs first..last of a whole conversion, under its header.
std::string slice(const std::string& whole, int first, int last) {
  std::string out;
  for (const std::string& line : splitLines(whole)) {
    const int id = std::atoi(line.c_str());
    if (line.rfind("FreamID", 0) == 0 || (id >= first && id <= last)) out += line + "\n";
  }
  return out;
}

TEST_F(ConvertTest, RevolutionRangeIsTheSliceOfTheWholeOutput) {
  const RunResult whole = run({capture(), "--channels", "2,7"});
  ASSERT_EQ(whole.status, 0) << whole.err;
  ASSERT_EQ(parseCsv(whole.out).rowsPerFrame.size(), 3u);
  struct Range {
    std::vector<std::string> args;
    int first, last;
  };
  for (const Range& r :
       {Range{{"--revolutions", "2:3"}, 2, 3}, Range{{"--revolutions", "3:3"}, 3, 3},
        Range{{"--revolutions", "2:"}, 2, 3},
        Range{{"--revolutions", "1:3", "--frames", "2"}, 1, 2},
        Range{{"--revolutions", "4:9"}, 4, 0}}) {
    for (const char* threads : {"0", "2"}) {
      std::vector<std::string> args = {capture(), "--channels", "2,7", "--threads", threads};
      args.insert(args.end(), r.args.begin(), r.args.end());
      const RunResult got = run(args);
      ASSERT_EQ(got.status, 0) << got.err;
      EXPECT_EQ(got.out, slice(whole.out, r.first, r.last)) << r.args[1] << ", " << threads;
    }
  }
}

// The points of every PCD or PLY file, read back through PCL, against the CSV rows of the same
// revolution.
void expectCloudsHoldTheRows(const Csv& csv, const std::function<fs::path(int)>& fileOf, bool ply) {
  size_t row = 0;
  for (const auto& [id, rows] : csv.rowsPerFrame) {
    SCOPED_TRACE("FreamID " + std::to_string(id));
    pcl::PCLPointCloud2 cloud;
    const fs::path file = fileOf(id);
    ASSERT_EQ(ply ? pcl::io::loadPLYFile(file.string(), cloud)
                  : pcl::io::loadPCDFile(file.string(), cloud),
              0)
        << file;
    ASSERT_EQ(size_t(cloud.width) * cloud.height, rows);
    pcl::PointCloud<pcl::PointXYZ> xyz;
    pcl::fromPCLPointCloud2(cloud, xyz);
    const auto channel =
        std::find_if(cloud.fields.begin(), cloud.fields.end(),
                     [](const pcl::PCLPointField& f) { return f.name == "channel"; });
    ASSERT_NE(channel, cloud.fields.end());
    ASSERT_EQ(channel->datatype, pcl::PCLPointField::UINT8);
    size_t bad = 0;
    for (size_t i = 0; i < rows; ++i, ++row) {
      const auto& want = csv.rows[row];
      const uint8_t ch = cloud.data[i * cloud.point_step + channel->offset];
      const double got[3] = {xyz[i].x, xyz[i].y, xyz[i].z};
      for (int c = 0; c < 3; ++c) {
        const double v = std::strtod(want[1 + c].c_str(), nullptr);
        bad += std::fabs(v - got[c]) > 5e-6 * std::fabs(got[c]) + 1e-9;
      }
      bad += std::to_string(ch) != want[5];
    }
    EXPECT_EQ(bad, 0u);
  }
  EXPECT_EQ(row, csv.rows.size());
}

TEST_F(ConvertTest, PcdAndPlyFilesHoldTheCsvPointsOfEachRevolution) {
  const std::vector<std::string> filters = {"--channels", "0,5,15", "--azimuth", "30:300"};
  std::vector<std::string> args = {capture()};
  args.insert(args.end(), filters.begin(), filters.end());
  const RunResult csvRun = run(args);
  ASSERT_EQ(csvRun.status, 0) << csvRun.err;
  const Csv csv = parseCsv(csvRun.out);
  ASSERT_EQ(csv.rowsPerFrame.size(), 3u);

  const fs::path folder = path("clouds");
  fs::create_directories(folder);
  for (const char* threads : {"0", "2"}) {
    std::vector<std::string> pcd = args;
    pcd.insert(pcd.end(), {"--format", "pcd", "--threads", threads, "-o", folder.string()});
    const RunResult pcdRun = run(pcd);
    ASSERT_EQ(pcdRun.status, 0) << pcdRun.err;
    EXPECT_EQ(pcdRun.out, "");
    expectCloudsHoldTheRows(
        csv,
        [&](int id) {
          char name[32];
          std::snprintf(name, sizeof name, "three_%05d.pcd", id);
          return folder / name;
        },
        false);

    std::vector<std::string> ply = args;
    ply.insert(ply.end(),
               {"--format", "ply", "--threads", threads, "-o", (folder / "rev%d.ply").string()});
    const RunResult plyRun = run(ply);
    ASSERT_EQ(plyRun.status, 0) << plyRun.err;
    expectCloudsHoldTheRows(
        csv, [&](int id) { return folder / ("rev" + std::to_string(id) + ".ply"); }, true);
    EXPECT_FALSE(fs::exists(folder / "rev4.ply"));  // the open revolution is not written
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
}

#ifdef TOVIK_HAVE_SIM
// Without --sensor, --degree and --resolution the capture's device packets decide; without device
// packets the layout is judged from the point packets.
TEST_F(ConvertTest, SensorAutoDecodesAsTheDeviceWasSet) {
  for (bool dual : {false, true}) {
    for (bool withDevice : {true, false}) {
      SCOPED_TRACE(std::string(dual ? "dual" : "single") + (withDevice ? ", device packets" : ""));
      tovik::sim::RunOptions o;
      o.sim.dualReturn = dual;
      o.sim.degreeMode = tovik::kDegree133;
      o.sim.accuaryMode = tovik::kResolution04;
      o.revolutionLimit = 3;
      o.withDevicePackets = withDevice;
      o.quiet = true;
      const fs::path file = path("auto.pcap");
      {
        std::ofstream out(file, std::ios::binary);
        std::string error;
        ASSERT_TRUE(tovik::sim::writeCapture(o, out, nullptr, &error)) << error;
      }
      const RunResult automatic = run({file.string()});
      ASSERT_EQ(automatic.status, 0) << automatic.err;
      std::vector<std::string> args = {file.string(), "--sensor", dual ? "Tovik16-2" : "Tovik16-1"};
      if (withDevice) {
        EXPECT_EQ(automatic.err, "");
        args.insert(args.end(), {"--degree", "1", "--resolution", "1"});
      } else {
        EXPECT_NE(automatic.err.find(dual ? "Tovik16-2" : "Tovik16-1"), std::string::npos)
            << automatic.err;
      }
      const RunResult explicitly = run(args);
      ASSERT_EQ(explicitly.status, 0) << explicitly.err;
      EXPECT_EQ(explicitly.err, "");
      EXPECT_TRUE(automatic.out == explicitly.out);
      const Csv csv = parseCsv(automatic.out);
      EXPECT_EQ(csv.rowsPerFrame.size(), 3u);
      // The simulated device reports its own calibrated angle for channel 1: with device packets
      // the rows sit on it; without, nothing tells the table and the 2 degree one (1 degree up)
      // is used.
      const double deviceAngle = tovik::sim::initialState(o.sim).verticalAngleDeg(1);
      ASSERT_NE(deviceAngle, double(tovik::nominalVerticalAngles(tovik::kDegree133)[1]));
      const double v = (withDevice ? deviceAngle : 1.0) * 3.14159 / 180.0;
      size_t checked = 0, off = 0;
      for (const auto& row : csv.rows) {
        if (row[5] != "1") continue;
        const double d = std::strtod(row[7].c_str(), nullptr) * 100;
        ++checked;
        off += std::fabs(std::strtod(row[3].c_str(), nullptr) - (d * std::sin(v) + 0.426) / 100) >
               2e-5;
      }
      EXPECT_GT(checked, 1000u);
      EXPECT_EQ(off, 0u);
    }
  }
}
#endif

}  // namespace
