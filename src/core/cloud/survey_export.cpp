#include "core/cloud/survey_export.hpp"

#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_file.hpp"
#include "core/cloud/las_header.hpp"
#include "core/cloud/survey_records.hpp"
#include "core/config/atomic_file.hpp"
#include "core/geo/crs.hpp"
#include "core/scanfile/playback_file.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>

namespace quarv {

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string layerName(const PointLayer& rec) {
    return std::string(rec.name.data(), strnlen(rec.name.data(), rec.name.size()));
}

// The points of one source, in slot order, with their transform.
struct Pass {
    const CloudStore& store;
    const std::vector<SurveySource>& sources;
    const std::vector<RigidTransform>& transforms;
    bool includeHidden;
    std::uint16_t firstSourceId;
    std::vector<std::uint32_t> counts; // slots of each source, taken once for both passes

    template <typename Fn> void forEach(Fn&& fn) const {
        for (std::size_t k = 0; k < sources.size(); ++k) {
            const std::uint32_t l = sources[k].layer;
            const PointLayer& rec = store.layer(l);
            if (!rec.points) continue;
            const RigidTransform& t = transforms[k];
            SurveyPoint s;
            s.layer = static_cast<std::uint8_t>(l);
            s.sourceId = static_cast<std::uint16_t>(firstSourceId + k);
            const std::uint32_t n = counts[k];
            for (std::uint32_t i = 0; i < n; ++i) {
                const CloudPoint& p = rec.points[i];
                s.hidden = !p.isValid();
                if (s.hidden && !includeHidden) continue;
                const auto w = t.apply(p.x, p.y, p.z);
                s.x = w[0], s.y = w[1], s.z = w[2];
                s.point = &p;
                s.extra = rec.extras ? rec.extras[i] : PointExtra{};
                fn(s);
            }
        }
    }
};

// Records are gathered into a buffer of about this many bytes before each write.
constexpr std::size_t kBufferBytes = 1 << 20;

} // namespace

std::optional<SurveyFormat> surveyFormatOf(const std::filesystem::path& path) {
    const std::string ext = lower(path.extension().string());
    if (ext == ".las") return SurveyFormat::Las;
    if (ext == ".ply") return SurveyFormat::Ply;
    return std::nullopt;
}

Attitude recordingAttitude(const std::filesystem::path& recording) {
    NullSink quiet;
    AttitudeBlock a;
    if (lower(recording.extension().string()) == ".3dc") {
        CloudFile cloud;
        if (!cloud.open(recording, quiet)) return {};
        a = cloud.header().attitude;
    } else {
        PlaybackFile playback(quiet);
        if (!playback.open(recording)) return {};
        a = playback.headerImage().attitude();
    }
    const Attitude att{a.pitchAngle(), a.rollAngle()};
    return std::isfinite(att.pitchDeg) && std::isfinite(att.rollDeg) ? att : Attitude{};
}

bool exportSurvey(const CloudStore& store, const std::vector<SurveySource>& sources,
                  const std::filesystem::path& path, const SurveyExportOptions& options,
                  MessageSink& sink) {
    auto fail = [&](const std::string& why) {
        sink.report("ERROR writing point cloud: " + path.string() + ": " + why);
        return false;
    };
    const auto format = surveyFormatOf(path);
    if (!format) return fail("the name must end in .las or .ply");
    for (const SurveySource& s : sources)
        if (s.layer >= LAYER_COUNT) return fail("no layer " + std::to_string(s.layer));
    ResolvedPose pose;
    std::string why;
    if (!resolvePose(options.pose, pose, why)) return fail(why);

    std::vector<RigidTransform> transforms;
    std::vector<std::string> comments;
    for (const SurveySource& s : sources) {
        const std::string name = layerName(store.layer(s.layer));
        RigidTransform t;
        if (options.level) t = levelling(s.attitude ? *s.attitude : recordingAttitude(name));
        if (pose.placed) t = t.then(pose.transform());
        transforms.push_back(t);
        comments.push_back("recording " +
                           std::to_string(options.firstSourceId + transforms.size() - 1) +
                           " layer " + std::to_string(s.layer) + " " + name);
    }
    Pass pass{store, sources, transforms, options.includeHidden, options.firstSourceId, {}};
    for (const SurveySource& s : sources) pass.counts.push_back(store.pointCount(s.layer));

    // First pass: count and extent, which both headers need before the first record.
    Las14Layout layout;
    double lo[3] = {std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
                    std::numeric_limits<double>::max()};
    double hi[3] = {std::numeric_limits<double>::lowest(), std::numeric_limits<double>::lowest(),
                    std::numeric_limits<double>::lowest()};
    pass.forEach([&](const SurveyPoint& s) {
        ++layout.pointCount;
        ++layout.byReturn[std::clamp<unsigned>(s.extra.returnNumber, 1, 15) - 1];
        const double v[3] = {s.x, s.y, s.z};
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], v[a]);
            hi[a] = std::max(hi[a], v[a]);
        }
    });
    if (layout.pointCount == 0) std::fill(lo, lo + 3, 0.0), std::fill(hi, hi + 3, 0.0);
    for (int a = 0; a < 3; ++a) {
        layout.offset[a] = std::nearbyint((lo[a] + hi[a]) / 2);
        // 0.1 mm steps in a 32-bit integer reach 214 km either side of the offset.
        if (hi[a] - lo[a] > 4.0e5) return fail("the points span more than 400 km");
    }
    layout.minX = lo[0], layout.maxX = hi[0], layout.minY = lo[1], layout.maxY = hi[1];
    layout.minZ = lo[2], layout.maxZ = hi[2];
    layout.wkt = pose.wkt;

    AtomicFileWriter out;
    if (!out.open(path)) return fail("cannot create the file");
    bool ok = true;
    std::size_t length = 0;
    if (*format == SurveyFormat::Las) {
        const LasDate date = LasDate::today();
        const auto prologue = encodeLas14Prologue(layout, date.dayOfYear, date.year);
        ok = out.write(prologue.data(), prologue.size());
        length = kLas14RecordLength;
    } else {
        if (!pose.crsName.empty()) {
            comments.push_back("crs " + pose.crsName);
            comments.push_back("crs_wkt " + pose.wkt);
        }
        const std::string header = plyHeader(layout.pointCount, comments);
        ok = out.write(header.data(), header.size());
        length = kPlyRecordLength;
    }
    std::vector<std::uint8_t> buffer(kBufferBytes / length * length);
    std::size_t used = 0;
    std::uint64_t written = 0;
    const bool las = *format == SurveyFormat::Las;
    pass.forEach([&](const SurveyPoint& s) {
        // A filter that ran between the passes could change how many points are visible: the
        // records stop at the count the header announces.
        if (written == layout.pointCount) return;
        ++written;
        if (las)
            encodeLas14Record(s, layout.offset, buffer.data() + used);
        else
            encodePlyRecord(s, buffer.data() + used);
        used += length;
        if (used == buffer.size()) {
            ok = out.write(buffer.data(), used) && ok;
            used = 0;
        }
    });
    ok = out.write(buffer.data(), used) && ok;
    if (written != layout.pointCount) {
        out.abandon();
        return fail("the layer changed while it was written");
    }
    if (!ok || !out.commit()) {
        out.abandon();
        return fail("write failed");
    }
    return true;
}

} // namespace quarv
