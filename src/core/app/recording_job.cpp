#include "core/app/recording_job.hpp"

#include "core/app/notifier.hpp"
#include "core/cloud/cloud_renderer.hpp"
#include "core/cloud/cloud_store.hpp"
#include "core/config/atomic_file.hpp"
#include "core/config/config_root.hpp"
#include "core/config/layer_list.hpp"
#include "core/scan/processing_session.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace quarv {
namespace {

const char* kindName(ProcessRequest request, RecordKind kind) {
    if (request == ProcessRequest::ImportLas) return "LAS";
    if (request == ProcessRequest::ProcessCloudFile) return "cloud file";
    return recordKindName(kind);
}

} // namespace

RecordingJob::RecordingJob(const ConfigRoot& root, MessageSink& sink, Notifier& notifier,
                           unsigned workers)
    : root_(root), sink_(sink), notifier_(notifier), workers_(workers),
      store_(std::make_unique<CloudStore>()), renderer_(std::make_unique<CloudRenderer>(*store_)) {}

RecordingJob::~RecordingJob() = default;

bool RecordingJob::allocated() const {
    return store_->allocated();
}

bool RecordingJob::run(const std::filesystem::path& file, std::uint32_t layer,
                       const LayerOverrides& overrides) {
    summary_ = JobSummary{};
    if (layer >= LAYER_COUNT) layer = LAYER_COUNT - 1;
    readLayerList(store_->layers(), LAYER_COUNT, root_, "layers");
    store_->resetAll();
    PointLayer& rec = store_->layer(layer);
    if (overrides.rangeMin) rec.rangeMin = *overrides.rangeMin;
    if (overrides.rangeMax) rec.rangeMax = *overrides.rangeMax;
    if (overrides.snrMin) rec.snrMin = *overrides.snrMin;
    if (overrides.filterDistance) rec.filterDistance = *overrides.filterDistance;
    if (overrides.noFilter) rec.neighbourFilter = 0;
    if (overrides.showSaturated) rec.showSaturated = 1;
    if (overrides.returns) rec.returns = *overrides.returns;
    if (overrides.returnsShown) rec.returnsShown = *overrides.returnsShown;

    const auto t0 = std::chrono::steady_clock::now();
    const ProcessRequest request = requestForPath(file);
    summary_.request = request;
    bool ok = false;
    {
        ProcessingSession session(*store_, *renderer_, root_, sink_, notifier_, workers_);
        // The build dialog's own values follow the layer, so laserscan.cfg records the run.
        session.setRangeWindow(rec.rangeMin, rec.rangeMax);
        session.setSnrMin(rec.snrMin);
        const int before = sink_.count.load();
        bool opened = false;
        if (request == ProcessRequest::ImportLas)
            opened = session.openLas(file);
        else if (request == ProcessRequest::ProcessCloudFile)
            opened = session.openCloudFile(file);
        else
            opened = session.openPlayback(file);
        if (!opened) {
            if (sink_.count.load() == before)
                sink_.report(formatMessage("ERROR opening file: %s", file.c_str()));
            return false;
        }
        summary_.kind = kindName(request, session.reader().recordKind());
        const std::uint32_t refusedBefore = session.refusedRuns();
        session.setRequest(request);
        if (session.startProcessing(layer)) {
            while (!session.waitUntilIdle(std::chrono::hours(1))) {
            }
            ok = session.refusedRuns() == refusedBefore;
            const ScanProcessor& engine = session.engine();
            summary_.lines = engine.layerLines(layer);
            summary_.shotsPerLine = engine.shotsPerLine();
            summary_.waveforms = std::uint64_t{summary_.lines} * summary_.shotsPerLine;
        }
    }
    summary_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    summary_.points = store_->pointCount(layer);
    summary_.visible = store_->countVisible(layer, true);
    for (std::uint32_t i = 0; i < summary_.points; ++i) {
        const CloudPoint& p = store_->point(layer, i);
        if (!p.isValid() && passesLayerFilter(rec, p, store_->extra(layer, i)))
            ++summary_.removedByFilter;
    }
    summary_.rangeMin = rec.rangeMin;
    summary_.rangeMax = rec.rangeMax;
    summary_.snrMin = rec.snrMin;
    return ok;
}

bool writePointsCsv(const CloudStore& store, std::uint32_t layer, const std::filesystem::path& path,
                    MessageSink& sink, bool returns) {
    AtomicFileWriter out;
    if (!out.open(path)) {
        sink.report(formatMessage("ERROR writing points file: %s", path.c_str()));
        return false;
    }
    std::FILE* f = out.stream();
    std::fputs("x,y,z,azimuth,elevation,range,amplitude,snr,saturated,valid,sequence,line,"
               "peakPosition",
               f);
    std::fputs(returns ? ",returnNumber,numberOfReturns\n" : "\n", f);
    const std::uint32_t n = store.pointCount(layer);
    for (std::uint32_t i = 0; i < n; ++i) {
        const CloudPoint& p = store.point(layer, i);
        std::fprintf(f, "%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%u,%u,%u,%u,%.9g", double(p.x),
                     double(p.y), double(p.z), double(p.azimuth), double(p.elevation),
                     double(p.range), double(p.amplitude), double(p.snr), unsigned(p.saturated),
                     unsigned(p.isValid()), unsigned(p.sequence), unsigned(p.line),
                     double(p.peakPosition));
        if (returns) {
            // A point with no return number (imported) is its pulse's only return.
            const PointExtra& e = store.extra(layer, i);
            std::fprintf(f, ",%u,%u", std::max(1u, unsigned{e.returnNumber}),
                         std::max(1u, unsigned{e.numberOfReturns}));
        }
        std::fputc('\n', f);
    }
    if (std::ferror(f) || !out.commit()) {
        sink.report(formatMessage("ERROR writing points file: %s", path.c_str()));
        return false;
    }
    return true;
}

} // namespace quarv
