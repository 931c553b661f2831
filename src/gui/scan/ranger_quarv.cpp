#include "gui/scan/ranger_quarv.hpp"

#include "core/scan/process_request.hpp"
#include "core/scanfile/file_info.hpp"

#include <cmath>

namespace quarv {
namespace {

// Prepared LAS and cloud files are no recordings: the dialog does not open them for playback.
bool isRecordingPath(const std::string& path) {
    return !path.empty() && requestForPath(path) == ProcessRequest::ProcessPlayback;
}

std::string plotName(std::size_t n) {
    return formatMessage("Plot-%d", static_cast<int>(n));
}

} // namespace

RangerQuarv::RangerQuarv(ProcessingSession& session, MessageSink& sink, QWidget* parent)
    : QDialog(parent), session_(session), sink_(sink) {
    setWindowTitle(QStringLiteral("Build Point Cloud Dialog"));
    setLayout(&layout_);

    rangeBox_.setObjectName(QStringLiteral("rangeExclusion"));
    startEdit_.setObjectName(QStringLiteral("startProcessing"));
    endEdit_.setObjectName(QStringLiteral("endProcessing"));
    snrEdit_.setObjectName(QStringLiteral("snrMin"));
    averageEdit_.setObjectName(QStringLiteral("averageWindow"));
    exclusion_.setTitle(QStringLiteral("Range Exclusion"));
    exclusion_.setLayout(&exclusionForm_);
    exclusionForm_.addRow(&rangeBox_);
    exclusionForm_.addRow(QStringLiteral("Start Processing (meter)"), &startEdit_);
    exclusionForm_.addRow(QStringLiteral("End Processing (meter)"), &endEdit_);
    left_.addWidget(&exclusion_);
    form_.addRow(QStringLiteral("SNR Min Limit"), &snrEdit_);
    form_.addRow(QStringLiteral("Sliding Average per Scan"), &averageEdit_);
    returnsEdit_.setObjectName(QStringLiteral("returnsPerPulse"));
    returnsEdit_.setRange(1, static_cast<int>(kMaxReturns));
    returnsEdit_.setToolTip(QStringLiteral("Returns looked for in each pulse (1: the strongest "
                                           "pulse-shaped peak only)"));
    form_.addRow(QStringLiteral("Returns per Pulse"), &returnsEdit_);
    left_.addLayout(&form_);
    info_.setObjectName(QStringLiteral("configList"));
    info_.setMinimumSize(380, 450);
    left_.addWidget(&info_, 1);
    columns_.addLayout(&left_, 2);

    for (Graph* g : {&linesGraph_, &averageGraph_}) {
        g->setTickCount(10);
        g->setAxisLabels(QStringLiteral("beam angle (deg)"), QStringLiteral("range (m)"));
        g->setMinimumSize(520, 220);
    }
    linesGraph_.setTitle(QStringLiteral("Range of each line of the group"));
    averageGraph_.setTitle(QStringLiteral("Average over the group"));
    slide_.setCaption(QStringLiteral("Line group"));
    slide_.setObjectName(QStringLiteral("groupSlide"));
    stats_.setObjectName(QStringLiteral("statis"));
    stats_.setWordWrap(true);
    stats_.setTextInteractionFlags(Qt::TextSelectableByMouse);
    right_.addWidget(&linesGraph_, 1);
    right_.addWidget(&averageGraph_, 1);
    right_.addWidget(&slide_);
    right_.addWidget(&stats_);
    columns_.addLayout(&right_, 3);
    layout_.addLayout(&columns_, 1);

    buttons_.addStretch(1);
    buttons_.addWidget(&processButton_);
    buttons_.addWidget(&cancelButton_);
    layout_.addLayout(&buttons_);
    processButton_.setDefault(true);
    processButton_.setEnabled(false); // until a recording has been opened

    connect(&processButton_, &QPushButton::clicked, this, &RangerQuarv::processPointCloud);
    connect(&cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    connect(&rangeBox_, &QCheckBox::clicked, this, &RangerQuarv::rangeBoxClicked);
    connect(&slide_, &Slide::pointerValueChanged, this, [this](double v) {
        showQuality(v > 0 && std::isfinite(v) ? static_cast<std::uint32_t>(v) : 0);
    });
    // The quality view follows the window being edited (the session's values change only when
    // the dialog is confirmed).
    for (NumEdit* e : {&startEdit_, &endEdit_})
        connect(e, &QDoubleSpinBox::valueChanged, this, [this] {
            if (session_.reader().isOpen())
                showQuality(static_cast<std::uint32_t>(slide_.pointer("Pointer-1")->value()));
        });
}

void RangerQuarv::showEvent(QShowEvent* event) {
    activate();
    QDialog::showEvent(event);
}

void RangerQuarv::showValues() {
    const QSignalBlocker a(&startEdit_), b(&endEdit_);
    averageEdit_.setValue(session_.averageWindow());
    startEdit_.setValue(session_.rangeMin());
    endEdit_.setValue(session_.rangeMax());
    snrEdit_.setValue(session_.snrMin());
    returnsEdit_.setValue(session_.layerReturns());
}

void RangerQuarv::activate() {
    rangeBox_.setChecked(session_.settings().rangeGate() != 0);
    showValues();
    startEdit_.setEnabled(rangeBox_.isChecked());
    endEdit_.setEnabled(rangeBox_.isChecked());

    const std::string path = session_.filePath();
    setWindowTitle(
        QString::fromStdString(formatMessage("Ombrel Dialog: Processing File: %s", path.c_str())));
    const bool opened = isRecordingPath(path) && session_.openPlayback(path);
    processButton_.setEnabled(opened);
    if (!opened) {
        // Nothing of an earlier file stays on show.
        info_.setLines({});
        linesGraph_.removePlots();
        averageGraph_.removePlots();
        stats_.setText(QStringLiteral("Statis"));
        return;
    }
    showValues();
    info_.setLines(fileInformationLines(path, session_.reader().headerImage()));
    slide_.axis().setMinimum(0);
    slide_.axis().setMaximum(lastQualityGroup(session_.scanner()));
    slide_.pointer("Pointer-1")->setValue(0);
    showQuality(0);
}

void RangerQuarv::rangeBoxClicked() {
    // The box enables the window edits; the settings' range gate byte keeps its value.
    startEdit_.setEnabled(rangeBox_.isChecked());
    endEdit_.setEnabled(rangeBox_.isChecked());
}

void RangerQuarv::processPointCloud() {
    const double avg = averageEdit_.value();
    session_.setAverageWindow(avg > 0 ? static_cast<std::uint32_t>(avg) : 0);
    session_.setRangeWindow(static_cast<float>(startEdit_.value()),
                            static_cast<float>(endEdit_.value()));
    session_.setSnrMin(static_cast<float>(snrEdit_.value()));
    session_.setRangeGate(rangeBox_.isChecked());
    session_.setReturns(static_cast<std::uint8_t>(returnsEdit_.value()));
    accept();
}

void RangerQuarv::done(int result) {
    session_.reader().close();
    QDialog::done(result);
}

void RangerQuarv::showQuality(std::uint32_t g) {
    linesGraph_.removePlots();
    averageGraph_.removePlots();
    stats_.clear();
    if (!session_.reader().isOpen()) return;
    if (!computeQualityGroup(session_.reader(), session_.processor(), session_.scanner(),
                             session_.digitizer(), session_.processing(), session_.calibration(), g,
                             static_cast<float>(startEdit_.value()),
                             static_cast<float>(endEdit_.value()), quality_)) {
        stats_.setText(QStringLiteral("No scan lines to compare in this recording"));
        return;
    }
    for (std::size_t k = 0; k < quality_.ranges.size(); ++k)
        linesGraph_.plot(plotName(k + 1)).plotXY(quality_.angles[k], quality_.ranges[k]);
    averageGraph_.plot("Ave").plotXY(quality_.averageAngles, quality_.average);
    stats_.setText(QString::fromStdString(quality_.stdDevText() + "\n" + quality_.averageText()));
}

} // namespace quarv
