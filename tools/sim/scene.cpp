#include "tools/sim/scene.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace tovik::sim {

namespace {

constexpr double kDegToRad = 3.14159265358979323846 / 180.0;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kEpsilon = 1e-9;

// Candidate intersection: ray parameter (metres), unit normal of the surface met, what it is.
struct Candidate {
  double t = kInf;
  Vec3 normal;
  Surface surface = Surface::None;
  uint8_t reflectivity = 0;
};

void keepNearest(Candidate& best, const Candidate& c) {
  if (c.t < best.t) best = c;
}

// Slab test of an axis-aligned box; the ray starts at the origin. Returns the entry distance and
// the normal of the face entered, or t = infinity. A ray starting inside a box sees nothing of it.
Candidate intersectBox(const Vec3& d, double minX, double minY, double minZ, double maxX,
                       double maxY, double maxZ) {
  Candidate c;
  const double lo[3] = {minX, minY, minZ};
  const double hi[3] = {maxX, maxY, maxZ};
  const double dir[3] = {d.x, d.y, d.z};
  double tNear = -kInf, tFar = kInf;
  int axis = -1;
  double sign = 0;
  for (int i = 0; i < 3; ++i) {
    if (std::fabs(dir[i]) < kEpsilon) {
      if (0.0 < lo[i] || 0.0 > hi[i]) return c;
      continue;
    }
    double t1 = lo[i] / dir[i];
    double t2 = hi[i] / dir[i];
    double s = -1.0;  // entering through the low face: normal points to -axis
    if (t1 > t2) {
      std::swap(t1, t2);
      s = 1.0;
    }
    if (t1 > tNear) {
      tNear = t1;
      axis = i;
      sign = s;
    }
    tFar = std::min(tFar, t2);
    if (tNear > tFar) return c;
  }
  if (axis < 0 || tNear <= kEpsilon) return c;
  c.t = tNear;
  c.normal = Vec3{axis == 0 ? sign : 0.0, axis == 1 ? sign : 0.0, axis == 2 ? sign : 0.0};
  return c;
}

// Vertical cylinder between z0 and z1; the ray starts at the origin, outside it.
Candidate intersectPillar(const Vec3& d, const ScenePillar& p, double z0, double z1) {
  Candidate c;
  const double a = d.x * d.x + d.y * d.y;
  if (a < kEpsilon) return c;
  const double b = -2.0 * (d.x * p.x + d.y * p.y);
  const double cc = p.x * p.x + p.y * p.y - p.radius * p.radius;
  const double disc = b * b - 4.0 * a * cc;
  if (disc < 0.0 || cc <= 0.0) return c;
  const double t = (-b - std::sqrt(disc)) / (2.0 * a);
  if (t <= kEpsilon) return c;
  const double z = d.z * t;
  if (z < z0 || z > z1) return c;
  c.t = t;
  c.normal = Vec3{(d.x * t - p.x) / p.radius, (d.y * t - p.y) / p.radius, 0.0};
  return c;
}

// Intensity seen by the sensor: the surface's reflectivity, weaker at grazing incidence and a
// little weaker with distance. Never 0 for a hit, so a hit is always told apart from no return.
uint8_t intensityFor(uint8_t reflectivity, const Vec3& dir, const Vec3& normal, double t) {
  const double cosIncidence = std::fabs(dir.x * normal.x + dir.y * normal.y + dir.z * normal.z);
  const double falloff = 1.0 / (1.0 + t / 40.0);
  const double v = reflectivity * (0.45 + 0.55 * cosIncidence) * falloff;
  return static_cast<uint8_t>(std::clamp(std::lround(v), 1L, 255L));
}

}  // namespace

SceneLayout SceneLayout::emptyRoom() {
  SceneLayout l;
  l.minX = -7.0;
  l.maxX = 13.0;
  l.minY = -5.0;
  l.maxY = 7.0;
  l.floorZ = -1.2;
  l.ceilingZ = 1.8;
  l.hasCeiling = true;
  l.wallReflectivity[0] = 90;   // +x, the far wall ahead
  l.wallReflectivity[1] = 75;   // -x
  l.wallReflectivity[2] = 105;  // +y
  l.wallReflectivity[3] = 60;   // -y
  l.floorReflectivity = 35;
  l.ceilingReflectivity = 20;
  return l;
}

SceneLayout SceneLayout::defaultRoom() {
  SceneLayout l = emptyRoom();
  const double f = l.floorZ;
  // A 1 m crate ahead to the left, a low pallet stack behind, a tall cabinet far right and a
  // small box close by.
  l.boxes.push_back({3.0, 1.5, f, 4.0, 2.5, f + 1.0, 170});
  l.boxes.push_back({-4.5, -3.5, f, -2.5, -2.3, f + 0.6, 140});
  l.boxes.push_back({9.0, -4.0, f, 9.6, -2.0, f + 2.0, 200});
  l.boxes.push_back({1.5, -1.2, f, 1.9, -0.8, f + 0.4, 230});
  l.pillars.push_back({6.0, 3.5, 0.25, 250});
  // A person-sized box walking at 1 m/s across the room behind the sensor.
  l.walkers.push_back({-1.5, -3.5, 5.0, 1.0, 0.5, 0.3, 1.75, 120});
  return l;
}

