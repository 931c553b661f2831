#include "core/scan/scan_worker.hpp"

namespace quarv {

void takeShot(WaveformProcessor& processor, const LaserScanSettings& settings, const LineJob& job,
              std::uint32_t s) {
    float range = 0.0f, position = 0.0f;
    std::uint16_t amplitude = 0;
    bool saturated = false, found = false;
    processor.processWaveformPos(
        job.waveforms + static_cast<std::size_t>(s) * job.samplesPerWaveform, range, position,
        job.horPos[s], job.tempA, job.tempB, amplitude, saturated, found);
    if (!found) return;
    if (settings.rangeGate() != 0 &&
        !(settings.rangeMin() <= range && range <= settings.rangeMax()))
        return;
    const LineArrays& o = job.out;
    o.range[s] = range;
    o.position[s] = position;
    o.snr[s] = processor.computeSnr();
    o.saturated[s] = saturated ? 1 : 0;
    o.amplitude[s] = static_cast<std::int16_t>(amplitude);
    o.valid[s] = 1;
    if (o.amplitude[s] < 0) {
        o.valid[s] = 0;
        o.amplitude[s] = 0;
        o.snr[s] = 0;
    }
}

void runJob(WaveformProcessor& processor, const LaserScanSettings& settings, const LineJob& job) {
    const std::size_t n = job.samplesPerWaveform;
    if (job.source) {
        const std::span share(job.waveforms + std::size_t(job.first) * n,
                              std::size_t(job.end - job.first) * n);
        job.source->readLineSamples(job.record, job.first, job.end, share);
    }
    for (std::uint32_t s = job.first; s < job.end; ++s) takeShot(processor, settings, job, s);
    const LinePlacement* place = job.placement;
    if (!place) return;
    const LineArrays& o = job.out;
    for (std::uint32_t s = job.first; s < job.end; ++s) {
        // A shot stays when its SNR reaches the threshold.
        if (place->snrThreshold > o.snr[s]) o.valid[s] = 0;
        if (!o.valid[s]) continue;
        CloudPoint& p = place->points[s];
        p = CloudPoint{};
        placeShot(p, place->azimuth[s], place->elevationDeg, o.range[s], *place->calibration,
                  *place->mount, place->waterIndex);
        p.amplitude = static_cast<float>(o.amplitude[s]);
        p.snr = static_cast<float>(o.snr[s]);
        p.saturated = o.saturated[s];
        p.valid = 1;
        p.peakPosition = o.position[s];
    }
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
