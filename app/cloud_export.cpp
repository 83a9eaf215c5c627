#include "app/cloud_export.h"

#include <QFileInfo>
#include <algorithm>
#include <memory>

#include "app/csv_export.h"

namespace tovik {

std::vector<CloudPoint> viewCloudPoints(const LidarData& scan, const AngleTable& verticalAngles,
                                        const csv::RowOptions& options, float displayAngleLimit,
                                        const SelectionBox* box) {
  std::vector<CloudPoint> points;
  const std::unique_ptr<LidarData> measured = withoutZeroedPlaces(scan);
  appendCloudPoints(measured ? *measured : scan, verticalAngles, options, &points);
  const float hideAbove = displayAngleLimit;
  const float hideBelow = 360.0f - displayAngleLimit;
  const auto leftOut = [&](const CloudPoint& p) {
    if (p.azimuth > hideAbove && p.azimuth < hideBelow) return true;
    if (box == nullptr) return false;
    // Distance 0 places a point exactly at the sensor; any echo lies away from it.
    const bool echo = p.x != 0.0f || p.y != 0.0f || p.z != 0.0f;
    return !echo || !box->contains(p.x, p.y, p.z);
  };
  points.erase(std::remove_if(points.begin(), points.end(), leftOut), points.end());
  return points;
}

bool cloudFormatOfName(const QString& path, CloudFormat* format) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix == QLatin1String("pcd")) {
    *format = CloudFormat::Pcd;
    return true;
  }
  if (suffix == QLatin1String("ply")) {
    *format = CloudFormat::Ply;
    return true;
  }
  return false;
}

}  // namespace tovik
