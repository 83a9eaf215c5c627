#include "acquisition/cloud_file.h"

#include <pcl/PCLPointCloud2.h>
#include <pcl/io/pcd_io.h>
#include <pcl/io/ply_io.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>

namespace tovik {

namespace {

// One point, packed: x, y, z, intensity (float32), channel (uint8), azimuth (float32), time
// (float64). The offsets are the file's field order; no padding, so every reader agrees on them.
// The channel is one byte because Open3D's PLY reader drops 16-bit properties ("ushort").
struct FieldSpec {
  const char* name;
  uint8_t datatype;
  uint32_t size;
};
constexpr FieldSpec kFields[] = {
    {"x", pcl::PCLPointField::FLOAT32, 4},     {"y", pcl::PCLPointField::FLOAT32, 4},
    {"z", pcl::PCLPointField::FLOAT32, 4},     {"intensity", pcl::PCLPointField::FLOAT32, 4},
    {"channel", pcl::PCLPointField::UINT8, 1}, {"azimuth", pcl::PCLPointField::FLOAT32, 4},
    {"time", pcl::PCLPointField::FLOAT64, 8},
};
constexpr uint32_t kPointStep = 4 + 4 + 4 + 4 + 1 + 4 + 8;

void toCloud(const std::vector<CloudPoint>& points, pcl::PCLPointCloud2* cloud) {
  uint32_t offset = 0;
  for (const FieldSpec& f : kFields) {
    pcl::PCLPointField field;
    field.name = f.name;
    field.offset = offset;
    field.datatype = f.datatype;
    field.count = 1;
    cloud->fields.push_back(field);
    offset += f.size;
  }
  cloud->height = 1;
  cloud->width = uint32_t(points.size());
  cloud->is_bigendian = false;
  cloud->point_step = kPointStep;
  cloud->row_step = kPointStep * cloud->width;
  cloud->is_dense = true;
  cloud->data.resize(size_t(cloud->row_step));
  uint8_t* w = cloud->data.data();
  for (const CloudPoint& p : points) {
    std::memcpy(w + 0, &p.x, 4);
    std::memcpy(w + 4, &p.y, 4);
    std::memcpy(w + 8, &p.z, 4);
    std::memcpy(w + 12, &p.intensity, 4);
    w[16] = uint8_t(p.channel);
    std::memcpy(w + 17, &p.azimuth, 4);
    std::memcpy(w + 21, &p.time, 8);
    w += kPointStep;
  }
}

// PCL's writers report a failure only as -1 and a console line; the OS reason comes from opening
// the file ourselves first, and from errno after a failed write.
bool canCreate(const std::string& path, std::string* error) {
  errno = 0;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    if (error) *error = "cannot create '" + path + "': " + std::strerror(errno);
    return false;
  }
  std::fclose(f);
  return true;
}

// PCL's writers refuse a cloud of no points; its header generators still describe one.
bool writeHeaderOnly(const std::string& path, CloudFormat format, const pcl::PCLPointCloud2& cloud,
                     std::string* error) {
  std::string header;
  if (format == CloudFormat::Pcd) {
    header = pcl::PCDWriter().generateHeaderBinary(cloud, Eigen::Vector4f::Zero(),
                                                   Eigen::Quaternionf::Identity());
    header += "DATA binary\n";
  } else {
    header = pcl::PLYWriter().generateHeaderBinary(cloud, Eigen::Vector4f::Zero(),
                                                   Eigen::Quaternionf::Identity(), 0, false);
  }
  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << header;
  out.close();
  if (!out) {
    if (error) {
      *error = "cannot write '" + path + "': " + (errno ? std::strerror(errno) : "write error");
    }
    return false;
  }
  return true;
}

}  // namespace

const char* cloudExtension(CloudFormat format) {
  return format == CloudFormat::Pcd ? "pcd" : "ply";
}

bool writeCloudFile(const std::string& path, CloudFormat format,
                    const std::vector<CloudPoint>& points, std::string* error) {
  if (!canCreate(path, error)) return false;
  pcl::PCLPointCloud2 cloud;
  toCloud(points, &cloud);
  if (points.empty()) return writeHeaderOnly(path, format, cloud, error);
  int status = -1;
  errno = 0;
  try {
    if (format == CloudFormat::Pcd) {
      pcl::PCDWriter writer;
      status = writer.writeBinary(path, cloud);
    } else {
      pcl::PLYWriter writer;
      status = writer.writeBinary(path, cloud, Eigen::Vector4f::Zero(),
                                  Eigen::Quaternionf::Identity(), false);
    }
  } catch (const std::exception& e) {
    if (error) *error = "cannot write '" + path + "': " + e.what();
    return false;
  }
  if (status != 0) {
    if (error) {
      *error = "cannot write '" + path + "': " + (errno ? std::strerror(errno) : "write error");
    }
    return false;
  }
  return true;
}

void appendCloudPoints(const LidarData& frame, const AngleTable& angles,
                       const csv::RowOptions& options, std::vector<CloudPoint>* out) {
  const ChannelTrig trig = channelTrig(angles);
  for (int k = 0; k < kChannelCount; ++k) {
    if (!(options.channels & (1u << k))) continue;
    const size_t count = frame.pointCount(k);
    const uint16_t channel = uint16_t(options.channelNumber[k]);
    for (size_t i = 0; i < count; ++i) {
      const float a = frame.azimuth[k][i];
      if (!(options.angleMin <= a && a <= options.angleMax)) continue;
      // Centimetres held as float, as the CSV rows hold them before placing the point.
      const float d = float(scaleDistance(frame.distance[k][i], options.accuaryMode));
      const PointXYZ p = pointPosition(d, a, trig.cosV[k], trig.sinV[k]);
      out->push_back(CloudPoint{p.x, p.y, p.z, float(frame.intensity[k][i]), channel, a,
                                double(frame.adjustedTime[k][i])});
    }
  }
}

}  // namespace tovik
