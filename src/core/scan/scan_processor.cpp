#include "core/scan/scan_processor.hpp"

#include "core/app/message_sink.hpp"
#include "core/app/notifier.hpp"
#include "core/cloud/cloud_export.hpp"
#include "core/cloud/cloud_renderer.hpp"
#include "core/cloud/cloud_store.hpp"
#include "core/cloud/las_file.hpp"
#include "core/config/config_root.hpp"

#include <algorithm>
#include <new>
#include <thread>

namespace quarv {

namespace {
constexpr auto kRefreshPeriod = std::chrono::seconds(1);
constexpr unsigned kMaxWorkers = 4;   // the default never uses more
constexpr unsigned kWorkerLimit = 16; // what a caller may ask for
// Stare pulses handed to the workers at once: enough for every worker to have work, few enough
// that a line of long waveforms is never held whole.
constexpr std::uint32_t kStareBatchPulses = 8192;
} // namespace

unsigned defaultWorkerCount() {
    const unsigned hw = std::thread::hardware_concurrency();
    return std::clamp(hw, 1u, kMaxWorkers);
}

ScanProcessor::ScanProcessor(CloudStore& store, CloudRenderer& renderer, const ConfigRoot& root,
                             MessageSink& sink, Notifier& notifier, unsigned workers)
    : store_(store), renderer_(renderer), sink_(sink), notifier_(notifier),
      mainProcessor_(root, sink), reader_(sink), filters_(store, notifier),
      templatePath_(root.pulseTemplatePath()) {
    mainProcessor_.setFullCorrelation(false);
    filters_.setStopFlag(&stop_);
    refreshTimer_ = std::chrono::steady_clock::now();
    const unsigned n = workers == 0 ? defaultWorkerCount() : std::min(workers, kWorkerLimit);
    for (unsigned k = 0; k < n; ++k) {
        workers_.push_back(std::make_unique<ScanWorker>(root, sink));
        workers_.back()->startThread();
    }
}

ScanProcessor::~ScanProcessor() {
    requestStop();
}

void ScanProcessor::setLayer(std::uint32_t layer) {
    currentLayer_ = std::min(layer, LAYER_COUNT - 1);
    store_.resetLayer(currentLayer_);
}

void ScanProcessor::loadSettings(const LaserScanSettings& settings) {
    settings_ = settings;
    shotsPerLine_ = settings.shotsPerLine();
    lines_ = settings.lines();
    mainProcessor_.setRangeWindow(settings.rangeMin(), settings.rangeMax());
}

void ScanProcessor::copyHeader(const ScannerCfg& scanner, const DigitizerCfg& digitizer,
                               const ProcessingCfg& processing, const EnvCfg& environment,
                               const CalibrationCfg& calibration, const PanTiltCfg& panTilt,
                               const AttitudeBlock& attitude) {
    scanner_ = scanner;
    digitizer_ = digitizer;
    processing_ = processing;
    environment_ = environment;
    calibration_ = calibration;
    panTilt_ = panTilt;
    attitude_ = attitude;
    // The tilt's sine and cosine are taken once per file.
    mount_ = MountRotation::fromPanTilt(panTilt_);
}

bool ScanProcessor::sizeLineArrays(std::uint32_t pulses, std::uint64_t samples,
                                   std::uint32_t points) {
    try {
        if (waveforms_.size() < samples) waveforms_.resize(samples);
        for (auto* v : {&range_, &position_}) {
            if (v->size() < pulses) v->resize(pulses);
        }
        for (auto* v : {&horPos_, &amplitude_, &snr_}) {
            if (v->size() < pulses) v->resize(pulses);
        }
        for (auto* v : {&valid_, &saturated_}) {
            if (v->size() < pulses) v->resize(pulses);
        }
        if (shotWords_.size() < pulses) shotWords_.resize(pulses);
        if (isPeakKind()) {
            for (auto& v : peak_)
                if (v.size() < pulses) v.resize(pulses);
        }
        for (auto* v : {&azimuth_, &elevation_}) {
            if (v->size() < points) v->resize(points);
        }
        // A point slot for every return a shot may have.
        const std::size_t slots = std::size_t(points) * returnsPerShot_;
        if (shotPoints_.size() < slots) shotPoints_.resize(slots);
        if (extras_.size() < slots) extras_.resize(slots);
        if (pointValid_.size() < points) pointValid_.resize(points);
        if (returnCount_.size() < points) returnCount_.resize(points);
        const std::size_t further = std::size_t(pulses) * (returnsPerShot_ - 1);
        for (auto* v : {&furtherRange_, &furtherPosition_})
            if (v->size() < further) v->resize(further);
        for (auto* v : {&furtherAmplitude_, &furtherSnr_})
            if (v->size() < further) v->resize(further);
        for (auto* v : {&furtherSaturated_, &furtherValid_})
            if (v->size() < further) v->resize(further);
    } catch (const std::bad_alloc&) {
        sink_.report(formatMessage("ERROR, Processing, allocating line buffers (%u shots of %u "
                                   "samples)!",
                                   pulses, static_cast<unsigned>(samples / (pulses ? pulses : 1))));
        return false;
    }
    // Shots beyond the record's azimuth readings (more pulses than W) have no reading of their
    // own: they keep 0 instead of whatever an earlier file left.
    std::fill(azimuth_.begin(), azimuth_.end(), 0.0f);
    return true;
}

bool ScanProcessor::openFile(const std::filesystem::path& path) {
    if (!reader_.open(path)) return false;
    const ScanGeometry g = reader_.geometry();
    kind_ = reader_.recordKind();
    const bool stare = kind_ == RecordKind::Stare || kind_ == RecordKind::PeakStare;
    if (stare && g.pulsesPerRecord == 0) {
        sink_.report(formatMessage("ERROR, Processing, a Stop and Stare file with no pulses per "
                                   "position: %s",
                                   path.c_str()));
        reader_.close();
        return false;
    }
    // Stare files hold one record per position, W to a line.
    const std::uint64_t records = reader_.recordCount();
    const std::uint64_t completeLines =
        stare ? (g.shotsPerLine ? records / g.shotsPerLine : 0) : records;
    if (completeLines == 0) {
        sink_.report(
            formatMessage("ERROR, Processing, no complete scan line in file: %s", path.c_str()));
        reader_.close();
        return false;
    }

    pointCounter_ = 0;
    refreshTimer_ = std::chrono::steady_clock::now();
    ScannerCfg scanner;
    DigitizerCfg digitizer;
    ProcessingCfg processing;
    EnvCfg environment;
    CalibrationCfg calibration;
    PanTiltCfg panTilt;
    AttitudeBlock attitude;
    reader_.copyHeader(scanner, digitizer, processing, environment, calibration, panTilt, attitude);
    copyHeader(scanner, digitizer, processing, environment, calibration, panTilt, attitude);

    // Points per line: a line record's P pulses (W azimuth readings), a bowtie sweep's 4W
    // pulses, a stare line's W positions. Stare lines go through the workers in batches of whole
    // positions, so that a line of many long waveforms never has to be held at once.
    const std::uint32_t p = g.pulsesPerRecord;
    std::uint32_t points = p, pulses = p, readings = std::max<std::uint32_t>(p, g.shotsPerLine);
    pulsesPerPoint_ = 0;
    if (g.isBowtie() && kind_ == RecordKind::Bowtie) {
        points = pulses = readings = g.bowtiePulses();
    } else if (stare) {
        points = readings = g.shotsPerLine;
        pulsesPerPoint_ = p;
        batchPoints_ = std::clamp<std::uint32_t>(kStareBatchPulses / p, 1, points);
        pulses = batchPoints_ * p;
    }
    shotsPerLine_ = points;
    lines_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(g.lines, completeLines));
    settings_.setShotsPerLine(points);
    settings_.setLines(lines_);
    const std::uint64_t samples = isPeakKind() ? 0 : std::uint64_t{pulses} * g.samplesPerPulse;
    // More than one return a shot only where a shot is a point of its own waveform.
    const std::uint32_t wanted = store_.layer(currentLayer_).returns;
    returnsPerShot_ = kind_ == RecordKind::Line || kind_ == RecordKind::Bowtie
                          ? std::clamp<std::uint32_t>(wanted, 1, kMaxReturns)
                          : 1;
    if (!sizeLineArrays(std::max(pulses, readings), samples, readings)) {
        reader_.close();
        return false;
    }

