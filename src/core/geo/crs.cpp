#include "core/geo/crs.hpp"

#include <proj.h>

#include <cmath>
#include <cstdio>
#include <memory>

namespace quarv {

namespace {

// One PROJ context per call: contexts are not shared between threads, and resolving a pose is
// rare. PROJ's messages are collected instead of printed, to be handed to the operator.
class Proj {
public:
    Proj() : ctx_(proj_context_create()) {
        proj_log_func(ctx_, this, [](void* self, int level, const char* text) {
            if (level <= PJ_LOG_ERROR && text) static_cast<Proj*>(self)->last_ = text;
        });
        proj_log_level(ctx_, PJ_LOG_ERROR);
    }
    ~Proj() { proj_context_destroy(ctx_); }
    Proj(const Proj&) = delete;
    Proj& operator=(const Proj&) = delete;

    PJ_CONTEXT* ctx() const { return ctx_; }
    // PROJ's words about the last failure.
    std::string message() const {
        if (!last_.empty()) return last_;
        const int e = proj_context_errno(ctx_);
        const char* s = e ? proj_context_errno_string(ctx_, e) : nullptr;
        return s ? s : "unknown error";
    }
    void clear() {
        last_.clear();
        proj_context_errno(ctx_);
    }

private:
    PJ_CONTEXT* ctx_;
    std::string last_;
};

struct PjDeleter {
    void operator()(PJ* p) const { proj_destroy(p); }
};
using PjPtr = std::unique_ptr<PJ, PjDeleter>;

PjPtr createCrs(Proj& proj, const std::string& text, std::string& why) {
    proj.clear();
    PjPtr crs(text.empty() ? nullptr : proj_create(proj.ctx(), text.c_str()));
    if (!crs) {
        why = "unknown coordinate system \"" + text + "\": " + proj.message();
        return nullptr;
    }
    if (!proj_is_crs(crs.get())) {
        why = "\"" + text + "\" is not a coordinate reference system";
        return nullptr;
    }
    return crs;
}

// The horizontal part of a CRS: itself, or the first component of a compound one.
PjPtr horizontalOf(Proj& proj, PJ* crs) {
    if (proj_get_type(crs) == PJ_TYPE_COMPOUND_CRS)
        return PjPtr(proj_crs_get_sub_crs(proj.ctx(), crs, 0));
    return PjPtr(proj_clone(proj.ctx(), crs));
}

} // namespace

std::string crsWkt(const std::string& text, std::string& why) {
    Proj proj;
    PjPtr crs = createCrs(proj, text, why);
    if (!crs) return {};
    const char* options[] = {"MULTILINE=NO", nullptr};
    const char* wkt = proj_as_wkt(proj.ctx(), crs.get(), PJ_WKT1_GDAL, options);
    if (!wkt) {
        why = "no WKT for \"" + text + "\": " + proj.message();
        return {};
    }
    return wkt;
}

bool resolvePose(const PoseInput& in, ResolvedPose& out, std::string& why) {
    ResolvedPose r;
    if (in.empty()) {
        out = r;
        return true;
    }
    r.placed = true;
    r.headingDeg = in.headingDeg.value_or(0.0);
    r.position = in.position.value_or(std::array<double, 3>{});
    if (!in.positionCrs.empty() && in.crs.empty()) {
        why = "a position coordinate system needs a coordinate system to place the points in";
        return false;
    }
    if (in.crs.empty()) {
        out = r;
        return true; // placed in local metres, no coordinate system
    }
    if (!in.position) {
        why = "a coordinate system needs the scanner's position";
        return false;
    }
    Proj proj;
    PjPtr crs = createCrs(proj, in.crs, why);
    if (!crs) return false;
    PjPtr horizontal = horizontalOf(proj, crs.get());
    if (!horizontal || proj_get_type(horizontal.get()) != PJ_TYPE_PROJECTED_CRS) {
        why =
            "\"" + in.crs + "\" is not a projected coordinate system (easting, northing in metres)";
        return false;
    }
    if (!in.positionCrs.empty()) {
        PjPtr from = createCrs(proj, in.positionCrs, why);
        if (!from) return false;
        proj.clear();
        PjPtr op(
            proj_create_crs_to_crs_from_pj(proj.ctx(), from.get(), crs.get(), nullptr, nullptr));
        if (!op) {
            why = "no transformation from " + in.positionCrs + " to " + in.crs + ": " +
                  proj.message();
            return false;
        }
        // Coordinates in each system's own axis order (EPSG:4979: latitude, longitude, height).
        const PJ_COORD c = proj_trans(op.get(), PJ_FWD,
                                      proj_coord(r.position[0], r.position[1], r.position[2], 0));
        if (!std::isfinite(c.xyz.x) || !std::isfinite(c.xyz.y) || c.xyz.x == HUGE_VAL) {
            why = "position cannot be transformed from " + in.positionCrs + " to " + in.crs + ": " +
                  proj.message();
            return false;
        }
        r.position = {c.xyz.x, c.xyz.y, std::isfinite(c.xyz.z) ? c.xyz.z : r.position[2]};
    }
    // The area of use, in degrees of longitude and latitude, against the position's own.
    double west = 0, south = 0, east = 0, north = 0;
    const char* area = nullptr;
    if (proj_get_area_of_use(proj.ctx(), horizontal.get(), &west, &south, &east, &north, &area) &&
        west > -1000) {
        PjPtr geographic(proj_crs_get_geodetic_crs(proj.ctx(), horizontal.get()));
        PjPtr toGeo(geographic ? proj_create_crs_to_crs_from_pj(proj.ctx(), horizontal.get(),
                                                                geographic.get(), nullptr, nullptr)
                               : nullptr);
        PjPtr lonLat(toGeo ? proj_normalize_for_visualization(proj.ctx(), toGeo.get()) : nullptr);
        if (lonLat) {
            const PJ_COORD g =
                proj_trans(lonLat.get(), PJ_FWD, proj_coord(r.position[0], r.position[1], 0, 0));
            const double lon = g.lp.lam, lat = g.lp.phi;
            const bool lonInside =
                west <= east ? (lon >= west && lon <= east) : (lon >= west || lon <= east);
            if (!std::isfinite(lon) || !std::isfinite(lat) || !lonInside || lat < south ||
                lat > north) {
                char text[256];
                std::snprintf(text, sizeof text,
                              "position %.3f, %.3f lies outside the area of use of %s (%s)",
                              r.position[0], r.position[1], in.crs.c_str(), area ? area : "");
                why = text;
                return false;
            }
        }
    }
    const char* name = proj_get_name(crs.get());
    r.crsName = name ? name : in.crs;
    r.wkt = crsWkt(in.crs, why);
    if (r.wkt.empty()) return false;
    out = r;
    return true;
}

} // namespace quarv
