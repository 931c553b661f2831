// CquarvApp: the application object. It owns, in this order, the point store and the renderer,
// the processing session (the processing thread with its request protocol) with the build dialog
// that edits its values, the colour ramp and the long-lived dialogs; reads the layer list at
// construction; creates the main frame at start-up; and carries the commands of the menu and
// toolbar. It does no processing itself.
#pragma once

#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_renderer.hpp"
#include "core/cloud/cloud_store.hpp"
#include "core/config/config_root.hpp"
#include "core/viewer/color_ramp.hpp"
#include "gui/app/gui_message_sink.hpp"
#include "gui/app/gui_notifier.hpp"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace quarv {

class CMainFrame;
class CChildView;
class CfgDlg;
class ColorCFG;
class ProcGraphDlg;
class ProcessingSession;
class RangerQuarv;
class layerDlg;

// Asks for the path of a file to save: caption, proposed path, filter and default suffix.
// Returns an empty string when the operator cancels. The standard one is a save-file dialog
// that asks before overwriting.
using SaveChooser =
    std::function<QString(QWidget* parent, const QString& caption, const QString& proposed,
                          const QString& filter, const QString& suffix)>;

class CquarvApp : public QObject {
    Q_OBJECT
public:
    // The configuration root must already exist (ConfigRoot::ensureCreated).
    explicit CquarvApp(const ConfigRoot& root);
    ~CquarvApp() override;

    // Start-up: the main frame, shown maximised (or normal when `maximised` is false), its title,
    // and the hand-over of the frame and the view to the processing side. Without `openGl` the
    // frame shows no view (see CMainFrame); everything else works.
    void initInstance(bool maximised = true, bool openGl = true);

    // Carries out the command `id` of the menu or toolbar.
    void onCommand(int id);

    // Steps 5 to 10 of the Process command for a file already chosen: wait (at most a second)
    // for the processing side to be idle, open the file by its kind, and start the run into
    // `layer`. False when the file could not be opened (the reader has said why).
    bool processFile(std::uint32_t layer, const std::string& path);

    // The individual commands.
    void processCommand();
    void saveLas();
    void saveXyz();
    void processingGraphs();
    void editCfgParameters();
    void colorSettings();
    // The build dialog on the prepared file; "Process Pt Cloud" runs it into the current layer
    // with the dialog's range gate, window and SNR limit, which become the layer's.
    void buildPointCloud();
    void displayPointCloud();
    void fileInformation();
    void layerStatistics();
    void about();
    // File -> "Save View Image...": the view as shown, legend included, as a PNG.
    void saveViewImage();
    // Writes the view as shown (or the whole main window) to `path` as a PNG, atomically. False,
    // with "ERROR writing image file: PATH" in the sink, when it cannot be written.
    bool writeViewImage(const std::string& path, bool wholeWindow = false);
    // The Processing Graphs at shot `shot` of line `line` of the recording `path`.
    void showWaveform(const QString& path, unsigned line, unsigned shot);

    void setSaveChooser(SaveChooser chooser) { chooseSave_ = std::move(chooser); }

    const ConfigRoot& root() const { return root_; }
    CloudStore& store() { return *store_; }
    CloudRenderer& renderer() { return *renderer_; }
    ProcessingSession& session() { return *session_; }
    RangerQuarv& rangerQuarv() { return *rangerQuarv_; }
    ColorRamp& colorRamp() { return ramp_; }
    layerDlg& layerDialog() { return *layerDlg_; }
    ProcGraphDlg& procGraphDialog() { return *procGraphDlg_; }
    CfgDlg& cfgDialog() { return *cfgDlg_; }
    ColorCFG& colorCfg() { return *colorCfg_; }
    GuiMessageSink& sink() { return sink_; }
    CMainFrame& frame() { return *frame_; }
    CChildView& view();
    const std::string& sourcePath() const { return sourcePath_; }
    std::uint8_t pointSize() const { return pointSize_; }

private:
    void showMessage(const QString& text);
    void waitWhileBusy();
    void applyPointSize();
    bool chooseSavePath(const QString& caption, const std::string& extension, const QString& filter,
                        QString& path);

    ConfigRoot root_;
    GuiMessageSink sink_;
    GuiNotifier notifier_;
    std::unique_ptr<CMainFrame> frame_; // made by initInstance; outlives the dialogs below

    std::unique_ptr<CloudStore> store_;
    std::unique_ptr<CloudRenderer> renderer_;
    std::unique_ptr<ProcessingSession> session_;
    std::unique_ptr<RangerQuarv> rangerQuarv_;
    ColorRamp ramp_;
    std::unique_ptr<layerDlg> layerDlg_;
    std::unique_ptr<ProcGraphDlg> procGraphDlg_;
    std::unique_ptr<CfgDlg> cfgDlg_;
    std::unique_ptr<ColorCFG> colorCfg_;

    std::string sourcePath_;     // the recording chosen last, whole
    std::uint8_t pointSize_ = 0; // the colour settings' point size, the view's base size
    SaveChooser chooseSave_;
};

// "Vornsketh            Ombrel            version 3.04"
QString mainWindowTitle();

} // namespace quarv