    // The run's window and threshold come from the layer it fills.
    const PointLayer& layer = store_.layer(currentLayer_);
    processing_.setRangeMin(layer.rangeMin);
    processing_.setRangeMax(layer.rangeMax);
    settings_.setRangeMin(layer.rangeMin);
    settings_.setRangeMax(layer.rangeMax);
    settings_.setSnrThreshold(layer.snrMin);
    layerLines_[currentLayer_] = lines_;
    layerHasLines_[currentLayer_] = true;

    // A missing or short template leaves the shipped pulse shape in the processors: the run
    // goes ahead, but the operator must know the calibration folder is damaged.
    if (!mainProcessor_.templateComplete())
        sink_.report(formatMessage("ERROR, Processing, pulse template %s missing or short, "
                                   "the shipped one is used",
                                   templatePath_.c_str()));
    bool configured = mainProcessor_.configure(digitizer_, processing_, calibration_);
    for (auto& w : workers_)
        configured =
            configured && w->configureWorker(settings_, digitizer_, processing_, calibration_);
    if (!configured) {
        reader_.close();
        return false;
    }
    // The search itself never leaves the record; the operator hears once per run when the
    // window they set reaches outside it that far.
    if (processing_.rangeMin() < 0.0)
        sink_.report("WARNING, Processing, range window start clamped to 0 m, the start of the "
                     "record");
    if (mainProcessor_.windowEndClamped())
        sink_.report(formatMessage("WARNING, Processing, range window end clamped to %.2f m, the "
                                   "end of the record",
                                   mainProcessor_.recordEndRange()));
    return reader_.readTrailer(temperatures_);
}

