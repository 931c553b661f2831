#include "gui/viewer/pt_cloud_dlg.hpp"

namespace quarv {

PtCloudDlg::PtCloudDlg(QWidget* parent)
    : QDialog(parent), xyzLabel_(QStringLiteral("XYZ (m)")),
      azElLabel_(QStringLiteral("Az, El (deg)")), rangeLabel_(QStringLiteral("Rng (m), SNR, Sat")),
      peakLabel_(QStringLiteral("Peak Pos (cnts)")), waveform_(QStringLiteral("Waveform")),
      ok_(QStringLiteral("OK")) {
    setWindowTitle(QStringLiteral("Point Information"));
    setObjectName(QStringLiteral("PtCloudDlg"));
    xyz_.setObjectName(QStringLiteral("xyz"));
    azEl_.setObjectName(QStringLiteral("azEl"));
    range_.setObjectName(QStringLiteral("rangeSnrSat"));
    peak_.setObjectName(QStringLiteral("peakPos"));
    QLabel* rows[4][2] = {
        {&xyzLabel_, &xyz_}, {&azElLabel_, &azEl_}, {&rangeLabel_, &range_}, {&peakLabel_, &peak_}};
    for (int r = 0; r < 4; ++r) {
        rows[r][1]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        rows[r][1]->setMinimumWidth(210);
        layout_.addWidget(rows[r][0], r, 0);
        layout_.addWidget(rows[r][1], r, 1);
    }
    waveform_.setObjectName(QStringLiteral("waveform"));
    waveform_.setToolTip(
        QStringLiteral("Open the Processing Graphs at this point's line and shot"));
    layout_.addWidget(&waveform_, 4, 0, Qt::AlignLeft);
    layout_.addWidget(&ok_, 4, 1, Qt::AlignRight);
    setLayout(&layout_);
    ok_.setDefault(true);
    connect(&ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(&waveform_, &QPushButton::clicked, this, [this] { done(kWaveformChosen); });
}

void PtCloudDlg::setPoint(const CloudPoint& p) {
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
}

void PtCloudDlg::showEvent(QShowEvent* event) {
    formatTexts();
    QDialog::showEvent(event);
}

} // namespace quarv
