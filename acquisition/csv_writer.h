// CSV rows of the point export: one header line, then one line per written point of a revolution.
//
// The writer only appends text to a caller's buffer; opening, flushing and closing files is the
// caller's business, so the same rows serve the viewer's export, the converter and the tests.
//
// Numbers are printed byte for byte as the C library prints them: floating values as
// printf("%g", double(value)) prints them (6 significant digits, trailing zeros removed, "1e-05",
// "-0", "nan", "inf"), integers in plain decimal.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "acquisition/geometry.h"
#include "acquisition/lidar_data.h"

namespace tovik::csv {

// The header line, without its line end. "FreamID" is spelled so on purpose: files written by
// earlier exports carry that word and readers look for it.
inline constexpr char kHeader[] =
    "FreamID,Points_X,Points_Y,Points_Z,intensity,channel,azimuth,distance,adjustedtime,"
    "timestamp";

// Bit k set: channel index k is written.
constexpr uint16_t kAllChannels = 0xFFFF;

struct RowOptions {
  int accuaryMode = kResolution025;  // AccuaryMode: 0.25 cm or 0.4 cm per raw count
  float angleMin = 0.0f;             // degrees; a point is written when angleMin <= A <= angleMax
  float angleMax = 360.0f;
  uint16_t channels = kAllChannels;  // channel indices to write, always in index order 0..15
  // The value of the "channel" column for each channel index.
  std::array<int, kChannelCount> channelNumber = {0, 1, 2,  3,  4,  5,  6,  7,
                                                  8, 9, 10, 11, 12, 13, 14, 15};
};

// The mask of a list of channel indices; values outside 0..15 are ignored.
template <typename List>
uint16_t channelMask(const List& indices) {
  uint16_t mask = 0;
  for (const auto& k : indices) {
    if (k >= 0 && k < kChannelCount) mask = uint16_t(mask | (1u << k));
  }
  return mask;
}

// Appends the header line and its "\n".
void appendHeader(std::string& out);

// Appends one "\n"-terminated row per point of frame that the options select and returns the
// number of rows. Per point: d = the raw distance scaled to centimetres, held as float; x, y, z in
// metres by pointPosition with the channel's angle from verticalAngles; the row is
// FreamID, x, y, z, intensity, channelNumber[k], azimuth, d / 100 (metres), adjustedTime,
// adjustedTime. Points of distance 0 are written. Each channel is read up to
// frame.pointCount(k), so lists of uneven length are never overrun.
size_t appendRevolution(std::string& out, const LidarData& frame, int freamId,
                        const AngleTable& verticalAngles, const RowOptions& options);

// The number of rows appendRevolution() would write for frame, without formatting them.
size_t countRows(const LidarData& frame, const RowOptions& options);

// The longest text formatGeneral() produces ("-1.23457e+308").
constexpr size_t kGeneralMaxChars = 13;
// The longest text formatUnsigned() / formatSigned() produce ("-9223372036854775808").
constexpr size_t kIntegerMaxChars = 20;

// The room formatGeneral() needs at out: it may store scratch bytes past the text it returns.
constexpr size_t kGeneralRoom = 16;

// Writes value as printf("%g", value) would, without a terminating NUL, and returns the number of
// characters. out must have room for kGeneralRoom bytes.
size_t formatGeneral(double value, char* out);

// The room formatUnsigned() / formatSigned() need at out: they may store scratch bytes past the
// text they return.
constexpr size_t kIntegerRoom = kIntegerMaxChars + 1;

// Decimal digits of value (with a leading '-' when negative), no NUL; returns the count. out must
// have room for kIntegerRoom bytes.
size_t formatUnsigned(uint64_t value, char* out);
size_t formatSigned(int64_t value, char* out);

}  // namespace tovik::csv
