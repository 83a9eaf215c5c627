// The simulated lidar's surroundings: a room with a floor, walls, a ceiling, a few boxes, a
// pillar and one person-sized box that walks back and forth. Deterministic: a beam cast at the
// same angles and time always gives the same hit.
//
// Coordinates are metres with the sensor's optical centre at the origin and the device's axes:
// x = d cosV cosA, y = -d cosV sinA, z = d sinV (azimuth A grows clockwise seen from above).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tovik::sim {

struct Vec3 {
  double x = 0, y = 0, z = 0;
};

enum class Surface : uint8_t { None, Floor, Ceiling, Wall, Box, Pillar, Walker };

// Axis-aligned box standing anywhere in the room.
struct SceneBox {
  double minX, minY, minZ, maxX, maxY, maxZ;
  uint8_t reflectivity;  // intensity seen at normal incidence, 0..255
};

// Vertical cylinder from the floor to the top of the walls.
struct ScenePillar {
  double x, y, radius;
  uint8_t reflectivity;
};

// A box of sizeX x sizeY x height standing on the floor whose centre walks along y between
// yMin and yMax at x, at a constant speed, turning at both ends (a triangle wave in time).
struct SceneWalker {
  double x, yMin, yMax;
  double speed;  // metres per second
  double sizeX, sizeY, height;
  uint8_t reflectivity;
};

struct SceneLayout {
  // Room bounds; the sensor (origin) must lie inside.
  double minX, maxX, minY, maxY;
  double floorZ, ceilingZ;  // walls span floorZ..ceilingZ
  bool hasCeiling;          // without it, beams above the walls see nothing
  // Wall reflectivities in the order +x, -x, +y, -y.
  uint8_t wallReflectivity[4];
  uint8_t floorReflectivity, ceilingReflectivity;
  std::vector<SceneBox> boxes;
  std::vector<ScenePillar> pillars;
  std::vector<SceneWalker> walkers;

  // The standard room: 20 m x 12 m, walls 3 m high, sensor 1.2 m above the floor.
  static SceneLayout defaultRoom();
  // The same room with nothing in it (no boxes, pillar or walker).
  static SceneLayout emptyRoom();
};

struct Hit {
  double distance = 0;  // metres from the origin along the beam; 0 when surface is None
  uint8_t intensity = 0;
  Surface surface = Surface::None;
};

class Scene {
 public:
  static constexpr double kEdgeBand = 0.08;  // metres

  explicit Scene(SceneLayout layout = SceneLayout::defaultRoom());

  // Unit vector of a beam at elevation and azimuth in degrees.
  static Vec3 beamDirection(double elevationDeg, double azimuthDeg);

  // Nearest surface along dir (a unit vector) at time t seconds. skipWalkers looks through the
  // walking objects (for the echo behind them).
  Hit cast(const Vec3& dir, double t, bool skipWalkers = false) const;

  // The strongest echo and the second echo of a beam. Where the beam meets a walker within
  // kEdgeBand of its side edges, the surface behind it answers as the second echo (weaker);
  // elsewhere both echoes are the same.
  void echoes(const Vec3& dir, double t, Hit* strongest, Hit* second) const;

  // Centre of walker i at time t, on the floor (z = floorZ).
  Vec3 walkerPosition(size_t i, double t) const;

  const SceneLayout& layout() const { return layout_; }

 private:
  SceneLayout layout_;
};

}  // namespace tovik::sim
