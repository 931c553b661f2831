// Coordinate reference systems through PROJ: a pose as given (PoseInput) becomes a placement in
// the survey's system, with the system's OGC WKT (WKT1, GDAL flavour) for the files. The only
// place that talks to PROJ.
#pragma once

#include "core/geo/attitude.hpp"
#include "core/geo/pose.hpp"

#include <array>
#include <string>

namespace quarv {

struct ResolvedPose {
    bool placed = false; // false: points stay in the scanner's (or levelled) frame
    double headingDeg = 0;
    std::array<double, 3> position{}; // easting, northing, height in the CRS (or local metres)
    std::string crsName;              // PROJ's name of the CRS; empty without one
    std::string wkt;                  // OGC WKT of the CRS; empty without one

    RigidTransform transform() const { return placement(headingDeg, position); }
};

// Checks and resolves a pose. A CRS must be projected (metres east and north), optionally with a
// vertical part; a position given in positionCrs is transformed into it; the position must lie
// inside the CRS's area of use. False with `why` (PROJ's own words where it has them).
bool resolvePose(const PoseInput& input, ResolvedPose& out, std::string& why);

// The WKT of a CRS given by its user text (e.g. "EPSG:32631"); empty with `why` on failure.
std::string crsWkt(const std::string& crs, std::string& why);

} // namespace quarv