Scene::Scene(SceneLayout layout) : layout_(std::move(layout)) {}

Vec3 Scene::beamDirection(double elevationDeg, double azimuthDeg) {
  const double v = elevationDeg * kDegToRad;
  const double a = azimuthDeg * kDegToRad;
  return Vec3{std::cos(v) * std::cos(a), -std::cos(v) * std::sin(a), std::sin(v)};
}

Vec3 Scene::walkerPosition(size_t i, double t) const {
  const SceneWalker& w = layout_.walkers.at(i);
  const double span = w.yMax - w.yMin;
  double y = w.yMin;
  if (span > 0.0 && w.speed > 0.0) {
    double p = std::fmod(std::fabs(t) * w.speed, 2.0 * span);
    y = w.yMin + (p < span ? p : 2.0 * span - p);
  }
  return Vec3{w.x, y, layout_.floorZ};
}

Hit Scene::cast(const Vec3& dir, double t, bool skipWalkers) const {
  const SceneLayout& l = layout_;
  Candidate best;

  // The room is convex and holds the origin, so its nearest boundary plane is the one met.
  auto plane = [&](double coord, double dirComp, Vec3 normal, Surface s, uint8_t refl) {
    if (std::fabs(dirComp) < kEpsilon) return;
    const double tt = coord / dirComp;
    if (tt <= kEpsilon) return;
    Candidate c;
    c.t = tt;
    c.normal = normal;
    c.surface = s;
    c.reflectivity = refl;
    keepNearest(best, c);
  };
  plane(l.maxX, dir.x, {-1, 0, 0}, Surface::Wall, l.wallReflectivity[0]);
  plane(l.minX, dir.x, {1, 0, 0}, Surface::Wall, l.wallReflectivity[1]);
  plane(l.maxY, dir.y, {0, -1, 0}, Surface::Wall, l.wallReflectivity[2]);
  plane(l.minY, dir.y, {0, 1, 0}, Surface::Wall, l.wallReflectivity[3]);
  plane(l.floorZ, dir.z, {0, 0, 1}, Surface::Floor, l.floorReflectivity);
  // The plane of the ceiling bounds the room even without a ceiling: above the walls the beam
  // leaves the room and sees nothing.
  plane(l.ceilingZ, dir.z, {0, 0, -1}, l.hasCeiling ? Surface::Ceiling : Surface::None,
        l.ceilingReflectivity);

  for (const SceneBox& b : l.boxes) {
    Candidate c = intersectBox(dir, b.minX, b.minY, b.minZ, b.maxX, b.maxY, b.maxZ);
    c.surface = Surface::Box;
    c.reflectivity = b.reflectivity;
    keepNearest(best, c);
  }
  for (const ScenePillar& p : l.pillars) {
    Candidate c = intersectPillar(dir, p, l.floorZ, l.ceilingZ);
    c.surface = Surface::Pillar;
    c.reflectivity = p.reflectivity;
    keepNearest(best, c);
  }
  if (!skipWalkers) {
    for (size_t i = 0; i < l.walkers.size(); ++i) {
      const SceneWalker& w = l.walkers[i];
      const Vec3 p = walkerPosition(i, t);
      const double hx = w.sizeX / 2, hy = w.sizeY / 2;
      Candidate c = intersectBox(dir, p.x - hx, p.y - hy, p.z, p.x + hx, p.y + hy, p.z + w.height);
      if (c.t == kInf) continue;
      c.surface = Surface::Walker;
      c.reflectivity = w.reflectivity;
      keepNearest(best, c);
    }
  }

  Hit h;
  if (best.t == kInf || best.surface == Surface::None) return h;
  h.distance = best.t;
  h.surface = best.surface;
  h.intensity = intensityFor(best.reflectivity, dir, best.normal, best.t);
  return h;
}

void Scene::echoes(const Vec3& dir, double t, Hit* strongest, Hit* second) const {
  const Hit first = cast(dir, t);
  *strongest = first;
  *second = first;
  if (first.surface != Surface::Walker) return;
  // Find which walker was hit and whether the hit lies in the edge band of a side face.
  for (size_t i = 0; i < layout_.walkers.size(); ++i) {
    const SceneWalker& w = layout_.walkers[i];
    const Vec3 p = walkerPosition(i, t);
    const double hx = w.sizeX / 2, hy = w.sizeY / 2;
    const double px = dir.x * first.distance, py = dir.y * first.distance;
    const double pz = dir.z * first.distance;
    const double tol = 1e-6;
    if (px < p.x - hx - tol || px > p.x + hx + tol || py < p.y - hy - tol || py > p.y + hy + tol ||
        pz < p.z - tol || pz > p.z + w.height + tol)
      continue;
    const bool onTop = std::fabs(pz - (p.z + w.height)) < tol;
    const bool onXFace = std::fabs(std::fabs(px - p.x) - hx) < tol;
    const double distFromSide = onXFace ? hy - std::fabs(py - p.y) : hx - std::fabs(px - p.x);
    if (onTop || distFromSide >= kEdgeBand) return;
    Hit behind = cast(dir, t, true);
    if (behind.surface == Surface::None) return;
    behind.intensity = static_cast<uint8_t>(std::max(1, behind.intensity * 6 / 10));
    *second = behind;
    return;
  }
}

}  // namespace tovik::sim
