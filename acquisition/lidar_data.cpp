#include "acquisition/lidar_data.h"

#include <algorithm>

size_t LidarData::pointCount(int ch) const {
  return std::min(
      {distance[ch].size(), intensity[ch].size(), azimuth[ch].size(), adjustedTime[ch].size()});
}

size_t LidarData::totalPoints() const {
  size_t n = 0;
  for (int ch = 0; ch < kChannelCount; ++ch) n += pointCount(ch);
  return n;
}

bool LidarData::empty() const {
  if (!blockAzimuth.empty()) return false;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    if (!distance[ch].empty() || !intensity[ch].empty() || !azimuth[ch].empty() ||
        !adjustedTime[ch].empty())
      return false;
  }
  return true;
}

void LidarData::clear() {
  blockAzimuth.clear();
  for (int ch = 0; ch < kChannelCount; ++ch) {
    distance[ch].clear();
    intensity[ch].clear();
    azimuth[ch].clear();
    adjustedTime[ch].clear();
  }
}

void LidarData::appendChannel(int ch, const LidarData& other) {
  distance[ch].insert(distance[ch].end(), other.distance[ch].begin(), other.distance[ch].end());
  intensity[ch].insert(intensity[ch].end(), other.intensity[ch].begin(), other.intensity[ch].end());
  azimuth[ch].insert(azimuth[ch].end(), other.azimuth[ch].begin(), other.azimuth[ch].end());
  adjustedTime[ch].insert(adjustedTime[ch].end(), other.adjustedTime[ch].begin(),
                          other.adjustedTime[ch].end());
}

void LidarData::trimToAzimuths() {
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const size_t n = pointCount(ch);
    distance[ch].resize(n);
    intensity[ch].resize(n);
    azimuth[ch].resize(n);
    adjustedTime[ch].resize(n);
  }
}

void LidarData::reserve(size_t n) {
  blockAzimuth.reserve(n / 2 + 16);
  for (int ch = 0; ch < kChannelCount; ++ch) {
    distance[ch].reserve(n);
    intensity[ch].reserve(n);
    azimuth[ch].reserve(n);
    adjustedTime[ch].reserve(n);
  }
}
