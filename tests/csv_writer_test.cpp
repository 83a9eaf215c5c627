// CSV rows and the number formatting behind them. Every expected number is printed here with the
// C library (snprintf), which the writer's own formatting must match byte for byte.
#include "acquisition/csv_writer.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using tovik::AngleTable;
using tovik::csv::appendHeader;
using tovik::csv::appendRevolution;
using tovik::csv::formatGeneral;
using tovik::csv::RowOptions;

std::string libcG(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

std::string fastG(double v) {
  char buf[tovik::csv::kGeneralMaxChars + 8];
  std::memset(buf, 'X', sizeof buf);
  const size_t n = formatGeneral(v, buf);
  EXPECT_LE(n, tovik::csv::kGeneralMaxChars);
  return std::string(buf, n);
}

// Compares the fast formatter with snprintf over count values from next(); stops reporting after
// a few mismatches so a broken build does not flood the log.
template <typename Gen>
void sweep(const char* name, size_t count, Gen next) {
  SCOPED_TRACE(name);
  int failures = 0;
  for (size_t i = 0; i < count && failures < 10; ++i) {
    const double v = next();
    const std::string want = libcG(v);
    const std::string got = fastG(v);
    if (want != got) {
      ++failures;
      ADD_FAILURE() << "value " << std::hexfloat << v << ": printf gives " << want << ", got "
                    << got;
    }
  }
}

float floatFromBits(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

double doubleFromBits(uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

TEST(CsvHeader, ExactLine) {
  std::string out = "keep";
  appendHeader(out);
  EXPECT_EQ(out,
            "keepFreamID,Points_X,Points_Y,Points_Z,intensity,channel,azimuth,distance,"
            "adjustedtime,timestamp\n");
}

// Values where a %g formatter typically goes wrong, with the text printf gives for them.
TEST(FormatGeneral, NastyValuesMatchPrintf) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {0.0, "0"},
      {-0.0, "-0"},
      {1.0, "1"},
      {-1.5, "-1.5"},
      {100000.0, "100000"},
      {999999.0, "999999"},
      {999999.5, "1e+06"},  // rounds up into a new power of ten: exponent form
      {999999.4, "999999"},
      {1000000.0, "1e+06"},
      {1500000.0, "1.5e+06"},
      {123456.5, "123456"},  // exact tie: to even
      {123457.5, "123458"},  // exact tie: to even
      {1234565.0, "1.23456e+06"},
      {1234575.0, "1.23458e+06"},
      {10.09375, "10.0938"},  // azimuth interpolation step, exact in binary, a tie
      {10.03125, "10.0312"},
      {0.0001, "0.0001"},
      {0.00001, "1e-05"},
      {9.999995e-05, "0.0001"},
      {9.9999949e-05, "9.99999e-05"},
      {0.000123456789, "0.000123457"},
      {359.99, "359.99"},
      {4.376, "4.376"},
      {0.1, "0.1"},
      {1e22, "1e+22"},
      {1e23, "1e+23"},
      {-3.4028234663852886e38, "-3.40282e+38"},
      {1e-300, "1e-300"},
      {4.9406564584124654e-324, "4.94066e-324"},
      {1.17549435e-38, "1.17549e-38"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(libcG(c.value));
    EXPECT_EQ(libcG(c.value), c.text);  // guards the table itself
    EXPECT_EQ(fastG(c.value), c.text);
  }
  // glibc prints the sign of a NaN too ("-nan").
  for (double nan :
       {std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_EQ(fastG(nan), libcG(nan));
  }
}

// Around every power of ten and every 6-digit rounding boundary just below it, in both
// precisions, one and a few ulps either side.
TEST(FormatGeneral, NeighboursOfPowersOfTenMatchPrintf) {
  std::vector<double> values;
  for (int e = -45; e <= 38; ++e) {
    for (double base : {std::pow(10.0, e), 9.999995 * std::pow(10.0, e - 1),
                        9.999985 * std::pow(10.0, e - 1), 1.000005 * std::pow(10.0, e)}) {
      double up = base, down = base;
      float upF = float(base), downF = float(base);
      for (int step = 0; step < 4; ++step) {
        values.insert(values.end(), {up, down, double(upF), double(downF)});
        up = std::nextafter(up, HUGE_VAL);
        down = std::nextafter(down, -HUGE_VAL);
        upF = std::nextafter(upF, HUGE_VALF);
        downF = std::nextafter(downF, -HUGE_VALF);
      }
    }
  }
  size_t i = 0;
  sweep("powers of ten", values.size() * 2, [&] {
    const double v = values[i / 2];
    return (i++ & 1) ? -v : v;
  });
}

// Every float of the form n / 2^m in the data's ranges is exact in binary, so many of them sit
// exactly half-way between two 6-digit decimals.
TEST(FormatGeneral, ExactBinaryTiesMatchPrintf) {
  for (int m : {1, 2, 3, 5, 6, 7, 10}) {
    const double step = std::ldexp(1.0, -m);
    const double limit = m == 1 ? 1.0e6 : m <= 3 ? 1.0e5 : 1000.0;
    double v = 0;
    sweep("binary fractions", size_t(limit / step), [&] { return v += step; });
  }
  uint64_t n = 100000;
  sweep("integer ties", 900000, [&] { return double(n++) * 10 + 5; });
}

TEST(FormatGeneral, RandomSweepsMatchPrintf) {
  std::mt19937_64 rng(20240601);
  std::uniform_real_distribution<double> coordinate(-200.0, 200.0);
  std::uniform_real_distribution<double> azimuth(0.0, 360.0);
  std::uniform_real_distribution<double> range(0.0, 600.0);
  std::uniform_real_distribution<double> tiny(-1e-3, 1e-3);
  std::uniform_real_distribution<double> logMagnitude(-50.0, 40.0);

  sweep("float bit patterns", 2000000, [&] { return double(floatFromBits(uint32_t(rng()))); });
  sweep("double bit patterns", 1000000, [&] { return doubleFromBits(rng()); });
  sweep("coordinates (float)", 1000000, [&] { return double(float(coordinate(rng))); });
  sweep("azimuths (float)", 1000000, [&] { return double(float(azimuth(rng))); });
  sweep("distances in metres (float)", 500000, [&] {
    const float dCm = float(double(rng() % 65536) / ((rng() & 1) ? 4.0 : 2.5));
    return double(dCm / 100);
  });
  sweep("ranges (double)", 500000, [&] { return range(rng); });
  sweep("near zero (float)", 500000, [&] { return double(float(tiny(rng))); });
  sweep("log-uniform magnitudes", 1000000, [&] {
    const double v = std::pow(10.0, logMagnitude(rng));
    return (rng() & 1) ? -v : v;
  });
}

TEST(FormatIntegers, MatchPrintf) {
  const uint64_t unsignedCases[] = {
      0, 1, 9, 10, 99, 100, 999, 1000, 4294967295u, 4294967296u, UINT64_MAX / 10, UINT64_MAX};
  const int64_t signedCases[] = {0, -1, 1, -9, -10, 255, -2147483648LL, INT64_MAX, INT64_MIN};
  char buf[32];
  char want[32];
  for (uint64_t v : unsignedCases) {
    std::snprintf(want, sizeof want, "%" PRIu64, v);
    EXPECT_EQ(std::string(buf, tovik::csv::formatUnsigned(v, buf)), want);
  }
  for (int64_t v : signedCases) {
    std::snprintf(want, sizeof want, "%" PRId64, v);
    EXPECT_EQ(std::string(buf, tovik::csv::formatSigned(v, buf)), want);
  }
  std::mt19937_64 rng(7);
  for (int i = 0; i < 200000; ++i) {
    const uint64_t v = rng() >> (rng() % 64);
    std::snprintf(want, sizeof want, "%" PRIu64, v);
    ASSERT_EQ(std::string(buf, tovik::csv::formatUnsigned(v, buf)), want);
    const int64_t s = int64_t(v) * ((i & 1) ? -1 : 1);
    std::snprintf(want, sizeof want, "%" PRId64, s);
    ASSERT_EQ(std::string(buf, tovik::csv::formatSigned(s, buf)), want);
  }
}

// ---- rows of a revolution ----

struct Point {
  float raw;
  int intensity;
  float azimuth;
  uint64_t time;
};

void addPoint(LidarData& f, int ch, const Point& p) {
  f.distance[ch].push_back(p.raw);
  f.intensity[ch].push_back(p.intensity);
  f.azimuth[ch].push_back(p.azimuth);
  f.adjustedTime[ch].push_back(p.time);
}

std::vector<std::vector<std::string>> parseRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream cells(line);
    std::string cell;
    while (std::getline(cells, cell, ',')) fields.push_back(cell);
    rows.push_back(fields);
  }
  return rows;
}

AngleTable zeroAngles() {
  AngleTable t{};
  return t;
}

// Rows worked out by hand from the optics: the optical centre is 4.376 cm from the axis at 14.67
// degrees and 0.426 cm up, pi taken as 3.14159.
TEST(CsvRows, KnownGeometry) {
  const double rad = 3.14159 / 180.0;
  LidarData f;
  addPoint(f, 3, {4000.0f, 17, 0.0f, 123456789012ull});  // 1000 cm straight ahead, V = 0
  addPoint(f, 3, {800.0f, 255, 90.0f, 5});               // 200 cm at A = 90
  addPoint(f, 5, {2000.0f, 0, 45.5f, 7});                // 500 cm on a V = 10 channel
  AngleTable angles = zeroAngles();
  angles[5] = 10.0f;

  std::string out;
  ASSERT_EQ(appendRevolution(out, f, 42, angles, RowOptions{}), 3u);
  const auto rows = parseRows(out);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(out.back(), '\n');

  const double cx = 4.376 * std::cos(14.67 * rad), sx = 4.376 * std::sin(14.67 * rad);
  // A = 0, V = 0: x = (d + 4.376 cos 14.67) / 100, y = 4.376 sin 14.67 / 100, z = 0.426 / 100.
  EXPECT_EQ(rows[0], (std::vector<std::string>{"42", libcG(float((1000.0 + cx) / 100)),
                                               libcG(float(sx / 100)), libcG(float(0.00426)), "17",
                                               "3", "0", "10", "123456789012", "123456789012"}));
  // A = 90: y = (-d + 4.376 sin(14.67 - 90)) / 100 is negative.
  const double a90 = 90 * rad, b90 = (14.67 - 90) * rad;
  EXPECT_EQ(rows[1], (std::vector<std::string>{
                         "42", libcG(float((200.0 * std::cos(a90) + 4.376 * std::cos(b90)) / 100)),
                         libcG(float((-200.0 * std::sin(a90) + 4.376 * std::sin(b90)) / 100)),
                         libcG(float(0.00426)), "255", "3", "90", "2", "5", "5"}));
  EXPECT_EQ(rows[1][2].front(), '-');
  // General case.
  const double a = 45.5 * rad, b = (14.67 - 45.5) * rad, v = double(10.0f) * rad;
  EXPECT_EQ(
      rows[2],
      (std::vector<std::string>{
          "42", libcG(float((500.0 * std::cos(v) * std::cos(a) + 4.376 * std::cos(b)) / 100)),
          libcG(float((-500.0 * std::cos(v) * std::sin(a) + 4.376 * std::sin(b)) / 100)),
          libcG(float((500.0 * std::sin(v) + 0.426) / 100)), "0", "5", "45.5", "5", "7", "7"}));
  EXPECT_EQ(rows[0][1], "10.0423");  // a number read off a calculator, not just the formula again
}

TEST(CsvRows, DistanceResolutionScalesCountsToCentimetres) {
  struct Case {
    int accuaryMode;
    float raw;
    const char* metres;  // the "distance" column
  };
  const Case cases[] = {{0, 1000.0f, "2.5"}, {1, 1000.0f, "4"},        {0, 1.0f, "0.0025"},
                        {1, 1.0f, "0.004"},  {0, 65535.0f, "163.837"}, {1, 65535.0f, "262.14"}};
  for (const Case& c : cases) {
    LidarData f;
    addPoint(f, 0, {c.raw, 1, 0.0f, 0});
    RowOptions o;
    o.accuaryMode = c.accuaryMode;
    std::string out;
    appendRevolution(out, f, 1, zeroAngles(), o);
    const auto rows = parseRows(out);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][7], c.metres) << "mode " << c.accuaryMode << " raw " << c.raw;
    const float dCm = float(c.accuaryMode == 1 ? c.raw / 2.5 : c.raw / 4.0);
    EXPECT_EQ(rows[0][7], libcG(dCm / 100));
  }
}

