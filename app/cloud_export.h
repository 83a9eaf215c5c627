// Point cloud files (PCD, PLY) from the viewer: which points of the shown revolution go into the
// file, and the file format a chosen name asks for. The file itself is written by
// tovik::writeCloudFile (acquisition/cloud_file.h).
#pragma once

#include <QString>
#include <vector>

#include "acquisition/cloud_file.h"
#include "acquisition/csv_writer.h"
#include "acquisition/geometry.h"
#include "acquisition/lidar_data.h"
#include "app/revolution_pass.h"

namespace tovik {

// The points of scan the CSV export writes with options (same geometry, same rows: zeroed places
// left out, points without echo kept at the sensor), less those the view hides by the display
// angle (azimuth strictly between displayAngleLimit and 360 - displayAngleLimit). With box, only
// the points of the area selection: those inside it that the view draws (an echo, so never the
// sensor's own position).
std::vector<CloudPoint> viewCloudPoints(const LidarData& scan, const AngleTable& verticalAngles,
                                        const csv::RowOptions& options, float displayAngleLimit,
                                        const SelectionBox* box);

// The format of a file name by its extension (".pcd" or ".ply", any case); false for others.
bool cloudFormatOfName(const QString& path, CloudFormat* format);

}  // namespace tovik
