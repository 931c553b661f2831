#include "gui/viewer/pt_cloud_dlg.hpp"

namespace quarv {

PtCloudDlg::PtCloudDlg(QWidget* parent)
    : QDialog(parent), xyzLabel_(QStringLiteral("XYZ (m)")),
      azElLabel_(QStringLiteral("Az, El (deg)")), rangeLabel_(QStringLiteral("Rng (m), SNR, Sat")),
      peakLabel_(QStringLiteral("Peak Pos (cnts)")),
      pulsesLabel_(QStringLiteral("Pulses, Rng Std Dev (m)")),
      returnLabel_(QStringLiteral("Return")), waveform_(QStringLiteral("Waveform")),
      ok_(QStringLiteral("OK")) {
    setWindowTitle(QStringLiteral("Point Information"));
    setObjectName(QStringLiteral("PtCloudDlg"));
    xyz_.setObjectName(QStringLiteral("xyz"));
    azEl_.setObjectName(QStringLiteral("azEl"));
    range_.setObjectName(QStringLiteral("rangeSnrSat"));
    peak_.setObjectName(QStringLiteral("peakPos"));
    pulses_.setObjectName(QStringLiteral("pulses"));
    return_.setObjectName(QStringLiteral("returnOf"));
    QLabel* rows[6][2] = {{&xyzLabel_, &xyz_},       {&azElLabel_, &azEl_},
                          {&rangeLabel_, &range_},   {&peakLabel_, &peak_},
                          {&pulsesLabel_, &pulses_}, {&returnLabel_, &return_}};
    for (int r = 0; r < 6; ++r) {
        rows[r][1]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        rows[r][1]->setMinimumWidth(210);
        layout_.addWidget(rows[r][0], r, 0);
        layout_.addWidget(rows[r][1], r, 1);
    }
    waveform_.setObjectName(QStringLiteral("waveform"));
    waveform_.setToolTip(
        QStringLiteral("Open the Processing Graphs at this point's line and shot"));
    layout_.addWidget(&waveform_, 6, 0, Qt::AlignLeft);
    layout_.addWidget(&ok_, 6, 1, Qt::AlignRight);
    setLayout(&layout_);
    ok_.setDefault(true);
    connect(&ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(&waveform_, &QPushButton::clicked, this, [this] { done(kWaveformChosen); });
}

void PtCloudDlg::setPoint(const CloudPoint& p, const PointExtra* extra) {
    extra_ = extra ? *extra : PointExtra{};
    azimuth_ = p.azimuth;
    elevation_ = p.elevation;
    range_m_ = p.range;
    x_ = p.x;
    y_ = p.y;
    z_ = p.z;
    snr_ = p.snr;
    peakPosition_ = p.peakPosition;
    amplitude_ = p.amplitude;
    saturated_ = p.saturated != 0;
}

void PtCloudDlg::formatTexts() {
    // Formatted in full: a far-off point must not lose digits to a fixed buffer.
    xyz_.setText(QString::asprintf("%.4f, %.4f, %.4f", double{x_}, double{y_}, double{z_}));
    azEl_.setText(QString::asprintf("%.4f, %.4f El", double{azimuth_}, double{elevation_}));
    range_.setText(QString::asprintf("%.3f, %.0f, %s", double{range_m_}, double{snr_},
                                     saturated_ ? "Y" : "N"));
    peak_.setText(QString::asprintf("%.4f", double{peakPosition_}));
    // The two extra rows only where they say something: a stare position's averaged pulses, a
    // pulse with more than one return.
    const bool averaged = extra_.pulses > 1;
    pulses_.setText(averaged ? QString::asprintf("%u, %.4f", unsigned{extra_.pulses},
                                                 double{extra_.rangeStdDev})
                             : QString());
    const bool several = extra_.numberOfReturns > 1;
    return_.setText(several ? QString::asprintf("return %u of %u", unsigned{extra_.returnNumber},
                                                unsigned{extra_.numberOfReturns})
                            : QString());
    for (QWidget* w : {static_cast<QWidget*>(&pulsesLabel_), static_cast<QWidget*>(&pulses_)})
        w->setVisible(averaged);
    for (QWidget* w : {static_cast<QWidget*>(&returnLabel_), static_cast<QWidget*>(&return_)})
        w->setVisible(several);
}

void PtCloudDlg::showEvent(QShowEvent* event) {
    formatTexts();
    QDialog::showEvent(event);
}

} // namespace quarv