TEST(CsvRows, AzimuthRangeIsInclusiveAtBothEnds) {
  LidarData f;
  for (float a : {9.99f, 10.0f, 15.0f, 20.0f, 20.01f, 359.99f}) addPoint(f, 0, {4.0f, 1, a, 0});
  RowOptions o;
  o.angleMin = 10.0f;
  o.angleMax = 20.0f;
  std::string out;
  EXPECT_EQ(appendRevolution(out, f, 1, zeroAngles(), o), 3u);
  const auto rows = parseRows(out);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][6], "10");
  EXPECT_EQ(rows[1][6], "15");
  EXPECT_EQ(rows[2][6], "20");

  o.angleMin = 0.0f;
  o.angleMax = 360.0f;
  out.clear();
  EXPECT_EQ(appendRevolution(out, f, 1, zeroAngles(), o), 6u);
}

TEST(CsvRows, ChannelFilterWritesSelectedIndicesInIndexOrder) {
  LidarData f;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    addPoint(f, ch, {4.0f, ch, 1.0f, 0});
    addPoint(f, ch, {8.0f, ch, 2.0f, 0});
  }
  RowOptions o;
  o.channels = tovik::csv::channelMask(std::vector<int>{15, 0, 99, -1});
  EXPECT_EQ(o.channels, 0x8001);
  std::string out;
  EXPECT_EQ(appendRevolution(out, f, 1, zeroAngles(), o), 4u);
  const auto rows = parseRows(out);
  ASSERT_EQ(rows.size(), 4u);
  const char* expectChannel[] = {"0", "0", "15", "15"};
  const char* expectIntensity[] = {"0", "0", "15", "15"};
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i][5], expectChannel[i]);
    EXPECT_EQ(rows[i][4], expectIntensity[i]);
  }

  o.channels = 0;
  out.clear();
  EXPECT_EQ(appendRevolution(out, f, 1, zeroAngles(), o), 0u);
  EXPECT_TRUE(out.empty());
}

