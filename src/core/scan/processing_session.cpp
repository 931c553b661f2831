#include "core/scan/processing_session.hpp"

#include "core/app/message_sink.hpp"
#include "core/app/notifier.hpp"
#include "core/cloud/cloud_renderer.hpp"
#include "core/cloud/cloud_store.hpp"

#include <algorithm>
#include <cstring>

namespace quarv {

ProcessingSession::ProcessingSession(CloudStore& store, CloudRenderer& renderer,
                                     const ConfigRoot& root, MessageSink& sink, Notifier& notifier,
                                     unsigned workers)
    : store_(store), renderer_(renderer), root_(root), sink_(sink), notifier_(notifier),
      reader_(sink), processor_(root, sink) {
    loadLaserScanSettings(root_, settings_);
    averageWindow_ = settings_.averageWindow();
    rangeMin_ = settings_.rangeMin();
    rangeMax_ = settings_.rangeMax();
    snrMin_ = 0.0f;

    thread_.init("Processing Thread", 4, 0x10000);
    // Created taken: the thread blocks until the first start.
    semaphore_.create(0, 1);
    engine_ = std::make_unique<ScanProcessor>(store_, renderer_, root_, sink_, notifier_, workers);
    setRequest(ProcessRequest::ProcessPlayback);
    thread_.start(&ProcessingSession::threadBody, this);
}

ProcessingSession::~ProcessingSession() {
    stopping_.store(true, std::memory_order_release);
    beginPreparation(); // a running line loop ends before its next line
    engine_->requestStop();
    semaphore_.close();
    thread_.join();
}

void ProcessingSession::threadBody(void* self) {
    auto& s = *static_cast<ProcessingSession*>(self);
    while (s.semaphore_.wait()) {
        Run run;
        {
            std::lock_guard lock(s.mutex_);
            run = std::move(s.next_);
            s.next_ = Run{};
        }
        if (!s.stopping_.load(std::memory_order_acquire)) s.execute(run);
        s.store_.markChanged();
        {
            std::lock_guard lock(s.mutex_);
            --s.outstanding_;
        }
        s.idle_.notify_all();
    }
}

ProcessRequest ProcessingSession::request() const {
    return request_.load(std::memory_order_acquire);
}

void ProcessingSession::setRequest(ProcessRequest request) {
    request_.store(request, std::memory_order_release);
    continue_.store(true, std::memory_order_release);
}

void ProcessingSession::beginPreparation() {
    continue_.store(false, std::memory_order_release);
    preparations_.fetch_add(1, std::memory_order_acq_rel);
}

bool ProcessingSession::keepGoing(const Run& run) const {
    // A preparation since this run was started stops it even when a later start has set the
    // continue flag again: the file being prepared is what the operator wants now.
    return continue_.load(std::memory_order_acquire) &&
           preparations_.load(std::memory_order_acquire) == run.preparation &&
           !stopping_.load(std::memory_order_acquire);
}

void ProcessingSession::takeHeader(const ScannerCfg& scanner, const DigitizerCfg& digitizer,
                                   const ProcessingCfg& processing,
                                   const CalibrationCfg& calibration, const PanTiltCfg& panTilt) {
    scanner_ = scanner;
    digitizer_ = digitizer;
    processing_ = processing;
    calibration_ = calibration;
    panTilt_ = panTilt;
    // The dialog's own processor works with the dialog's window and threshold.
    processing_.setRangeMin(rangeMin_);
    processing_.setRangeMax(rangeMax_);
    processing_.setSnrThreshold(snrMin_);
    processor_.configure(digitizer_, processing_, calibration_);
}

bool ProcessingSession::openPlayback(const std::filesystem::path& path) {
    reader_.close();
    beginPreparation();
    filePath_ = path.string();
    if (!reader_.open(path)) {
        fileOpen_.store(false, std::memory_order_release);
        return false;
    }
    fileOpen_.store(true, std::memory_order_release);
    EnvCfg environment;
    AttitudeBlock attitude;
    ScannerCfg scanner;
    DigitizerCfg digitizer;
    ProcessingCfg processing;
    CalibrationCfg calibration;
    PanTiltCfg panTilt;
    reader_.copyHeader(scanner, digitizer, processing, environment, calibration, panTilt, attitude);
    takeHeader(scanner, digitizer, processing, calibration, panTilt);
    return true;
}

bool ProcessingSession::openCloudFile(const std::filesystem::path& path) {
    cloud_.reset();
    beginPreparation();
    filePath_ = path.string();
    auto file = std::make_unique<CloudFile>();
    if (!file->open(path, sink_)) {
        fileOpen_.store(false, std::memory_order_release);
        return false;
    }
    const CloudFileHeader& h = file->header();
    takeHeader(h.scanner, h.digitizer, h.processing, h.calibration, h.panTilt);
    cloud_ = std::move(file);
    fileOpen_.store(true, std::memory_order_release);
    return true;
}

bool ProcessingSession::openLas(const std::filesystem::path& path) {
    las_.reset();
    beginPreparation();
    filePath_ = path.string();
    auto file = std::make_unique<LasFile>();
    if (!file->openRead(path, sink_)) {
        fileOpen_.store(false, std::memory_order_release);
        return false;
    }
    las_ = std::move(file);
    fileOpen_.store(true, std::memory_order_release);
    return true;
}

bool ProcessingSession::startProcessing(std::uint32_t layer) {
    const ProcessRequest request = request_.load(std::memory_order_acquire);
    const bool haveFile = fileOpen_.load(std::memory_order_acquire) &&
                          (request != ProcessRequest::ProcessCloudFile || cloud_) &&
                          (request != ProcessRequest::ImportLas || las_);
    if (!haveFile) {
        sink_.report("ERROR: no file open for processing!");
        return false;
    }
    continue_.store(true, std::memory_order_release);
    settings_.complete(averageWindow_, rangeMin_, rangeMax_, snrMin_);
    saveLaserScanSettings(root_, settings_); // a folder that cannot be written is skipped
    const std::uint32_t l = std::min(layer, LAYER_COUNT - 1);
    currentLayer_.store(l, std::memory_order_release);

    Run run;
    run.request = request;
    run.layer = l;
    run.path = filePath_;
    run.settings = settings_;
    if (request == ProcessRequest::ProcessCloudFile) run.cloud = std::move(cloud_);
    if (request == ProcessRequest::ImportLas) run.las = std::move(las_);
    run.preparation = preparations_.load(std::memory_order_acquire);
    return release(std::move(run));
}

void ProcessingSession::giveLayerDialogValues(std::uint32_t layer) {
    LaserScanSettings completed = settings_;
    completed.complete(averageWindow_, rangeMin_, rangeMax_, snrMin_);
    PointLayer& l = store_.layer(std::min(layer, LAYER_COUNT - 1));
    l.rangeMin = completed.rangeMin();
    l.rangeMax = completed.rangeMax();
    l.snrMin = completed.snrThreshold();
    if (returns_ >= 1 && returns_ <= kMaxReturns) l.returns = returns_;
}

void ProcessingSession::requestFilter() {
    setRequest(ProcessRequest::FilterLayers);
    Run run;
    run.request = ProcessRequest::FilterLayers;
    run.refilterAll = true;
    run.preparation = preparations_.load(std::memory_order_acquire);
    release(std::move(run));
}

bool ProcessingSession::release(Run run) {
    {
        std::lock_guard lock(mutex_);
        next_ = std::move(run);
        ++outstanding_;
    }
    if (semaphore_.release()) return true;
    // A start is already held (the semaphore's count is at its maximum): it runs the run just
    // stored. Or the session is closing.
    {
        std::lock_guard lock(mutex_);
        --outstanding_;
    }
    idle_.notify_all();
    return !stopping_.load(std::memory_order_acquire);
}

bool ProcessingSession::waitUntilIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, timeout, [this] { return outstanding_ == 0; });
}

