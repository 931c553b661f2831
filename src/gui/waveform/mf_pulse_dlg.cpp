#include "gui/waveform/mf_pulse_dlg.hpp"

#include <QApplication>
#include <QCursor>

#include <cmath>

namespace quarv {

MFPulseDlg::MFPulseDlg(const ConfigRoot& root, MessageSink& sink, const std::string& path,
                       double rangeEnd, QWidget* parent)
    : QDialog(parent), analyser_(root, sink), path_(path), rangeEnd_(rangeEnd) {
    setWindowTitle(QStringLiteral("Matched Filter Pulse Analysis"));
    setLayout(&layout_);
    graph_.setTickCount(10);
    graph_.setTitle(QString::fromStdString(path_));
    graph_.setAxisLabels(QStringLiteral("template sample (interpolated; pulse peak at 48)"),
                         QStringLiteral("normalised amplitude"));
    graph_.setMinimumSize(720, 400);
    layout_.addWidget(&graph_, 1);
    for (QLabel* l : {&text1_, &text2_}) {
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout_.addWidget(l);
    }
    buttons_.addStretch(1);
    buttons_.addWidget(&processButton_);
    buttons_.addWidget(&doneButton_);
    layout_.addLayout(&buttons_);
    connect(&processButton_, &QPushButton::clicked, this, &MFPulseDlg::process);
    connect(&doneButton_, &QPushButton::clicked, this, &QDialog::accept);
}

void MFPulseDlg::process() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ok = analyser_.analyse(path_, rangeEnd_, analysis_, 64, 4096, rangeStart_);
    QApplication::restoreOverrideCursor();
    if (!ok) return;
    const double ns = analysis_.interpolatedSampleNs;
    Plot& shape = graph_.plot("Plot-1");
    shape.setLabel(QStringLiteral("template"));
    shape.plotY(analysis_.templateShape);
    Plot& average = graph_.plot("Plot-2");
    average.setLabel(QStringLiteral("average of the strongest returns"));
    average.plotY(analysis_.averageShape);
    text1_.setText(QString::fromStdString(
        formatMessage("Template (mf_pulse.bin): width at half maximum %.1f samples = %.2f ns",
                      analysis_.templateWidth, analysis_.templateWidth * ns)));
    if (analysis_.pulsesAveraged == 0) {
        text2_.setText(QString::fromStdString(
            formatMessage("No unsaturated return between %.2f and %.2f m in %d waveforms",
                          analysis_.rangeMin, analysis_.rangeMax, analysis_.waveformsProcessed)));
    } else if (std::isnan(analysis_.averageWidth)) {
        text2_.setText(QString::fromStdString(formatMessage(
            "Average of the %d strongest returns: width at half maximum not measurable",
            analysis_.pulsesAveraged)));
    } else {
        text2_.setText(QString::fromStdString(formatMessage(
            "Average of the %d strongest of %d returns (%.2f - %.2f m): width %.1f samples = "
            "%.2f ns",
            analysis_.pulsesAveraged, analysis_.returnsFound, analysis_.rangeMin,
            analysis_.rangeMax, analysis_.averageWidth, analysis_.averageWidth * ns)));
    }
}

} // namespace quarv