// The channel column carries channelNumber of the index; the vertical angle still follows the
// index.
TEST(CsvRows, ChannelNumberMapsTheChannelColumn) {
  const int rowOrder[16] = {0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15};
  LidarData f;
  AngleTable angles = zeroAngles();
  for (int ch = 0; ch < kChannelCount; ++ch) {
    addPoint(f, ch, {400.0f, 1, 0.0f, 0});
    angles[ch] = float(ch);  // distinct z per index
  }
  RowOptions o;
  for (int ch = 0; ch < kChannelCount; ++ch) o.channelNumber[ch] = rowOrder[ch] + 100;
  std::string out;
  appendRevolution(out, f, 1, angles, o);
  const auto rows = parseRows(out);
  ASSERT_EQ(rows.size(), 16u);
  const double rad = 3.14159 / 180.0;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    EXPECT_EQ(rows[ch][5], std::to_string(rowOrder[ch] + 100));
    EXPECT_EQ(rows[ch][3], libcG(float((100.0 * std::sin(double(float(ch)) * rad) + 0.426) / 100)));
  }
}

TEST(CsvRows, DistanceZeroPointsAreWritten) {
  LidarData f;
  addPoint(f, 2, {0.0f, 0, 0.0f, 0});
  std::string out;
  EXPECT_EQ(appendRevolution(out, f, 7, zeroAngles(), RowOptions{}), 1u);
  const double rad = 3.14159 / 180.0;
  const std::string want = "7," + libcG(float(4.376 * std::cos(14.67 * rad) / 100)) + "," +
                           libcG(float(4.376 * std::sin(14.67 * rad) / 100)) + "," +
                           libcG(float(0.00426)) + ",0,2,0,0,0,0\n";
  EXPECT_EQ(out, want);
}

