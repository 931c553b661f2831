// Where the scanner stood: its position, heading and coordinate reference system, as the operator
// gives them on the command line, in the export dialog or in a sidecar file NAME.pose.json next
// to the recording ({"position": [E, N, H], "heading": DEG, "crs": "EPSG:32631"}, optionally
// "position_crs" when the position is given in another system). Parsing only; the coordinate
// systems themselves are resolved by crs.hpp.
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>

namespace quarv {

struct PoseInput {
    std::optional<std::array<double, 3>> position; // in positionCrs when given, else in crs
    std::optional<double> headingDeg;              // clockwise from grid north
    std::string crs;                               // e.g. "EPSG:32631"; empty: local frame
    std::string positionCrs;                       // e.g. "EPSG:4979"; empty: same as crs

    bool empty() const { return !position && !headingDeg && crs.empty() && positionCrs.empty(); }
    // The fields set in `over` replace those of this pose.
    PoseInput overriddenBy(const PoseInput& over) const;
};

// "E,N,H": three finite numbers separated by commas. False with `why` otherwise.
bool parsePosition(const std::string& text, std::array<double, 3>& out, std::string& why);
// A finite number of degrees.
bool parseHeading(const std::string& text, double& out, std::string& why);

// The sidecar of a recording: "dir/scan.raw" -> "dir/scan.pose.json".
std::filesystem::path poseSidecarFor(const std::filesystem::path& recording);

// Reads a pose file strictly: a JSON object with only the keys position (array of three numbers),
// heading (number), crs and position_crs (strings). False with `why` naming the problem.
bool readPoseFile(const std::filesystem::path& path, PoseInput& out, std::string& why);

// The pose of a recording: its sidecar when present, with `given` on top. False with `why` when
// a sidecar exists but cannot be read.
bool poseForRecording(const std::filesystem::path& recording, const PoseInput& given,
                      PoseInput& out, std::string& why);

} // namespace quarv