LineArrays ScanProcessor::arrays() {
    return {range_.data(), position_.data(),  amplitude_.data(),
            snr_.data(),   saturated_.data(), valid_.data()};
}

void ScanProcessor::clearShots(std::uint32_t shots) {
    std::fill_n(range_.begin(), shots, 0.0f);
    std::fill_n(position_.begin(), shots, 0.0f);
    std::fill_n(valid_.begin(), shots, std::uint8_t{0});
    std::fill_n(amplitude_.begin(), shots, 0.0);
    std::fill_n(snr_.begin(), shots, 0.0);
    std::fill_n(saturated_.begin(), shots, std::uint8_t{0});
    // Only the flags: a further return's other values are written whenever its flag is.
    if (returnsPerShot_ > 1)
        std::fill_n(furtherValid_.begin(), std::size_t(shots) * (returnsPerShot_ - 1),
                    std::uint8_t{0});
}

LineJob ScanProcessor::lineJob(std::uint32_t samplesPerWaveform) {
    LineJob job;
    job.waveforms = waveforms_.data();
    job.samplesPerWaveform = samplesPerWaveform;
    job.horPos = horPos_.data();
    job.tempA = temperatures_.first;
    job.tempB = temperatures_.second;
    job.out = arrays();
    return job;
}

LinePlacement ScanProcessor::placement(std::uint32_t firstPoint) {
    LinePlacement place;
    place.snrThreshold = settings_.snrThreshold();
    place.azimuth = azimuth_.data() + firstPoint;
    place.waterIndex = processing_.refractiveIndex();
    place.calibration = &calibration_;
    place.mount = &mount_;
    place.points = shotPoints_.data() + firstPoint;
    place.extras = extras_.data() + firstPoint;
    place.valid = pulsesPerPoint_ ? pointValid_.data() + firstPoint : valid_.data();
    place.pulsesPerPoint = pulsesPerPoint_;
    place.firstPoint = firstPoint;
    return place;
}

void ScanProcessor::runOnWorkers(LineJob job, std::uint32_t units) {
    // Contiguous shares: worker k takes units [k U / n, (k + 1) U / n).
    const std::uint64_t n = workers_.size();
    std::array<bool, kWorkerLimit> started{};
    for (std::uint64_t k = 0; k < n; ++k) {
        job.first = static_cast<std::uint32_t>(units * k / n);
        job.end = static_cast<std::uint32_t>(units * (k + 1) / n);
        if (job.first == job.end) continue;
        workers_[k]->startJob(job);
        started[k] = true;
    }
    for (std::uint64_t k = 0; k < n; ++k)
        if (started[k]) workers_[k]->waitDone();
}

