#include "core/scan/scan_worker.hpp"

#include "core/waveform/constants.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace quarv {

namespace {

// A return into slot i of the arrays when it passes the gate and its amplitude word read as
// signed is not negative.
void store(const LaserScanSettings& settings, const LineArrays& o, std::size_t i, float range,
           float position, double snr, bool saturated, std::uint16_t amplitude) {
    if (settings.rangeGate() != 0 &&
        !(settings.rangeMin() <= range && range <= settings.rangeMax()))
        return;
    o.range[i] = range;
    o.position[i] = position;
    o.snr[i] = snr;
    o.saturated[i] = saturated ? 1 : 0;
    o.amplitude[i] = static_cast<std::int16_t>(amplitude);
    o.valid[i] = 1;
    if (o.amplitude[i] < 0) {
        o.valid[i] = 0;
        o.amplitude[i] = 0;
        o.snr[i] = 0;
    }
}

} // namespace

void takeShot(WaveformProcessor& processor, const LaserScanSettings& settings, const LineJob& job,
              std::uint32_t s) {
    float range = 0.0f, position = 0.0f;
    std::uint16_t amplitude = 0;
    bool saturated = false, found = false;
    const double horPos = job.horPos[s];
    processor.processWaveformPos(
        job.waveforms + static_cast<std::size_t>(s) * job.samplesPerWaveform, range, position,
        horPos, job.tempA, job.tempB, amplitude, saturated, found);
    if (!found) return;
    if (settings.rangeGate() == 0 || (settings.rangeMin() <= range && range <= settings.rangeMax()))
        store(settings, job.out, s, range, position, processor.computeSnr(), saturated, amplitude);
    const std::uint32_t perShot = job.furtherPerShot;
    if (perShot == 0) return;
    std::array<WaveformProcessor::FurtherReturn, 8> further;
    const int got =
        processor.furtherReturns(static_cast<int>(std::min<std::size_t>(perShot, further.size())),
                                 settings.snrThreshold(), further.data());
    std::size_t slot = std::size_t(s) * perShot;
    for (int j = 0; j < got; ++j) {
        double p = further[j].position;
        float r = 0.0f;
        processor.rangeFromPosition(p, r, horPos, job.tempA, job.tempB);
        const LineArrays& o = job.further;
        store(settings, o, slot, r, static_cast<float>(p), further[j].snr, further[j].saturated,
              further[j].amplitude);
        if (o.valid[slot]) ++slot;
    }
}

void takePeak(WaveformProcessor& processor, const LaserScanSettings& settings,
              const PeakValues& values, double tempA, double tempB, const LineArrays& out,
              std::uint32_t s) {
    double position = values.position[s];
    const double horPos = values.horPos[s], amplitude = values.amplitude[s], snr = values.snr[s];
    if (position == 0.0 && amplitude == 0.0) return; // the instrument found no return
    if (!std::isfinite(position) || !std::isfinite(horPos) || !std::isfinite(amplitude) ||
        !std::isfinite(snr) || position < 0.0 || amplitude < 0.0)
        return;
    float range = 0.0f;
    processor.rangeFromPosition(position, range, horPos, tempA, tempB);
    if (!std::isfinite(range)) return;
    if (settings.rangeGate() != 0 &&
        !(settings.rangeMin() <= range && range <= settings.rangeMax()))
        return;
    out.range[s] = range;
    out.position[s] = static_cast<float>(position);
    out.snr[s] = snr;
    out.saturated[s] = amplitude >= SATURATION_LEVEL ? 1 : 0;
    out.amplitude[s] = amplitude;
    out.valid[s] = 1;
}

