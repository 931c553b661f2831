#include "core/sim/scene.hpp"

#include "core/sim/random.hpp"

#include <algorithm>
#include <limits>

namespace quarv::sim {

const char* surfaceKindName(SurfaceKind kind) {
    switch (kind) {
    case SurfaceKind::Target:
        return "target";
    case SurfaceKind::Bottom:
        return "bottom";
    case SurfaceKind::Pipe:
        return "pipe";
    case SurfaceKind::Wall:
        return "wall";
    case SurfaceKind::Rock:
        return "rock";
    case SurfaceKind::Scatterer:
        return "scatterer";
    }
    return "?";
}

namespace {

constexpr double kParallelEps = 1e-12;

Vec3 facing(Vec3 n, const Vec3& dir) {
    return dot(n, dir) > 0 ? -n : n;
}

// Smallest root of a t^2 + b t + c = 0 above tMin, if any.
std::optional<double> firstRoot(double a, double b, double c, double tMin) {
    if (a < kParallelEps) return std::nullopt;
    const double disc = b * b - 4 * a * c;
    if (disc < 0) return std::nullopt;
    const double sq = std::sqrt(disc);
    // The numerically stable pair of roots.
    const double qv = -0.5 * (b + (b >= 0 ? sq : -sq));
    double t0 = qv / a, t1 = qv != 0 ? c / qv : t0;
    if (t0 > t1) std::swap(t0, t1);
    if (t0 > tMin) return t0;
    if (t1 > tMin) return t1;
    return std::nullopt;
}

} // namespace

int Scene::addPlane(Vec3 point, Vec3 normal, SurfaceKind kind, double reflectivity) {
    Object o{};
    o.shape = Shape::Plane;
    o.kind = kind;
    o.reflectivity = reflectivity;
    o.cover = 1.0;
    o.a = point;
    o.b = normalized(normal);
    objects_.push_back(o);
    return static_cast<int>(objects_.size() - 1);
}

int Scene::addBox(Vec3 centre, Vec3 half, double yawDeg, SurfaceKind kind, double reflectivity) {
    Object o{};
    o.shape = Shape::Box;
    o.kind = kind;
    o.reflectivity = reflectivity;
    o.cover = 1.0;
    o.a = centre;
    o.b = half;
    const double yaw = yawDeg * std::acos(-1.0) / 180.0;
    o.cosYaw = std::cos(yaw);
    o.sinYaw = std::sin(yaw);
    o.boundCentre = centre;
    o.boundRadius = norm(half);
    objects_.push_back(o);
    return static_cast<int>(objects_.size() - 1);
}

int Scene::addCylinder(Vec3 a, Vec3 b, double radius, SurfaceKind kind, double reflectivity) {
    Object o{};
    o.shape = Shape::Cylinder;
    o.kind = kind;
    o.reflectivity = reflectivity;
    o.cover = 1.0;
    o.a = a;
    o.b = b;
    o.radius = radius;
    o.boundCentre = (a + b) * 0.5;
    const double halfLength = 0.5 * norm(b - a);
    o.boundRadius = std::sqrt(halfLength * halfLength + radius * radius);
    objects_.push_back(o);
    return static_cast<int>(objects_.size() - 1);
}

int Scene::addSphere(Vec3 centre, double radius, SurfaceKind kind, double reflectivity,
                     double cover) {
    Object o{};
    o.shape = Shape::Sphere;
    o.kind = kind;
    o.reflectivity = reflectivity;
    o.cover = cover;
    o.a = centre;
    o.radius = radius;
    o.boundCentre = centre;
    o.boundRadius = radius;
    objects_.push_back(o);
    return static_cast<int>(objects_.size() - 1);
}

std::optional<SurfaceHit> Scene::intersect(const Object& o, const Ray& ray, double tMin) const {
    if (o.shape != Shape::Plane) {
        // Quick rejection against the bounding sphere.
        const Vec3 w = o.boundCentre - ray.origin;
        const double along = dot(w, ray.dir);
        const double dist2 = dot(w, w) - along * along;
        if (dist2 > o.boundRadius * o.boundRadius) return std::nullopt;
        if (along + o.boundRadius <= tMin) return std::nullopt;
    }
    SurfaceHit hit;
    switch (o.shape) {
    case Shape::Plane: {
        const double denom = dot(ray.dir, o.b);
        if (std::fabs(denom) < kParallelEps) return std::nullopt;
        const double t = dot(o.a - ray.origin, o.b) / denom;
        if (!(t > tMin)) return std::nullopt;
        hit.t = t;
        hit.normal = facing(o.b, ray.dir);
        return hit;
    }
    case Shape::Sphere: {
        const Vec3 w = ray.origin - o.a;
        const auto t = firstRoot(1.0, 2 * dot(w, ray.dir), dot(w, w) - o.radius * o.radius, tMin);
        if (!t) return std::nullopt;
        hit.t = *t;
        hit.normal = facing(normalized(ray.at(*t) - o.a), ray.dir);
        return hit;
    }
    case Shape::Box: {
        // Into the box frame: translate to the centre, turn by -yaw about Z.
        const Vec3 rel = ray.origin - o.a;
        const Vec3 lo{o.cosYaw * rel.x + o.sinYaw * rel.y, -o.sinYaw * rel.x + o.cosYaw * rel.y,
                      rel.z};
        const Vec3 ld{o.cosYaw * ray.dir.x + o.sinYaw * ray.dir.y,
                      -o.sinYaw * ray.dir.x + o.cosYaw * ray.dir.y, ray.dir.z};
        const double org[3] = {lo.x, lo.y, lo.z}, dir[3] = {ld.x, ld.y, ld.z};
        const double half[3] = {o.b.x, o.b.y, o.b.z};
        double tNear = -std::numeric_limits<double>::infinity();
        double tFar = std::numeric_limits<double>::infinity();
        int nearAxis = -1, farAxis = -1;
        for (int k = 0; k < 3; ++k) {
            if (std::fabs(dir[k]) < kParallelEps) {
                if (org[k] < -half[k] || org[k] > half[k]) return std::nullopt;
                continue;
            }
            double t1 = (-half[k] - org[k]) / dir[k], t2 = (half[k] - org[k]) / dir[k];
            if (t1 > t2) std::swap(t1, t2);
            if (t1 > tNear) tNear = t1, nearAxis = k;
            if (t2 < tFar) tFar = t2, farAxis = k;
        }
        if (tNear > tFar) return std::nullopt;
        int axis;
        if (tNear > tMin) {
            hit.t = tNear;
            axis = nearAxis;
        } else if (tFar > tMin) {
            hit.t = tFar;
            axis = farAxis;
        } else {
            return std::nullopt;
        }
        if (axis < 0) return std::nullopt;
        Vec3 ln{axis == 0 ? 1.0 : 0.0, axis == 1 ? 1.0 : 0.0, axis == 2 ? 1.0 : 0.0};
        const Vec3 n{o.cosYaw * ln.x - o.sinYaw * ln.y, o.sinYaw * ln.x + o.cosYaw * ln.y, ln.z};
        hit.normal = facing(n, ray.dir);
        return hit;
    }
    case Shape::Cylinder: {
        const double length = norm(o.b - o.a);
        const Vec3 u = (o.b - o.a) * (1.0 / length);
        const Vec3 w = ray.origin - o.a;
        const double du = dot(ray.dir, u), wu = dot(w, u);
        const Vec3 dp = ray.dir - u * du, wp = w - u * wu;
        double best = std::numeric_limits<double>::infinity();
        Vec3 bestNormal;
        // The mantle: both roots, the nearer one inside the axial extent wins.
        const double qa = dot(dp, dp), qb = 2 * dot(dp, wp), qc = dot(wp, wp) - o.radius * o.radius;
        double from = tMin;
        for (int root = 0; root < 2; ++root) {
            const auto t = firstRoot(qa, qb, qc, from);
            if (!t) break;
            const double s = wu + du * *t;
            if (s >= 0 && s <= length) {
                best = *t;
                const Vec3 p = ray.at(*t) - o.a;
                bestNormal = normalized(p - u * dot(p, u));
                break;
            }
            from = *t;
        }
        // The two end caps.
        if (std::fabs(du) > kParallelEps) {
            for (double s : {0.0, length}) {
                const double t = (s - wu) / du;
                if (!(t > tMin) || t >= best) continue;
                const Vec3 p = ray.at(t) - o.a;
                const Vec3 radial = p - u * dot(p, u);
                if (dot(radial, radial) <= o.radius * o.radius) {
                    best = t;
                    bestNormal = u;
                }
            }
        }
        if (!std::isfinite(best)) return std::nullopt;
        hit.t = best;
        hit.normal = facing(bestNormal, ray.dir);
        return hit;
    }
    }
    return std::nullopt;
}

std::optional<SurfaceHit> Scene::trace(const Ray& ray, double tMin, int ignore) const {
    std::optional<SurfaceHit> best;
    for (std::size_t i = 0; i < objects_.size(); ++i) {
        if (static_cast<int>(i) == ignore) continue;
        auto h = intersect(objects_[i], ray, tMin);
        if (h && (!best || h->t < best->t)) {
            h->object = static_cast<int>(i);
            best = h;
        }
    }
    return best;
}

double Scene::distanceTo(int object, const Vec3& p) const {
    const Object& o = objects_[static_cast<std::size_t>(object)];
    switch (o.shape) {
    case Shape::Plane:
        return std::fabs(dot(p - o.a, o.b));
    case Shape::Sphere:
        return std::fabs(norm(p - o.a) - o.radius);
    case Shape::Box: {
        const Vec3 rel = p - o.a;
        const double q[3] = {std::fabs(o.cosYaw * rel.x + o.sinYaw * rel.y) - o.b.x,
                             std::fabs(-o.sinYaw * rel.x + o.cosYaw * rel.y) - o.b.y,
                             std::fabs(rel.z) - o.b.z};
        const Vec3 outside{std::max(q[0], 0.0), std::max(q[1], 0.0), std::max(q[2], 0.0)};
        const double inside = std::min(std::max({q[0], q[1], q[2]}), 0.0);
        return std::fabs(norm(outside) + inside);
    }
    case Shape::Cylinder: {
        const double length = norm(o.b - o.a);
        const Vec3 u = (o.b - o.a) * (1.0 / length);
        const Vec3 rel = p - o.a;
        const double s = dot(rel, u);
        const double dr = norm(rel - u * s) - o.radius;
        const double ds = std::max(-s, s - length);
        const double outside = std::hypot(std::max(dr, 0.0), std::max(ds, 0.0));
        const double inside = std::min(std::max(dr, ds), 0.0);
        return std::fabs(outside + inside);
    }
    }
    return std::numeric_limits<double>::infinity();
}

int Scene::nearestObject(const Vec3& p, double tolerance) const {
    int best = -1;
    double bestDist = tolerance;
    for (std::size_t i = 0; i < objects_.size(); ++i) {
        const double d = distanceTo(static_cast<int>(i), p);
        if (d <= bestDist) {
            bestDist = d;
            best = static_cast<int>(i);
        }
    }
    return best;
}

namespace {

// A plane z = z0 + sx x + sy y as point and upward normal.
struct SlopedBottom {
    double z0, sx, sy;
    Vec3 normal() const { return normalized(Vec3{-sx, -sy, 1.0}); }
    Vec3 at(double x, double y) const { return {x, y, z0 + sx * x + sy * y}; }
    // A point `h` metres above the bottom along its normal.
    Vec3 above(double x, double y, double h) const { return at(x, y) + normal() * h; }
};

void addPipe(Scene& scene, const SlopedBottom& bottom, double x0, double y0, double x1, double y1,
             double radius) {
    scene.addCylinder(bottom.above(x0, y0, radius), bottom.above(x1, y1, radius), radius,
                      SurfaceKind::Pipe, 0.6);
}

void buildSeabed(Scene& scene) {
    const SlopedBottom bottom{-3.0, 0.03, -0.08};
    scene.addPlane(bottom.at(0, 0), bottom.normal(), SurfaceKind::Bottom, 0.35);
    addPipe(scene, bottom, -9.0, 5.2, 9.0, 7.8, 0.3);
}

void buildHarbour(Scene& scene, const SceneParams& params) {
    // Basin floor deepening gently towards the quay.
    const SlopedBottom bottom{-3.0, 0.02, -0.06};
    scene.addPlane(bottom.at(0, 0), bottom.normal(), SurfaceKind::Bottom, 0.35);
    // A pipe lying across the view, slightly askew.
    addPipe(scene, bottom, -9.0, 5.6, 9.0, 7.4, 0.3);
    // The quay wall: its face at y = 11.5, from well below the floor to above the scanner, with
    // three fenders standing out of it.
    scene.addBox({0.0, 12.5, -2.0}, {25.0, 1.0, 4.0}, 0.0, SurfaceKind::Wall, 0.5);
    for (double x : {-3.5, 0.0, 3.5})
        scene.addBox({x, 11.35, -1.8}, {0.3, 0.15, 1.6}, 0.0, SurfaceKind::Wall, 0.5);
    // A few boulders half buried in the floor.
    const double rocks[][3] = {
        {-2.2, 4.2, 0.45}, {2.8, 9.0, 0.6}, {-1.0, 9.6, 0.35}, {1.2, 3.6, 0.3}};
    for (const auto& r : rocks)
        scene.addSphere(bottom.above(r[0], r[1], 0.3 * r[2]), r[2], SurfaceKind::Rock, 0.4);
    // Fish and debris in the water: small, bright, each intercepting part of a beam.
    Random rng(streamSeed(params.seed, 0x5CA7));
    for (int i = 0; i < params.scatterers; ++i) {
        const double x = rng.uniform(-5.0, 5.0);
        const double y = rng.uniform(2.5, 11.0);
        const double zBottom = bottom.at(x, y).z;
        const double z = rng.uniform(zBottom + 0.9, -0.3);
        const double radius = rng.uniform(0.003, 0.006);
        const double reflectivity = rng.uniform(2.0, 4.0);
        const double cover = rng.uniform(0.5, 0.9);
        scene.addSphere({x, y, z}, radius, SurfaceKind::Scatterer, reflectivity, cover);
    }
}

} // namespace

bool isSceneName(const std::string& name) {
    return name == "plane" || name == "seabed" || name == "flat" || name == "harbour";
}

bool buildScene(const std::string& name, const SceneParams& params, Scene& scene) {
    if (name == "plane") {
        const Vec3 b = normalized(params.boresight);
        scene.addPlane(params.sensor + b * params.distance, -b, SurfaceKind::Target, 0.5);
    } else if (name == "seabed") {
        buildSeabed(scene);
    } else if (name == "flat") {
        // A level bottom 3 m below the scanner: what levelling must bring back level.
        scene.addPlane({0, 0, -3}, {0, 0, 1}, SurfaceKind::Bottom, 0.35);
    } else if (name == "harbour") {
        buildHarbour(scene, params);
    } else {
        return false;
    }
    return true;
}

} // namespace quarv::sim