bool ScanProcessor::processLine(std::uint32_t line) {
    const std::uint32_t points = shotsPerLine_;
    const std::uint32_t samples = digitizer_.samplesPerPulse();
    if (!reader_.isOpen() || points == 0 || line >= lines_) return false;
    switch (kind_) {
    case RecordKind::Line:
    case RecordKind::Bowtie: {
        clearShots(points);
        float elevation = 0.0f;
        const bool read =
            kind_ == RecordKind::Line
                ? reader_.readLineShots(line, azimuth_, std::span(horPos_.data(), points),
                                        std::span(shotWords_.data(), points), elevation)
                : reader_.readBowtieShots(line, azimuth_, elevation_, horPos_, shotWords_);
        if (!read) return false;
        // The workers read the samples of their own shots and place their points, so that only
        // the hand-over and the commit in shot order are left to this thread.
        LinePlacement place = placement(0);
        if (kind_ == RecordKind::Line)
            place.elevationDeg = elevationDegrees(elevation, calibration_);
        else
            place.elevation = elevation_.data(); // every pulse of a sweep has its own
        LineJob job = lineJob(samples);
        job.source = &reader_;
        job.record = line;
        job.placement = &place;
        if (returnsPerShot_ > 1) {
            place.returnsPerShot = returnsPerShot_;
            place.returnCount = returnCount_.data();
            job.further = {furtherRange_.data(), furtherPosition_.data(), furtherAmplitude_.data(),
                           furtherSnr_.data(),   furtherSaturated_.data(), furtherValid_.data()};
            job.furtherPerShot = returnsPerShot_ - 1;
        }
        runOnWorkers(job, points);
        break;
    }
    case RecordKind::Stare:
        for (std::uint32_t c0 = 0; c0 < points; c0 += batchPoints_) {
            const std::uint32_t batch = std::min(batchPoints_, points - c0);
            clearShots(batch * pulsesPerPoint_);
            LinePlacement place = placement(c0);
            place.elevation = elevation_.data() + c0;
            LineJob job = lineJob(samples);
            job.source = &reader_;
            job.record = std::uint64_t{line} * points + c0;
            job.words = shotWords_.data();
            job.positionAzimuth = azimuth_.data() + c0;
            job.positionElevation = elevation_.data() + c0;
            job.placement = &place;
            runOnWorkers(job, batch);
        }
        break;
    case RecordKind::PeakLine: {
        clearShots(points);
        float elevation = 0.0f;
        auto& v = peak_;
        if (!reader_.readPeakLine(line, elevation, azimuth_, v[0], v[1], v[2], v[3])) return false;
        // No waveform to process: the ranges follow from the stored positions on this thread.
        const PeakValues values{v[0].data(), v[1].data(), v[2].data(), v[3].data()};
        const LineArrays out = arrays();
        for (std::uint32_t s = 0; s < points; ++s)
            takePeak(mainProcessor_, settings_, values, temperatures_.first, temperatures_.second,
                     out, s);
        LinePlacement place = placement(0);
        place.elevationDeg = elevationDegrees(elevation, calibration_);
        placeShots(place, out, 0, points);
        break;
    }
    case RecordKind::PeakStare: {
        const std::uint32_t p = pulsesPerPoint_;
        for (std::uint32_t c0 = 0; c0 < points; c0 += batchPoints_) {
            const std::uint32_t batch = std::min(batchPoints_, points - c0);
            clearShots(batch * p);
            auto& v = peak_;
            if (!reader_.readPeakStarePositions(line, c0, batch, std::span(azimuth_).subspan(c0),
                                                std::span(elevation_).subspan(c0), v[0], v[1], v[2],
                                                v[3]))
                return false;
            const PeakValues values{v[0].data(), v[1].data(), v[2].data(), v[3].data()};
            const LineArrays out = arrays();
            for (std::uint32_t s = 0; s < batch * p; ++s)
                takePeak(mainProcessor_, settings_, values, temperatures_.first,
                         temperatures_.second, out, s);
            LinePlacement place = placement(c0);
            place.elevation = elevation_.data() + c0;
            placeShots(place, out, 0, batch);
        }
        break;
    }
    }
    lineToPoints(line, pulsesPerPoint_ ? pointValid_.data() : valid_.data());
    return true;
}

void ScanProcessor::refreshDisplay(std::uint32_t layer) {
    renderer_.filterLayer(layer);
    renderer_.colorize(layer);
    renderer_.markDirty();
    store_.markChanged();
}

void ScanProcessor::recolour(std::uint32_t layer) {
    renderer_.colorize(layer);
    renderer_.markDirty();
    store_.markChanged();
}

void ScanProcessor::centroidToView(std::uint32_t layer) {
    float x = 0, y = 0, z = 0;
    if (store_.centroid(layer, x, y, z)) notifier_.setTarget(x, y, z);
}

