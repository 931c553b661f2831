// Synthetic underwater scenes with known surfaces: planes, boxes (walls, fenders), capped
// cylinders (pipes), spheres (rocks, and the small scatterers such as fish or debris that
// intercept part of a beam). Coordinates are metres in the frame of the processed points: Y out
// along the scanner's boresight at zero pan and tilt, X to the side, Z up.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quarv::sim {

struct Vec3 {
    double x = 0, y = 0, z = 0;
    Vec3 operator+(const Vec3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    Vec3 operator-(const Vec3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    Vec3 operator*(double s) const { return {x * s, y * s, z * s}; }
    Vec3 operator-() const { return {-x, -y, -z}; }
};
inline double dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double norm(const Vec3& a) {
    return std::sqrt(dot(a, a));
}
inline Vec3 normalized(const Vec3& a) {
    return a * (1.0 / norm(a));
}

// A beam in the water: `dir` is a unit vector, so the ray parameter is the distance in metres.
struct Ray {
    Vec3 origin, dir;
    Vec3 at(double t) const { return origin + dir * t; }
};

enum class SurfaceKind : std::uint8_t { Target, Bottom, Pipe, Wall, Rock, Scatterer };
const char* surfaceKindName(SurfaceKind kind);

struct SurfaceHit {
    double t = 0; // distance along the ray, metres
    Vec3 normal;  // unit, facing the incoming ray
    int object = -1;
};

class Scene {
public:
    // `reflectivity` scales the return; `cover` is the share of the beam an object intercepts
    // (1 for surfaces; below 1 for scatterers, whose remaining light goes on to what is behind).
    int addPlane(Vec3 point, Vec3 normal, SurfaceKind kind, double reflectivity);
    // A box of half sizes `half` centred at `centre`, turned by `yawDeg` about Z.
    int addBox(Vec3 centre, Vec3 half, double yawDeg, SurfaceKind kind, double reflectivity);
    // A cylinder between the centres of its two end caps.
    int addCylinder(Vec3 a, Vec3 b, double radius, SurfaceKind kind, double reflectivity);
    int addSphere(Vec3 centre, double radius, SurfaceKind kind, double reflectivity,
                  double cover = 1.0);

    // Nearest surface along the ray with t > tMin, skipping object `ignore` (the scatterer a beam
    // has just passed).
    std::optional<SurfaceHit> trace(const Ray& ray, double tMin, int ignore = -1) const;

    std::size_t size() const { return objects_.size(); }
    SurfaceKind kind(int object) const { return objects_[static_cast<std::size_t>(object)].kind; }
    double reflectivity(int object) const {
        return objects_[static_cast<std::size_t>(object)].reflectivity;
    }
    double cover(int object) const { return objects_[static_cast<std::size_t>(object)].cover; }
    // Unsigned distance from a point to the surface of one object, metres.
    double distanceTo(int object, const Vec3& p) const;
    // The object whose surface is nearest to p, or -1 when none lies within `tolerance`.
    int nearestObject(const Vec3& p, double tolerance) const;

private:
    enum class Shape : std::uint8_t { Plane, Box, Cylinder, Sphere };
    struct Object {
        Shape shape;
        SurfaceKind kind;
        double reflectivity;
        double cover;
        Vec3 a, b;     // plane: point, unit normal; box: centre, half sizes; cylinder: ends;
        double radius; // sphere: centre in a; cylinder and sphere: radius
        double cosYaw, sinYaw; // box orientation
        Vec3 boundCentre;      // bounding sphere for a quick rejection (not for planes)
        double boundRadius;
    };
    std::optional<SurfaceHit> intersect(const Object& o, const Ray& ray, double tMin) const;
    std::vector<Object> objects_;
};

// The named scenes of the simulator.
struct SceneParams {
    double distance = 5.0; // plane: distance from the sensor along the boresight, metres
    Vec3 sensor;           // plane: where the straight beam leaves (world frame)
    Vec3 boresight{0, 1, 0};
    std::uint64_t seed = 1; // harbour: placement of the scatterers
    int scatterers = 3000;
};
bool isSceneName(const std::string& name);
// False for an unknown name.
bool buildScene(const std::string& name, const SceneParams& params, Scene& scene);

} // namespace quarv::sim