void ProcessingSession::execute(Run& run) {
    switch (run.request) {
    case ProcessRequest::ProcessPlayback:
        processPlayback(run);
        break;
    case ProcessRequest::ProcessCloudFile:
        processCloudFile(run);
        break;
    case ProcessRequest::ImportLas:
        importLas(run);
        break;
    case ProcessRequest::FilterLayers:
        filterLayers(run.refilterAll);
        break;
    case ProcessRequest::None:
        break;
    }
}

void ProcessingSession::makeCurrent(const Run& run) {
    store_.setCurrentLayer(run.layer);
    auto& name = store_.layer(run.layer).name;
    name.fill('\0');
    std::strncpy(name.data(), run.path.c_str(), name.size() - 1);
    engine_->setLayer(run.layer);
}

void ProcessingSession::processPlayback(Run& run) {
    makeCurrent(run);
    engine_->loadSettings(run.settings);
    if (!engine_->openFile(run.path)) {
        refusedRuns_.fetch_add(1, std::memory_order_release);
        return;
    }
    const std::uint32_t layer = run.layer;
    const std::uint32_t lines = engine_->lines();
    busy_.store(true, std::memory_order_release);
    notifier_.progress(0);
    for (std::uint32_t line = 0; line < lines && keepGoing(run); ++line) {
        notifier_.progress(
            static_cast<int>(static_cast<double>(line + 1) / static_cast<double>(lines) * 100.0));
        if (!engine_->processLine(line)) break;
    }
    notifier_.progress(0);
    engine_->refreshDisplay(layer);
    engine_->centroidToView(layer);
    notifier_.cloudChanged();
    store_.layer(layer).filterPending = 1;
    filterLayers(false);
    engine_->closeFile();
    busy_.store(false, std::memory_order_release);
}

