// One revolution of the Tovik16 and the codes that select how packets are read.
#pragma once

#include <QMetaType>
#include <array>
#include <cstdint>
#include <vector>

constexpr int kChannelCount = 16;

// One revolution (frame). Per channel, index i of distance, intensity, azimuth and adjustedTime
// describe the same point; every frame the decoders emit has four lists of one length per channel.
// Consumers still bound their loops by pointCount(), the shortest list, so that a frame under
// construction (whose newest block has no azimuths yet) is safe to read too.
struct LidarData {
  template <typename T>
  using PerChannel = std::array<std::vector<T>, kChannelCount>;

  std::vector<float> blockAzimuth;    // degrees, one per accumulated block, arrival order
  PerChannel<float> distance;         // raw distance counts, unscaled
  PerChannel<int> intensity;          // 0..255
  PerChannel<float> azimuth;          // degrees, [0, 360)
  PerChannel<uint64_t> adjustedTime;  // firing time, microseconds on the device clock

  // The number of complete points of channel ch: the shortest of its four lists. Every consumer
  // bounds its loops by this, so a frame whose last block never received azimuths is safe.
  size_t pointCount(int ch) const;
  size_t totalPoints() const;
  bool empty() const;

  // Empties blockAzimuth and every per-channel list, keeping their capacity.
  void clear();
  // Appends all points of other's channel ch to this frame's channel ch.
  void appendChannel(int ch, const LidarData& other);
  // Drops the points of every channel that have no azimuth yet, so all four lists align.
  void trimToAzimuths();
  // Reserves room for about n points per channel.
  void reserve(size_t n);
};

Q_DECLARE_METATYPE(LidarData)

namespace tovik {

// Sensor type texts. Live reception uses the first pair, offline playback the second.
inline constexpr const char* kSensorSingleLive = "Tovik161";
inline constexpr const char* kSensorDualLive = "Tovik162";
inline constexpr const char* kSensorSingleOffline = "Tovik16-1";
inline constexpr const char* kSensorDualOffline = "Tovik16-2";

// Echo code ReturnModel: dual-return decoding emits both echoes merged, the even blocks or the
// odd blocks. Single-return decoding ignores it.
enum EchoCode : int { kDualEcho = 0, kStrongEcho = 1, kSecondEcho = 2 };

// Angle mode degreeMode: nominal table of 2 degree or 1.33 degree spacing.
enum DegreeMode : int { kDegree2 = 0, kDegree133 = 1 };

// Distance resolution accuaryMode: 0.25 cm or 0.4 cm per raw count.
enum AccuaryMode : int { kResolution025 = 0, kResolution04 = 1 };

}  // namespace tovik
