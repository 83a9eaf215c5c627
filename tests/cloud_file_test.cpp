// PCD and PLY files of a revolution, read back through PCL's own readers, against the CSV rows of
// the same revolution.
#include "acquisition/cloud_file.h"

#include <gtest/gtest.h>
#include <pcl/PCLPointCloud2.h>
#include <pcl/io/pcd_io.h>
#include <pcl/io/ply_io.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

using tovik::CloudFormat;
using tovik::CloudPoint;

struct CsvRow {
  double x, y, z;
  int intensity, channel;
  double azimuth;
  uint64_t time;
};

std::vector<CsvRow> parseRows(const std::string& text) {
  std::vector<CsvRow> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    CsvRow r{};
    int id = 0;
    double distance = 0;
    unsigned long long t = 0, t2 = 0;
    EXPECT_EQ(std::sscanf(line.c_str(), "%d,%lf,%lf,%lf,%d,%d,%lf,%lf,%llu,%llu", &id, &r.x, &r.y,
                          &r.z, &r.intensity, &r.channel, &r.azimuth, &distance, &t, &t2),
              10)
        << line;
    r.time = t;
    rows.push_back(r);
  }
  return rows;
}

// A field of a loaded cloud as double, whatever its stored type.
double fieldValue(const pcl::PCLPointCloud2& cloud, size_t point, const std::string& name) {
  for (const pcl::PCLPointField& f : cloud.fields) {
    if (f.name != name) continue;
    const uint8_t* p = cloud.data.data() + point * cloud.point_step + f.offset;
    switch (f.datatype) {
      case pcl::PCLPointField::FLOAT32: {
        float v;
        std::memcpy(&v, p, 4);
        return v;
      }
      case pcl::PCLPointField::FLOAT64: {
        double v;
        std::memcpy(&v, p, 8);
        return v;
      }
      case pcl::PCLPointField::UINT8:
        return *p;
      default:
        ADD_FAILURE() << name << " has datatype " << int(f.datatype);
        return NAN;
    }
  }
  ADD_FAILURE() << "no field " << name;
  return NAN;
}

// The CSV prints 6 significant digits.
void expectSixDigits(double csv, double cloud, const char* what, size_t i) {
  EXPECT_NEAR(csv, cloud, 5e-6 * std::fabs(cloud) + 1e-9) << what << " of point " << i;
}

std::string tempPath(const std::string& name) {
  return std::string(TOVIK_TEST_DATA_DIR) + "/" + std::to_string(getpid()) + "_" + name;
}

TEST(CloudFile, PcdAndPlyReadBackThroughPclAsTheCsvRows) {
  // Uneven channels, points on both azimuth bounds and outside them, a zero distance, a filtered
  // channel and a renumbered channel column.
  LidarData frame;
  const float azimuths[] = {9.99f, 10.0f, 45.5f, 123.25f, 200.0f, 200.01f, 359.9f};
  for (int k = 0; k < kChannelCount; ++k) {
    for (int i = 0; i < 1 + (k * 3) % 7; ++i) {
      frame.distance[k].push_back(i == 2 ? 0.0f : float(1000 + 137 * i + 11 * k));
      frame.intensity[k].push_back((17 * i + k) % 256);
      frame.azimuth[k].push_back(azimuths[(i + k) % 7]);
      frame.adjustedTime[k].push_back(1700000000000000ull + 55ull * i + k);
    }
  }
  tovik::csv::RowOptions options;
  options.accuaryMode = tovik::kResolution04;
  options.angleMin = 10.0f;
  options.angleMax = 200.0f;
  options.channels = uint16_t(tovik::csv::kAllChannels & ~(1u << 3));
  for (int k = 0; k < kChannelCount; ++k) options.channelNumber[k] = 15 - k;
  const tovik::AngleTable angles = tovik::nominalVerticalAngles(tovik::kDegree133);

  std::string text;
  tovik::csv::appendRevolution(text, frame, 1, angles, options);
  const std::vector<CsvRow> rows = parseRows(text);
  std::vector<CloudPoint> points;
  tovik::appendCloudPoints(frame, angles, options, &points);
  ASSERT_EQ(points.size(), rows.size());
  ASSERT_GT(rows.size(), 20u);

  for (CloudFormat format : {CloudFormat::Pcd, CloudFormat::Ply}) {
    SCOPED_TRACE(tovik::cloudExtension(format));
    const std::string path = tempPath(std::string("cloud.") + tovik::cloudExtension(format));
    std::string error;
    ASSERT_TRUE(tovik::writeCloudFile(path, format, points, &error)) << error;
    pcl::PCLPointCloud2 cloud;
    const int status = format == CloudFormat::Pcd ? pcl::io::loadPCDFile(path, cloud)
                                                  : pcl::io::loadPLYFile(path, cloud);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(size_t(cloud.width) * cloud.height, rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      expectSixDigits(rows[i].x, fieldValue(cloud, i, "x"), "x", i);
      expectSixDigits(rows[i].y, fieldValue(cloud, i, "y"), "y", i);
      expectSixDigits(rows[i].z, fieldValue(cloud, i, "z"), "z", i);
      expectSixDigits(rows[i].azimuth, fieldValue(cloud, i, "azimuth"), "azimuth", i);
      EXPECT_EQ(rows[i].intensity, fieldValue(cloud, i, "intensity")) << i;
      EXPECT_EQ(rows[i].channel, fieldValue(cloud, i, "channel")) << i;
      EXPECT_EQ(double(rows[i].time), fieldValue(cloud, i, "time")) << i;
    }
    unlink(path.c_str());
  }
}

TEST(CloudFile, EmptyCloudIsAFileAndAMissingFolderIsReported) {
  for (CloudFormat format : {CloudFormat::Pcd, CloudFormat::Ply}) {
    SCOPED_TRACE(tovik::cloudExtension(format));
    const std::string path = tempPath(std::string("empty.") + tovik::cloudExtension(format));
    std::string error;
    ASSERT_TRUE(tovik::writeCloudFile(path, format, {}, &error)) << error;
    pcl::PCLPointCloud2 cloud;
    const int status = format == CloudFormat::Pcd ? pcl::io::loadPCDFile(path, cloud)
                                                  : pcl::io::loadPLYFile(path, cloud);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(cloud.width * cloud.height, 0u);
    unlink(path.c_str());

    error.clear();
    EXPECT_FALSE(tovik::writeCloudFile(tempPath("no/such/folder/c.pcd"), format,
                                       {CloudPoint{1, 2, 3, 4, 5, 6, 7}}, &error));
    EXPECT_NE(error.find(std::strerror(ENOENT)), std::string::npos) << error;
  }
}

}  // namespace
