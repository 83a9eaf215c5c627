// Point cloud files of revolutions: binary PCD and binary little-endian PLY, written with PCL's
// own writers so that PCL, CloudCompare and Open3D read them.
//
// Every point carries the fields of a CSV row that a cloud can hold: x, y, z, intensity, channel,
// azimuth and time. The points of a revolution are the CSV export's points, in its order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "acquisition/csv_writer.h"
#include "acquisition/geometry.h"
#include "acquisition/lidar_data.h"

namespace tovik {

enum class CloudFormat { Pcd, Ply };

struct CloudPoint {
  float x, y, z;     // metres
  float intensity;   // 0..255
  uint16_t channel;  // the CSV "channel" column: channelNumber of the channel index
  float azimuth;     // degrees
  double time;       // adjustedTime, microseconds on the device clock
};

// Writes points to path. Returns false with *error set (the OS reason) when the file cannot
// be written. A file of no points is valid and says so in its header.
bool writeCloudFile(const std::string& path, CloudFormat format,
                    const std::vector<CloudPoint>& points, std::string* error);

// Appends the points of one revolution as the CSV export places them (same geometry, same
// channel/azimuth filters, same rows left out), so PCD/PLY give the points the CSV gives.
void appendCloudPoints(const LidarData& frame, const AngleTable& angles,
                       const csv::RowOptions& options, std::vector<CloudPoint>* out);

// The file name extension of a format, without the dot: "pcd" or "ply".
const char* cloudExtension(CloudFormat format);

}  // namespace tovik