void ProcessingSession::processCloudFile(Run& run) {
    makeCurrent(run);
    if (!run.cloud) return;
    LaserScanSettings settings = run.settings;
    settings.setLines(run.cloud->header().scanner.lines());
    settings.setShotsPerLine(run.cloud->header().digitizer.pulsesPerRecord());
    engine_->loadSettings(settings);
    busy_.store(true, std::memory_order_release);
    engine_->rebuildFromCloudFile(*run.cloud);
    notifier_.progress(0);
    engine_->refreshDisplay(run.layer);
    notifier_.cloudChanged();
    store_.layer(run.layer).filterPending = 1;
    busy_.store(false, std::memory_order_release);
    run.cloud->close();
}

void ProcessingSession::importLas(Run& run) {
    makeCurrent(run);
    if (!run.las) return;
    busy_.store(true, std::memory_order_release);
    engine_->importLas(*run.las);
    run.las->close();
    // Like a rebuilt layer, an imported one waits for the next re-filter.
    store_.layer(run.layer).filterPending = 1;
    busy_.store(false, std::memory_order_release);
}

void ProcessingSession::filterLayers(bool refilterAll) {
    if (refilterAll) {
        for (std::uint32_t l = 0; l < LAYER_COUNT; ++l)
            if (store_.layer(l).inUse) store_.layer(l).filterPending = 1;
    }
    bool any = false;
    for (std::uint32_t l = 0; l < LAYER_COUNT; ++l) {
        PointLayer& rec = store_.layer(l);
        if (!rec.inUse || !rec.filterPending) continue;
        any = true;
        rec.filterPending = 0;
        engine_->refreshDisplay(l);
        notifier_.cloudChanged();
        if (rec.neighbourFilter && !engine_->layerHasScanLines(l)) {
            // Every comparison would be a point with itself: say so instead of seeming to work.
            const std::string name(rec.name.begin(),
                                   std::find(rec.name.begin(), rec.name.end(), '\0'));
            sink_.report(formatMessage("WARNING, Processing, clutter filter needs scan lines, "
                                       "layer left as it is: %s",
                                       name.c_str()));
        } else if (rec.neighbourFilter) {
            engine_->buildLineTable(l);
            engine_->isolatedPointFilter(l);
            engine_->isolatedPointFilter(l);
            engine_->neighbourCountFilter(l);
            // Colours only: the points the clutter filters removed stay hidden.
            engine_->recolour(l);
            notifier_.cloudChanged();
        }
    }
    if (!any) {
        for (std::uint32_t l = 0; l < LAYER_COUNT; ++l) {
            if (!store_.layer(l).inUse) continue;
            engine_->recolour(l);
            notifier_.cloudChanged();
        }
    }
}

} // namespace quarv
