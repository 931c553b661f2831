// "Matched Filter Pulse Analysis" (MFPulseDlg): the stored pulse template against the pulses of
// a recording. "Process" runs the analysis (see PulseAnalyser) over the file handed in by the
// processing graphs dialog, within its current "Proc Start" and "End" range, and plots the template
// ("Plot-1") over the normalised average of the strongest unsaturated returns ("Plot-2"), with the
// width of each in the two text fields. "Done" closes. The template file is never written here.
//
//   MFPulseDlg dlg(configRoot, sink, path, rangeEnd, parent);
//   dlg.setRangeStart(rangeStart);
//   dlg.exec();
#pragma once

#include "core/app/message_sink.hpp"
#include "core/config/config_root.hpp"
#include "gui/graph/graph.hpp"
#include "gui/waveform/pulse_analyser.hpp"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <optional>
#include <string>

namespace quarv {

class MFPulseDlg : public QDialog {
    Q_OBJECT
public:
    MFPulseDlg(const ConfigRoot& root, MessageSink& sink, const std::string& path, double rangeEnd,
               QWidget* parent = nullptr);

    // The window's start: the processing graphs dialog's Start. Until it is set, the file's own
    // minimum range.
    void setRangeStart(double rangeStart) { rangeStart_ = rangeStart; }

    // "Process".
    void process();

    Graph& graph() { return graph_; }
    QString firstText() const { return text1_.text(); }
    QString secondText() const { return text2_.text(); }
    const PulseAnalysis& analysis() const { return analysis_; }

private:
    PulseAnalyser analyser_;
    std::string path_;
    std::optional<double> rangeStart_;
    double rangeEnd_;
    PulseAnalysis analysis_;

    QVBoxLayout layout_;
    Graph graph_;
    QLabel text1_{QStringLiteral("Static")};
    QLabel text2_{QStringLiteral("Static")};
    QHBoxLayout buttons_;
    QPushButton processButton_{QStringLiteral("Process")};
    QPushButton doneButton_{QStringLiteral("Done")};
};

} // namespace quarv