void ScanProcessor::lineToPoints(std::uint32_t line, const std::uint8_t* valid) {
    const std::uint32_t layer = currentLayer_;
    const auto commit = [&](std::uint32_t at) {
        CloudPoint& p = store_.nextSlot(layer);
        p = shotPoints_[at];
        p.sequence = pointCounter_++;
        p.line = static_cast<std::uint16_t>(line);
        store_.nextExtra(layer) = extras_[at];
        store_.addStatistics(layer, p.saturated != 0, p.range, p.amplitude, p.snr, p);
        store_.commit(layer);
    };
    const std::uint32_t perShot = isMultiReturn() ? returnsPerShot_ : 1;
    for (std::uint32_t s = 0; s < shotsPerLine_; ++s) {
        if (perShot > 1) {
            for (std::uint32_t r = 0; r < returnCount_[s]; ++r) commit(s * perShot + r);
        } else if (valid[s]) {
            commit(s);
        }
    }

    // The next run's window starts from the extent seen in this one. A layer that has seen no
    // point yet keeps its window (the reset extent would be an empty, inverted window).
    PointLayer& rec = store_.layer(layer);
    if (rec.rangeSeenMin <= rec.rangeSeenMax) {
        rec.rangeMin = rec.rangeSeenMin;
        rec.rangeMax = rec.rangeSeenMax;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - refreshTimer_ > kRefreshPeriod) {
        refreshTimer_ = now;
        refreshDisplay(layer);
        // The view turns about the centroid. Taken with the refresh rather than after every
        // line: the view only redraws on a refresh, and the centroid walks the whole layer.
        centroidToView(layer);
        notifier_.cloudChanged();
    }
}

void ScanProcessor::peakToPoint(float elevationReading, std::uint16_t line, float azimuthReading,
                                float range, float intensity, bool saturated, double waterIndex) {
    const std::uint32_t layer = currentLayer_;
    CloudPoint& p = store_.nextSlot(layer);
    p = CloudPoint{};
    placeShot(p, azimuthReading, elevationDegrees(elevationReading, calibration_), range,
              calibration_, mount_, waterIndex);
    p.elevation = elevationReading; // the reading itself, as the cloud file stores it
    p.amplitude = intensity;
    p.snr = intensity;
    p.saturated = saturated ? 1 : 0;
    p.valid = 1;
    p.sequence = pointCounter_++;
    p.line = line;
    store_.nextExtra(layer) = PointExtra{};
    store_.addStatistics(layer, saturated, p.range, p.amplitude, p.snr, p);
    store_.commit(layer);
}

void ScanProcessor::endOfLayer(std::uint32_t layer) {
    centroidToView(layer);
    PointLayer& rec = store_.layer(layer);
    if (rec.rangeSeenMin <= rec.rangeSeenMax) {
        rec.rangeMin = rec.rangeSeenMin;
        rec.rangeMax = rec.rangeSeenMax;
    }
    refreshDisplay(layer);
    notifier_.cloudChanged();
}

bool ScanProcessor::rebuildFromCloudFile(CloudFile& file) {
    if (!file.isOpen()) return false;
    pointCounter_ = 0;
    const CloudFileHeader& h = file.header();
    copyHeader(h.scanner, h.digitizer, h.processing, h.environment, h.calibration, h.panTilt,
               h.attitude);
    settings_.setRangeMin(static_cast<float>(processing_.rangeMin()));
    settings_.setRangeMax(static_cast<float>(processing_.rangeMax()));
    settings_.setSnrThreshold(static_cast<float>(processing_.snrThreshold()));
    mainProcessor_.configure(digitizer_, processing_, calibration_);
    lines_ = scanner_.lines();
    shotsPerLine_ = digitizer_.pulsesPerRecord();
    layerLines_[currentLayer_] = lines_;
    layerHasLines_[currentLayer_] = true;

    const double nWater = processing_.refractiveIndex();
    const double scale = file.cloudBlock().amplitudeScale;
    const std::uint64_t total = file.cloudBlock().pointTotal;
    std::uint64_t read = 0;
    bool ended = false;
    while (read < total && !ended && !stopping()) {
        CloudLineHeader line;
        if (!file.readLineHeader(line)) break;
        for (std::uint32_t i = 0; i < line.recordCount; ++i) {
            CloudRecord record{};
            if (!file.readPoint(record)) {
                ended = true; // a robust reader stops at the end of the file
                break;
            }
            const DecodedCloudRecord d = decodeCloudRecord(record, scale);
            // The amplitude byte 255 is the producer's mark of a saturated return.
            peakToPoint(line.elevationReading, line.lineNumber,
                        static_cast<float>(d.azimuthReading), d.range, d.amplitude,
                        record[5] == 255, nWater);
            ++read;
        }
    }
    endOfLayer(currentLayer_);
    return true;
}

bool ScanProcessor::importLas(LasFile& file) {
    pointCounter_ = 0;
    fillLayerFromLas(file, store_, currentLayer_);
    // Imported points carry no scan lines: the clutter filters see one line.
    layerLines_[currentLayer_] = 1;
    layerHasLines_[currentLayer_] = false;
    endOfLayer(currentLayer_);
    return true;
}

void ScanProcessor::buildLineTable(std::uint32_t layer) {
    filters_.buildLineTable(layer, layerLines_[layer]);
}

} // namespace quarv
