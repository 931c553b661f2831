#include "cli/output_options.hpp"

#include "core/app/message_sink.hpp"
#include "core/cloud/survey_export.hpp"
#include "core/geo/crs.hpp"

namespace quarv::cli {

const char* const kOutputUsage =
    "             [--export OUT.las|OUT.ply] [--include-hidden] [--level]\n"
    "             [--position E,N,H] [--heading DEG] [--crs EPSG:X] [--position-crs EPSG:Y]";

bool parseOutputOptions(const Args& args, OutputOptions& out, std::string& why) {
    const auto path = args.value("export");
    if (!parseExportChoices(args, path.has_value(), out, why)) return false;
    if (path && !surveyFormatOf(*path)) {
        why = "--export needs a name ending in .las or .ply";
        return false;
    }
    if (path) out.exportPath = *path;
    return true;
}

bool parseExportChoices(const Args& args, bool exporting, OutputOptions& out, std::string& why) {
    OutputOptions o;
    o.includeHidden = args.flag("include-hidden");
    o.level = args.flag("level");
    if (const auto text = args.value("position")) {
        std::array<double, 3> p{};
        if (!parsePosition(*text, p, why)) return false;
        o.pose.position = p;
    }
    if (const auto text = args.value("heading")) {
        double h = 0;
        if (!parseHeading(*text, h, why)) return false;
        o.pose.headingDeg = h;
    }
    o.pose.crs = args.value("crs").value_or("");
    o.pose.positionCrs = args.value("position-crs").value_or("");
    if (!exporting && (o.includeHidden || o.level || !o.pose.empty())) {
        why = "--include-hidden, --level and the pose options need --export";
        return false;
    }
    out = o;
    return true;
}

bool checkOutputOptions(const OutputOptions& options, const std::filesystem::path& recording,
                        std::string& why) {
    if (!options.exportPath) return true;
    PoseInput pose;
    if (!poseForRecording(recording, options.pose, pose, why)) return false;
    ResolvedPose resolved;
    return resolvePose(pose, resolved, why);
}

bool writeOutputs(const CloudStore& store, std::uint32_t layer,
                  const std::filesystem::path& recording, const OutputOptions& options,
                  std::uint16_t sourceId, MessageSink& sink) {
    if (!options.exportPath) return true;
    SurveyExportOptions o;
    o.includeHidden = options.includeHidden;
    o.level = options.level;
    o.firstSourceId = sourceId;
    std::string why;
    if (!poseForRecording(recording, options.pose, o.pose, why)) {
        sink.report("ERROR writing point cloud: " + options.exportPath->string() + ": " + why);
        return false;
    }
    SurveySource source;
    source.layer = layer;
    source.attitude = recordingAttitude(recording);
    return exportSurvey(store, {source}, *options.exportPath, o, sink);
}

} // namespace quarv::cli
