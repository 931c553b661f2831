// "Build Point Cloud Dialog" (RangerQuarv): the range exclusion window, the SNR limit and the
// sliding average of the next run, the prepared recording's configuration lines, and a quick
// quality view: for a group of scan lines, range against beam angle per line ("Plot-%d") and
// their per-shot average ("Ave"), with the standard deviations. The processing itself belongs
// to the ProcessingSession the dialog is given; the dialog reads and writes its values.
//
// Each showing (activation) sets the controls from the session's values and opens the
// session's prepared file for playback, which like every preparation stops a running line loop
// before its next line; "Process Pt Cloud" is enabled only when that recording opened. It hands
// the edited values to the session, the "Perform Range Exclusion" box as the range gate byte of
// laserscan.cfg, and accepts; "Cancel" leaves them (a click on the box only enables or disables
// the two range edits). Closing the dialog either way closes its reader.
//
//   RangerQuarv dlg(session, sink, mainWindow);
//   if (dlg.exec() == QDialog::Accepted) ... session.startProcessing(layer) ...
#pragma once

#include "core/app/message_sink.hpp"
#include "core/scan/processing_session.hpp"
#include "gui/graph/graph.hpp"
#include "gui/graph/num_edit.hpp"
#include "gui/graph/slide.hpp"
#include "gui/scan/quality_view.hpp"
#include "gui/scanfile/info_list.hpp"

#include <QCheckBox>
#include <QDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace quarv {

class RangerQuarv : public QDialog {
    Q_OBJECT
public:
    RangerQuarv(ProcessingSession& session, MessageSink& sink, QWidget* parent = nullptr);

    // The activation steps (run on every showing).
    void activate();
    // "Process Pt Cloud": edited values -> session, accept.
    void processPointCloud();
    // The quality view of line group g (the slide's value).
    void showQuality(std::uint32_t g);

    const QualityGroup& quality() const { return quality_; }
    Graph& linesGraph() { return linesGraph_; }
    Graph& averageGraph() { return averageGraph_; }
    Slide& groupSlide() { return slide_; }
    InfoList& infoList() { return info_; }
    QString statsText() const { return stats_.text(); }
    QPushButton& processButton() { return processButton_; }

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void rangeBoxClicked();
    void showValues();

    ProcessingSession& session_;
    MessageSink& sink_;
    QualityGroup quality_;

    QVBoxLayout layout_;
    QHBoxLayout columns_;
    QVBoxLayout left_;
    QGroupBox exclusion_;
    QFormLayout exclusionForm_;
    QCheckBox rangeBox_{QStringLiteral("Perform Range Exclusion")};
    NumEdit startEdit_{-100000, 100000, 3};
    NumEdit endEdit_{-100000, 100000, 3};
    QFormLayout form_;
    NumEdit snrEdit_{-1e12, 1e12, 2};
    NumEdit averageEdit_{0, 4294967295.0, 0};
    QSpinBox returnsEdit_;
    InfoList info_;
    QVBoxLayout right_;
    Graph linesGraph_;
    Graph averageGraph_;
    Slide slide_;
    QLabel stats_{QStringLiteral("Statis")};
    QHBoxLayout buttons_;
    QPushButton processButton_{QStringLiteral("Process Pt Cloud")};
    QPushButton cancelButton_{QStringLiteral("Cancel")};
};

} // namespace quarv
