// "Processing Graphs Dialog" (ProcGraphDlg): one recording looked at shot by shot. The line
// slider selects a group of records (the range, intensity and angle graphs), the shot slider one
// pulse of it (its raw waveform, its correlation with the peak cursor and the numbers of each
// processing step). "Proc Start (m)" and "End" set the search window; until the operator edits
// them they follow the window of each loaded recording.
//
//   ProcGraphDlg dlg(configRoot, sink, mainWindow);   // long-lived; keeps its window values
//   dlg.exec();
#pragma once

#include "core/app/message_sink.hpp"
#include "core/config/config_root.hpp"
#include "gui/dialogs/choosers.hpp"
#include "gui/dialogs/proc_graph_model.hpp"
#include "gui/graph/graph.hpp"
#include "gui/graph/num_edit.hpp"
#include "gui/graph/slide.hpp"

#include <QDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <functional>
#include <string>

namespace quarv {

// The Qt form of "3D Files (*.pek;*.raw)|*.pek;*.raw|".
inline const char* const kGraphFileFilter = "3D Files (*.pek *.raw)";

// Opens the matched-filter pulse dialog for a file and the current "End" value (the standard
// launcher also hands on the current "Proc Start").
using PulseDialogLauncher =
    std::function<void(QWidget* parent, const std::string& path, double rangeEnd)>;

class ProcGraphDlg : public QDialog {
    Q_OBJECT
public:
    ProcGraphDlg(const ConfigRoot& root, MessageSink& sink, QWidget* parent = nullptr);

    // "Load File" with a path: title, records, sliders, group 0. False when the file could not
    // be opened (the dialog keeps showing what it showed).
    bool loadFile(const std::string& path);
    // Loads `path` (unless it is open already) and shows shot `shot` of line `line`: the group
    // on the line slider, the pulse on the shot slider. False when the file could not be opened.
    bool showShot(const std::string& path, std::uint32_t line, std::uint32_t shot);
    // "Load File": asks for a file first.
    void chooseAndLoad();
    // "MF Pulse Dlg".
    void openPulseDialog();

    void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
    void setPulseDialogLauncher(PulseDialogLauncher launcher) { launch_ = std::move(launcher); }

    // The widgets, for the application's tests and the screenshots.
    Graph& waveformGraph() { return waveform_; }
    Graph& correlationGraph() { return correlation_; }
    Graph& angleGraph() { return angle_; }
    Graph& intensityGraph() { return intensity_; }
    Graph& rangeGraph() { return range_; }
    Slide& shotSlider() { return shotSlide_; }
    Slide& lineSlider() { return lineSlide_; }
    NumEdit& startEdit() { return startEdit_; }
    NumEdit& endEdit() { return endEdit_; }
    ProcGraphModel& model() { return model_; }
    // The result texts in their order: peak raw, peak XC, peak before quad, peak using quad,
    // horizontal position, Range, SNR, Intensity, El Scanner, El Opt, Std Dev.
    QStringList resultTexts() const;

    // Cursor colours of the correlation graph: the return inside or outside the window.
    static QColor insideColor() { return QColor(0, 150, 0); }
    static QColor outsideColor() { return QColor(220, 40, 0); }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    bool acting() const { return active_ && !loading_ && model_.isOpen(); }
    void showGroup(std::uint32_t g);
    void showPulse(std::uint32_t v);
    void drawGroup(const GroupView& g);
    void drawPulse(const PulseView& p);
    void windowEdited();

    ProcGraphModel model_;
    MessageSink& sink_;
    ConfigRoot root_;
    FileChooser chooseFile_;
    PulseDialogLauncher launch_;
    bool active_ = false;
    bool loading_ = false;
    bool windowTouched_ = false;

    QVBoxLayout layout_;
    QHBoxLayout top_;
    QPushButton loadButton_{QStringLiteral("Load File")};
    QPushButton pulseButton_{QStringLiteral("MF Pulse Dlg")};
    QLabel startLabel_{QStringLiteral("Proc Start (m)")};
    NumEdit startEdit_{-1000, 1000, 3};
    QLabel endLabel_{QStringLiteral("End")};
    NumEdit endEdit_{-1000, 1000, 3};
    QGridLayout grid_;
    Graph waveform_;
    Graph correlation_;
    Slide shotSlide_;
    QGroupBox results_;
    QVBoxLayout resultsLayout_;
    QLabel peakRaw_, peakXc_, peakBeforeQuad_, peakQuad_, horPos_, rangeText_, snr_, intensityText_,
        elScanner_, elOpt_, stdDev_;
    Graph angle_;
    Graph intensity_;
    Graph range_;
    Slide lineSlide_;
};

} // namespace quarv