namespace {

// The point at points[at] of shot or position i from its range and angles.
CloudPoint& place(const LinePlacement& place, std::uint32_t i, float range, std::uint32_t at) {
    const double elDeg = place.elevation ? elevationDegrees(place.elevation[i], *place.calibration)
                                         : place.elevationDeg;
    CloudPoint& p = place.points[at];
    p = CloudPoint{};
    placeShot(p, place.azimuth[i], elDeg, range, *place.calibration, *place.mount,
              place.waterIndex);
    p.valid = 1;
    return p;
}
CloudPoint& place(const LinePlacement& where, std::uint32_t i, float range) {
    return place(where, i, range, i);
}

// The returns of shot s that pass the threshold, ordered by range, as points s R + r.
void placeReturns(const LinePlacement& where, const LineArrays& o, const LineArrays& further,
                  std::uint32_t s) {
    const std::uint32_t perShot = where.returnsPerShot;
    struct Return {
        const LineArrays* from;
        std::size_t i;
    };
    std::array<Return, 8> found{};
    std::uint32_t n = 0;
    if (o.valid[s]) found[n++] = {&o, s};
    for (std::uint32_t j = 0; j + 1 < perShot && n < found.size(); ++j) {
        const std::size_t i = std::size_t(s) * (perShot - 1) + j;
        if (!further.valid[i]) break;
        if (where.snrThreshold > further.snr[i]) continue;
        found[n++] = {&further, i};
    }
    std::stable_sort(found.begin(), found.begin() + n, [](const Return& a, const Return& b) {
        return a.from->range[a.i] < b.from->range[b.i];
    });
    std::uint32_t strongest = 0;
    for (std::uint32_t r = 1; r < n; ++r)
        if (found[r].from->amplitude[found[r].i] >
            found[strongest].from->amplitude[found[strongest].i])
            strongest = r;
    where.returnCount[s] = static_cast<std::uint8_t>(n);
    for (std::uint32_t r = 0; r < n; ++r) {
        const LineArrays& a = *found[r].from;
        const std::size_t i = found[r].i;
        const std::uint32_t at = s * perShot + r;
        CloudPoint& p = place(where, s, a.range[i], at);
        p.amplitude = static_cast<float>(a.amplitude[i]);
        p.snr = static_cast<float>(a.snr[i]);
        p.saturated = a.saturated[i];
        p.peakPosition = a.position[i];
        where.extras[at] = PointExtra{where.firstPoint + s,
                                      0.0f,
                                      1,
                                      static_cast<std::uint8_t>(r + 1),
                                      static_cast<std::uint8_t>(n),
                                      static_cast<std::uint8_t>(strongest + 1)};
    }
}

} // namespace

void placeShots(const LinePlacement& place, const LineArrays& o, std::uint32_t first,
                std::uint32_t end, const LineArrays* further) {
    const std::uint32_t perPoint = place.pulsesPerPoint;
    // A shot stays when its SNR reaches the threshold.
    const std::uint32_t shotsFrom = perPoint ? first * perPoint : first;
    const std::uint32_t shotsTo = perPoint ? end * perPoint : end;
    for (std::uint32_t s = shotsFrom; s < shotsTo; ++s)
        if (place.snrThreshold > o.snr[s]) o.valid[s] = 0;
    if (perPoint == 0 && place.returnsPerShot > 1 && further) {
        for (std::uint32_t s = first; s < end; ++s) placeReturns(place, o, *further, s);
        return;
    }
    if (perPoint == 0) {
        for (std::uint32_t s = first; s < end; ++s) {
            if (!o.valid[s]) continue;
            CloudPoint& p = quarv::place(place, s, o.range[s]);
            p.amplitude = static_cast<float>(o.amplitude[s]);
            p.snr = static_cast<float>(o.snr[s]);
            p.saturated = o.saturated[s];
            p.peakPosition = o.position[s];
            place.extras[s] = PointExtra{place.firstPoint + s, 0.0f, 1, 1, 1, 1};
        }
        return;
    }
    for (std::uint32_t i = first; i < end; ++i) {
        place.valid[i] = 0;
        std::uint32_t used = 0, strongest = 0;
        double sumRange = 0, sumPosition = 0;
        std::uint8_t saturated = 0;
        for (std::uint32_t s = i * perPoint; s < (i + 1) * perPoint; ++s) {
            if (!o.valid[s]) continue;
            if (used == 0 || o.amplitude[s] > o.amplitude[strongest]) strongest = s;
            ++used;
            sumRange += o.range[s];
            sumPosition += o.position[s];
            saturated |= o.saturated[s];
        }
        if (used == 0) continue;
        const double meanRange = sumRange / used;
        // The spread of the ranges the point averages (n - 1 in the divisor: a sample of the
        // position's true range), 0 for a single pulse.
        double squares = 0;
        for (std::uint32_t s = i * perPoint; s < (i + 1) * perPoint; ++s)
            if (o.valid[s]) squares += (o.range[s] - meanRange) * (o.range[s] - meanRange);
        const double deviation = used > 1 ? std::sqrt(squares / (used - 1)) : 0.0;
        CloudPoint& p = quarv::place(place, i, static_cast<float>(meanRange));
        p.amplitude = static_cast<float>(o.amplitude[strongest]);
        p.snr = static_cast<float>(o.snr[strongest]);
        p.saturated = saturated;
        p.peakPosition = static_cast<float>(sumPosition / used);
        place.extras[i] = PointExtra{place.firstPoint + i,
                                     static_cast<float>(deviation),
                                     static_cast<std::uint16_t>(used),
                                     1,
                                     1,
                                     1};
        place.valid[i] = 1;
    }
}

