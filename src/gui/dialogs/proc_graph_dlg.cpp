#include "gui/dialogs/proc_graph_dlg.hpp"

#include "gui/waveform/mf_pulse_dlg.hpp"

#include <QFontDatabase>

#include <cmath>

namespace quarv {
namespace {

std::string plotName(std::size_t number) {
    return formatMessage("Plot-%d", static_cast<int>(number));
}

std::uint32_t sliderIndex(double v) {
    // Pointer values are truncated to a whole index.
    return v > 0 && std::isfinite(v) ? static_cast<std::uint32_t>(v) : 0;
}

} // namespace

ProcGraphDlg::ProcGraphDlg(const ConfigRoot& root, MessageSink& sink, QWidget* parent)
    : QDialog(parent), model_(root, sink), sink_(sink), root_(root),
      chooseFile_(standardFileChooser()) {
    launch_ = [this](QWidget* owner, const std::string& path, double rangeEnd) {
        MFPulseDlg dlg(root_, sink_, path, rangeEnd, owner);
        // The pulses analysed are those of the window shown here, not the file's own start.
        dlg.setRangeStart(startEdit_.value());
        dlg.exec();
    };
    setWindowTitle(QStringLiteral("Processing Graphs Dialog"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setLayout(&layout_);

    // Top row: file, pulse analysis and the search window.
    startEdit_.setObjectName(QStringLiteral("procStart"));
    endEdit_.setObjectName(QStringLiteral("procEnd"));
    startEdit_.setSuffix(QStringLiteral(" m"));
    endEdit_.setSuffix(QStringLiteral(" m"));
    startEdit_.setValue(0.0);
    endEdit_.setValue(30.0);
    top_.addWidget(&loadButton_);
    top_.addWidget(&pulseButton_);
    top_.addSpacing(24);
    top_.addWidget(&startLabel_);
    top_.addWidget(&startEdit_);
    top_.addSpacing(12);
    top_.addWidget(&endLabel_);
    top_.addWidget(&endEdit_);
    top_.addStretch(1);
    layout_.addLayout(&top_);

    // The property the graphs are given before plotting: ten ticks per axis.
    for (Graph* g : {&waveform_, &correlation_, &angle_, &intensity_, &range_}) g->setTickCount(10);
    waveform_.setTitle(QStringLiteral("Raw waveform"));
    waveform_.setAxisLabels(QStringLiteral("raw sample"), QStringLiteral("counts"));
    correlation_.setTitle(QStringLiteral("Matched-filter correlation"));
    correlation_.setAxisLabels(QStringLiteral("interpolated sample (lag)"),
                               QStringLiteral("correlation"));
    angle_.setTitle(QStringLiteral("Optical azimuth"));
    angle_.setAxisLabels(QStringLiteral("pulse"), QStringLiteral("azimuth (deg)"));
    intensity_.setTitle(QStringLiteral("Peak amplitude"));
    intensity_.setAxisLabels(QStringLiteral("pulse"), QStringLiteral("amplitude (counts)"));
    range_.setTitle(QStringLiteral("Range"));
    range_.setAxisLabels(QStringLiteral("pulse"), QStringLiteral("range (m)"));
    shotSlide_.setCaption(QStringLiteral("Shot"));
    lineSlide_.setCaption(QStringLiteral("Line"));
    shotSlide_.setObjectName(QStringLiteral("shotSlider"));
    lineSlide_.setObjectName(QStringLiteral("lineSlider"));

    results_.setTitle(QStringLiteral("Selected pulse"));
    results_.setLayout(&resultsLayout_);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    for (QLabel* l : {&peakRaw_, &peakXc_, &peakBeforeQuad_, &peakQuad_, &horPos_, &rangeText_,
                      &snr_, &intensityText_, &elScanner_, &elOpt_, &stdDev_}) {
        // The label widths of the texts line the colons up only in a fixed-pitch font.
        l->setFont(fixed);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        resultsLayout_.addWidget(l);
    }
    resultsLayout_.insertSpacing(6, 8);
    resultsLayout_.insertSpacing(9, 8);
    resultsLayout_.insertSpacing(12, 8);
    resultsLayout_.addStretch(1);
    const int fieldWidth = QFontMetrics(fixed).horizontalAdvance(QString(28, 'x'));
    results_.setMinimumWidth(fieldWidth + 24);

    grid_.addWidget(&waveform_, 0, 0, 3, 1);
    grid_.addWidget(&correlation_, 3, 0, 3, 1);
    grid_.addWidget(&shotSlide_, 6, 0);
    grid_.addWidget(&results_, 0, 1, 6, 1);
    grid_.addWidget(&angle_, 0, 2, 2, 1);
    grid_.addWidget(&intensity_, 2, 2, 2, 1);
    grid_.addWidget(&range_, 4, 2, 2, 1);
    grid_.addWidget(&lineSlide_, 6, 2);
    grid_.setColumnStretch(0, 5);
    grid_.setColumnStretch(2, 5);
    for (int r = 0; r < 6; ++r) grid_.setRowStretch(r, 1);
    layout_.addLayout(&grid_, 1);
    resize(1280, 760);

    connect(&loadButton_, &QPushButton::clicked, this, &ProcGraphDlg::chooseAndLoad);
    connect(&pulseButton_, &QPushButton::clicked, this, &ProcGraphDlg::openPulseDialog);
    connect(&lineSlide_, &Slide::pointerValueChanged, this, [this](double v) {
        if (acting()) showGroup(sliderIndex(v));
    });
    connect(&shotSlide_, &Slide::pointerValueChanged, this, [this](double v) {
        if (acting()) showPulse(sliderIndex(v));
    });
    connect(&startEdit_, &QDoubleSpinBox::valueChanged, this, &ProcGraphDlg::windowEdited);
    connect(&endEdit_, &QDoubleSpinBox::valueChanged, this, &ProcGraphDlg::windowEdited);
}

void ProcGraphDlg::showEvent(QShowEvent* event) {
    active_ = true;
    QDialog::showEvent(event);
}

void ProcGraphDlg::hideEvent(QHideEvent* event) {
    // Closing keeps the edit values; actions are ignored until the dialog is shown again.
    active_ = false;
    QDialog::hideEvent(event);
}

void ProcGraphDlg::chooseAndLoad() {
    const QString path =
        chooseFile_(this, QStringLiteral("Load File"), QString::fromLatin1(kGraphFileFilter));
    if (!path.isEmpty()) loadFile(path.toStdString());
}

bool ProcGraphDlg::loadFile(const std::string& path) {
    loading_ = true;
    setWindowTitle(QString::fromStdString(formatMessage("Processing File: %s", path.c_str())));
    const bool ok = model_.load(path, startEdit_.value(), endEdit_.value());
    if (ok) {
        if (!windowTouched_) {
            const QSignalBlocker a(&startEdit_), b(&endEdit_);
            startEdit_.setValue(model_.fileRangeMin());
            endEdit_.setValue(model_.fileRangeMax());
        }
        const SliderRange shots = model_.shotSlider();
        shotSlide_.axis().setMinimum(shots.minimum);
        shotSlide_.axis().setMaximum(shots.maximum);
        shotSlide_.pointer("Pointer-1")->setValue(1);
        const SliderRange lines = model_.lineSlider();
        lineSlide_.axis().setMinimum(lines.minimum);
        lineSlide_.axis().setMaximum(lines.maximum);
        lineSlide_.pointer("Pointer-1")->setValue(0);
        const bool stare = model_.scanner().scanType() == kScanTypeStopAndStare;
        for (Graph* g : {&angle_, &intensity_, &range_})
            g->setAxisLabels(stare ? QStringLiteral("stare position") : QStringLiteral("pulse"),
                             g == &angle_       ? QStringLiteral("azimuth (deg)")
                             : g == &intensity_ ? QStringLiteral("amplitude (counts)")
                                                : QStringLiteral("range (m)"));
        showGroup(0);
    }
    loading_ = false;
    return ok;
}

bool ProcGraphDlg::showShot(const std::string& path, std::uint32_t line, std::uint32_t shot) {
    if ((!model_.isOpen() || model_.path() != path) && !loadFile(path)) return false;
    std::uint32_t group = 0, value = 0;
    model_.slidersFor(line, shot, group, value);
    {
        // The sliders show the place; the pictures are drawn here once, not by their signals.
        const QSignalBlocker a(&lineSlide_), b(&shotSlide_);
        lineSlide_.pointer("Pointer-1")->setValue(group);
        showGroup(group);
        shotSlide_.pointer("Pointer-1")->setValue(value);
    }
    showPulse(value);
    return true;
}

void ProcGraphDlg::windowEdited() {
    windowTouched_ = true;
    if (acting()) showGroup(model_.currentGroup());
}

void ProcGraphDlg::showGroup(std::uint32_t g) {
    GroupView group;
    PulseView pulse;
    if (!model_.showGroup(g, startEdit_.value(), endEdit_.value(), group, pulse)) return;
    drawGroup(group);
    shotSlide_.pointer("Pointer-1")->setValue(1);
    drawPulse(pulse);
}

void ProcGraphDlg::showPulse(std::uint32_t v) {
    PulseView pulse;
    if (model_.showPulse(v, startEdit_.value(), endEdit_.value(), pulse)) drawPulse(pulse);
}

void ProcGraphDlg::drawGroup(const GroupView& g) {
    // A group replaces every plot of the three graphs: a plot of an earlier group or file that
    // this group does not have must not stay behind (e.g. "Ave" after a group of one record).
    for (Graph* graph : {&angle_, &intensity_, &range_}) graph->removePlots();
    for (std::size_t c = 0; c < g.ranges.size(); ++c)
        range_.plot(plotName(c + 1)).plotY(g.ranges[c]);
    if (g.average) range_.plot("Ave").plotY(*g.average);
    for (std::size_t c = 0; c < g.angles.size(); ++c)
        angle_.plot(plotName(c + 1)).plotY(g.angles[c]);
    intensity_.plot("Plot-1").plotY(g.intensity);
    if (!g.intensityMax.empty()) intensity_.plot("Plot-2").plotY(g.intensityMax);

    if (g.showElevation) {
        elScanner_.setText(QString::fromStdString(
            formatMessage("El Scanner volt  : %.3f", static_cast<double>(g.elevationVolt))));
        elOpt_.setText(QString::fromStdString(
            formatMessage("El Opt deg       : %.3f", g.elevationOpticalDeg)));
    }
    if (!g.showStdDev)
        stdDev_.clear();
    else if (g.stdDev)
        stdDev_.setText(QString::fromStdString(formatMessage("Std Dev Rng: %.4f", *g.stdDev)));
    else
        stdDev_.setText(g.validRanges == 0 ? QStringLiteral("Std Dev Rng: no valid ranges")
                                           : QStringLiteral("Std Dev Rng: one valid range"));
}

void ProcGraphDlg::drawPulse(const PulseView& p) {
    // A peak file stores each pulse's return, not its waveform: the graphs say so, and the
    // numbers on the right are the stored ones.
    waveform_.setTitle(p.noWaveform
                           ? QStringLiteral("Raw waveform: none in a peak file (stored return "
                                            "shown on the right)")
                           : QStringLiteral("Raw waveform"));
    correlation_.setTitle(p.noWaveform ? QStringLiteral("Matched-filter correlation: none in a "
                                                        "peak file")
                                       : QStringLiteral("Matched-filter correlation"));
    Plot& xc = correlation_.plot("Plot-1");
    xc.setMarkers(false);
    xc.plotY(p.correlation);
    Cursor& peak = correlation_.cursor("Cursor-1");
    peak.setPosition(p.cursor);
    peak.setColor(p.found && p.inWindow ? insideColor() : outsideColor());
    range_.cursor("Cursor-1").setPosition(p.rangeCursor);
    Plot& raw = waveform_.plot("Plot-1");
    raw.setMarkers(false);
    raw.plotY(p.raw);

    auto text = [](QLabel& l, const std::string& s) { l.setText(QString::fromStdString(s)); };
    text(peakRaw_, formatMessage("peak raw         : %d", static_cast<int>(p.rawPeakIndex)));
    text(peakXc_, formatMessage("peak XC          : %d", p.peakXc));
    text(peakBeforeQuad_, formatMessage("peak before quad : %d", static_cast<int>(p.xcPeakIndex)));
    text(peakQuad_, formatMessage("peak using quad  : %.2lf", p.quadPeak));
    text(horPos_, formatMessage("dig horpos mm    : %.4lf", p.horPosRange));
    text(rangeText_, formatMessage("Range    : %.3f", static_cast<double>(p.range)));
    text(snr_, formatMessage("SNR      : %.0lf", p.snr));
    text(intensityText_, formatMessage("Intensity: %.0lf", p.intensity));
}

QStringList ProcGraphDlg::resultTexts() const {
    return {peakRaw_.text(),  peakXc_.text(),        peakBeforeQuad_.text(),
            peakQuad_.text(), horPos_.text(),        rangeText_.text(),
            snr_.text(),      intensityText_.text(), elScanner_.text(),
            elOpt_.text(),    stdDev_.text()};
}

void ProcGraphDlg::openPulseDialog() {
    if (!model_.isOpen()) {
        sink_.report("No file opened!");
        return;
    }
    launch_(this, model_.path(), endEdit_.value());
}

} // namespace quarv