// A frame whose lists differ in length (backward playback closing at block 0 leaves points with
// no azimuth) is read only up to its shortest list; run under ASan this also catches overreads.
TEST(CsvRows, UnevenListsStopAtTheShortest) {
  for (int shortList = 0; shortList < 4; ++shortList) {
    LidarData f;
    for (int i = 0; i < 5; ++i) addPoint(f, 4, {4.0f * i, i, float(i), uint64_t(i)});
    switch (shortList) {
      case 0:
        f.distance[4].resize(3);
        break;
      case 1:
        f.intensity[4].resize(3);
        break;
      case 2:
        f.azimuth[4].resize(3);
        break;
      case 3:
        f.adjustedTime[4].resize(3);
        break;
    }
    f.distance[4].shrink_to_fit();
    f.intensity[4].shrink_to_fit();
    f.azimuth[4].shrink_to_fit();
    f.adjustedTime[4].shrink_to_fit();
    std::string out;
    EXPECT_EQ(appendRevolution(out, f, 1, zeroAngles(), RowOptions{}), 3u) << shortList;
    EXPECT_EQ(parseRows(out).size(), 3u);
  }
}

// A revolution much larger than the writer's internal chunk, compared row by row with rows
// printed by snprintf from the same geometry.
TEST(CsvRows, LargeRevolutionMatchesPrintfRows) {
  std::mt19937 rng(99);
  LidarData f;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    for (int i = 0; i < 2000; ++i) {
      addPoint(f, ch,
               {float(rng() % 65536), int(rng() % 256), float(rng() % 36000) / 100.0f,
                uint64_t(rng()) * 1000u});
    }
  }
  const AngleTable angles = tovik::nominalVerticalAngles(tovik::kDegree133);
  RowOptions o;
  o.accuaryMode = tovik::kResolution04;
  o.angleMin = 30.0f;
  o.angleMax = 300.0f;
  o.channels = 0x7FFE;
  const tovik::ChannelTrig trig = tovik::channelTrig(angles);

  std::string want;
  char line[256];
  size_t wantRows = 0;
  for (int ch = 1; ch < 15; ++ch) {
    for (size_t i = 0; i < f.pointCount(ch); ++i) {
      const float a = f.azimuth[ch][i];
      if (a < 30.0f || a > 300.0f) continue;
      const float d = float(f.distance[ch][i] / 2.5);
      const tovik::PointXYZ p = tovik::pointPosition(d, a, trig.cosV[ch], trig.sinV[ch]);
      std::snprintf(line, sizeof line, "%d,%g,%g,%g,%d,%d,%g,%g,%" PRIu64 ",%" PRIu64 "\n", 123456,
                    p.x, p.y, p.z, f.intensity[ch][i], ch, a, d / 100, f.adjustedTime[ch][i],
                    f.adjustedTime[ch][i]);
      want += line;
      ++wantRows;
    }
  }
  std::string out = "prefix\n";
  EXPECT_EQ(appendRevolution(out, f, 123456, angles, o), wantRows);
  EXPECT_GT(wantRows, 20000u);
  ASSERT_EQ(out.size(), want.size() + 7);
  EXPECT_TRUE(out.compare(7, std::string::npos, want) == 0);
}

}  // namespace