void runJob(WaveformProcessor& processor, const LaserScanSettings& settings, const LineJob& job) {
    const std::size_t n = job.samplesPerWaveform;
    const LinePlacement* place = job.placement;
    const std::uint32_t perPoint = place ? place->pulsesPerPoint : 0;
    // For Stop and Stare the job's range is positions; its shots are their pulses.
    const std::uint32_t first = perPoint ? job.first * perPoint : job.first;
    const std::uint32_t end = perPoint ? job.end * perPoint : job.end;
    if (job.source && perPoint) {
        // The positions of a share follow each other in the file: one read for all of them.
        thread_local std::vector<std::uint8_t> scratch;
        const std::uint32_t count = job.end - job.first;
        job.source->readStarePositions(
            job.record + job.first, count, job.positionAzimuth + job.first,
            job.positionElevation + job.first,
            std::span(job.horPos + first, std::size_t(count) * perPoint),
            std::span(job.words + first, std::size_t(count) * perPoint),
            std::span(job.waveforms + std::size_t(first) * n, std::size_t(count) * perPoint * n),
            scratch);
    } else if (job.source) {
        const std::span share(job.waveforms + std::size_t(first) * n, std::size_t(end - first) * n);
        job.source->readPulseSamples(job.record, first, end, share);
    }
    for (std::uint32_t s = first; s < end; ++s) takeShot(processor, settings, job, s);
    if (place) placeShots(*place, job.out, job.first, job.end, &job.further);
}

ScanWorker::ScanWorker(const ConfigRoot& root, MessageSink& sink) : processor_(root, sink) {
    thread_.init("Process Scan Thread", 5, 0x10000);
    // Created taken, so that the worker's first wait blocks until a job is handed over.
    start_.create(0, 1);
    finished_.create(0, 1);
    // The pipeline reads only the results: the correlation is computed where the peak search
    // looks, not over the whole record.
    processor_.setFullCorrelation(false);
}

ScanWorker::~ScanWorker() {
    run_.store(false, std::memory_order_release);
    start_.close();
    thread_.join();
}

void ScanWorker::startThread() {
    thread_.start(&ScanWorker::loop, this);
}

bool ScanWorker::configureWorker(const LaserScanSettings& settings, const DigitizerCfg& digitizer,
                                 const ProcessingCfg& processing,
                                 const CalibrationCfg& calibration) {
    settings_ = settings;
    shotsPerLine_ = settings.shotsPerLine();
    lines_ = settings.lines();
    processor_.setRangeWindow(settings.rangeMin(), settings.rangeMax());
    ProcessingCfg windowed = processing;
    windowed.setRangeMin(settings.rangeMin());
    windowed.setRangeMax(settings.rangeMax());
    return processor_.configure(digitizer, windowed, calibration);
}

void ScanWorker::startJob(const LineJob& job) {
    done_.store(false, std::memory_order_relaxed);
    job_ = job;
    start_.release();
}

void ScanWorker::waitDone() {
    finished_.wait();
}

void ScanWorker::loop(void* self) {
    auto& w = *static_cast<ScanWorker*>(self);
    while (w.run_.load(std::memory_order_acquire)) {
        if (!w.start_.wait()) break; // closed: the worker is being destroyed
        runJob(w.processor_, w.settings_, w.job_);
        w.done_.store(true, std::memory_order_release);
        w.finished_.release();
    }
}

} // namespace quarv
