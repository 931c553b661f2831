#include "gui/app/quarv_app.hpp"

#include "core/app/layer_statistics.hpp"
#include "core/app/save_names.hpp"
#include "core/cloud/cloud_export.hpp"
#include "core/config/atomic_file.hpp"
#include "core/config/layer_list.hpp"
#include "core/scan/process_request.hpp"
#include "core/scan/processing_session.hpp"
#include "gui/app/about_dlg.hpp"
#include "gui/app/command_ids.hpp"
#include "gui/app/main_frame.hpp"
#include "gui/config/cfg_dlg.hpp"
#include "gui/config/color_cfg.hpp"
#include "gui/dialogs/layer_dlg.hpp"
#include "gui/dialogs/proc_graph_dlg.hpp"
#include "gui/scan/ranger_quarv.hpp"
#include "gui/scanfile/file_info_dlg.hpp"

#include <QApplication>
#include <QBuffer>
#include <QFileDialog>
#include <QMessageBox>
#include <QPainter>
#include <QThread>

namespace quarv {

namespace {

constexpr const char* kLayerList = "layers";

SaveChooser standardSaveChooser() {
    return [](QWidget* parent, const QString& caption, const QString& proposed,
              const QString& filter, const QString& suffix) {
        QFileDialog dialog(parent, caption);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setNameFilter(filter);
        dialog.setDefaultSuffix(suffix);
        dialog.selectFile(proposed);
        // Overwriting an existing file is confirmed by the dialog itself.
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().first();
    };
}

} // namespace

QString mainWindowTitle() {
    return QString::asprintf("Vornsketh            Ombrel            version %d.%02d",
                             kVersionMajor, kVersionMinor);
}

CquarvApp::CquarvApp(const ConfigRoot& root)
    : root_(root), sink_(this), store_(std::make_unique<CloudStore>()),
      renderer_(std::make_unique<CloudRenderer>(*store_)),
      session_(std::make_unique<ProcessingSession>(*store_, *renderer_, root_, sink_, notifier_)),
      rangerQuarv_(std::make_unique<RangerQuarv>(*session_, sink_)),
      layerDlg_(std::make_unique<layerDlg>(*store_, sink_)),
      procGraphDlg_(std::make_unique<ProcGraphDlg>(root_, sink_)),
      cfgDlg_(std::make_unique<CfgDlg>(root_)), colorCfg_(std::make_unique<ColorCFG>(root_)),
      chooseSave_(standardSaveChooser()) {
    // A missing layer list leaves the five records zeroed; every layer starts empty.
    readLayerList(store_->layers(), LAYER_COUNT, root_, kLayerList);
    store_->resetAll();
}

CquarvApp::~CquarvApp() {
    // Nothing may reach the windows once they start to go; then the objects go in the reverse
    // order of their making (the build dialog before the session it edits, whose destruction
    // ends the processing thread before the store it writes).
    notifier_.detach();
    colorCfg_.reset();
    cfgDlg_.reset();
    procGraphDlg_.reset();
    layerDlg_.reset();
    rangerQuarv_.reset();
    session_.reset();
    frame_.reset();
}

CChildView& CquarvApp::view() {
    return frame_->view();
}

void CquarvApp::initInstance(bool maximised, bool openGl) {
    frame_ = std::make_unique<CMainFrame>(openGl);
    connect(frame_.get(), &CMainFrame::command, this, &CquarvApp::onCommand);
    // The dialogs open over the main window.
    for (QDialog* d :
         std::initializer_list<QDialog*>{rangerQuarv_.get(), layerDlg_.get(), procGraphDlg_.get(),
                                         cfgDlg_.get(), colorCfg_.get()}) {
        d->setParent(frame_.get(), d->windowFlags());
    }
    if (maximised) {
        frame_->showMaximized();
    } else {
        frame_->show();
    }
    frame_->setWindowTitle(mainWindowTitle());
    // The view draws the renderer's layers; the processing side posts to the view and the frame.
    CChildView& v = frame_->view();
    v.setRenderer(renderer_.get());
    v.setDisplayMode(kDisplayPointCloud);
    v.setColorRamp(&ramp_);
    frame_->scanImage().attach(renderer_.get(), &v);
    connect(&v, &CChildView::waveformRequested, this, &CquarvApp::showWaveform);
    connect(&frame_->scanImage(), &ScanImagePanel::waveformRequested, this,
            &CquarvApp::showWaveform);
    applyPointSize();
    notifier_.attach(&v, frame_.get());
}

void CquarvApp::onCommand(int id) {
    switch (id) {
    case ID_PROCESS_RAW_PEAK:
    case ID_PROCESS_ADD_FILE:
    case ID_PROCESS_TOOLBAR:
        processCommand();
        break;
    case ID_PROCESSING_GRAPHS:
        processingGraphs();
        break;
    case ID_SAVE_LAS:
        saveLas();
        break;
    case ID_SAVE_XYZ:
        saveXyz();
        break;
    case ID_APP_EXIT:
        frame_->close();
        break;
    case ID_APP_ABOUT:
        about();
        break;
    case ID_RESET_CAMERA:
        view().resetCamera();
        view().update();
        break;
    case ID_TRANSLATE_MOTION:
        view().setMotionMode(kMotionTranslate);
        break;
    case ID_ROTATION_MOTION:
        view().setMotionMode(kMotionRotate);
        break;
    case ID_MEASURE_FIRST:
        view().setPickMode(kPickFirstPoint);
        break;
    case ID_MEASURE_SECOND:
        view().setPickMode(kPickSecondPoint);
        break;
    case ID_TARGET_FIRST:
        view().setPickMode(kPickFirstTarget);
        break;
    case ID_TARGET_SECOND:
        view().setPickMode(kPickSecondTarget);
        break;
    case ID_POINT_INFO:
        view().setPickMode(kPickPointInfo);
        break;
    case ID_CENTRE_OF_ROTATION:
        view().setPickMode(kPickCentre);
        break;
    case ID_FILE_INFO:
        fileInformation();
        break;
    case ID_LAYER_STATISTICS:
        layerStatistics();
        break;
    case ID_EDIT_CFG:
        editCfgParameters();
        break;
    case ID_DISPLAY_POINT_CLOUD:
        displayPointCloud();
        break;
    case ID_COLOR_CFG:
        colorSettings();
        break;
    case ID_BUILD_POINT_CLOUD:
        buildPointCloud();
        break;
    case ID_FIT_CLOUD:
        view().fitCloud();
        break;
    case ID_POINTS_LARGER:
        view().changePointSize(1);
        break;
    case ID_POINTS_SMALLER:
        view().changePointSize(-1);
        break;
    case ID_SAVE_VIEW_IMAGE:
        saveViewImage();
        break;
    default:
        break; // the framework's own entries (toolbar and status bar toggles)
    }
}

void CquarvApp::processCommand() {
    if (layerDlg_->exec() != QDialog::Accepted) return;
    // The settings edited in the dialog persist whether or not a file follows.
    writeLayerList(store_->layers(), LAYER_COUNT, root_, kLayerList);
    std::uint32_t layer = 0;
    std::string path;
    if (!layerDlg_->chosenFile(layer, path)) {
        session_->requestFilter();
        return;
    }
    processFile(layer, path);
}

bool CquarvApp::processFile(std::uint32_t layer, const std::string& path) {
    sourcePath_ = path;
    waitWhileBusy();

    // The build dialog's values follow the layer, as in quarv-cli process, so laserscan.cfg
    // records the run and both programs turn a recording into the same points.
    const PointLayer& rec = store_->layer(layer < LAYER_COUNT ? layer : LAYER_COUNT - 1);
    session_->setRangeWindow(rec.rangeMin, rec.rangeMax);
    session_->setSnrMin(rec.snrMin);

    const ProcessRequest request = requestForPath(sourcePath_.c_str());
    bool opened = false;
    if (request == ProcessRequest::ImportLas) {
        opened = session_->openLas(sourcePath_);
    } else if (request == ProcessRequest::ProcessCloudFile) {
        opened = session_->openCloudFile(sourcePath_);
    } else {
        opened = session_->openPlayback(sourcePath_);
    }
    if (!opened) return false;
    session_->setRequest(request);
    // The processing thread makes the layer current (emptied, in use, named after the file) as
    // the run starts, so that only it writes the store.
    frame_->setWindowTitle(QString::asprintf("Ombrel     %s", session_->filePath().c_str()));
    view().setHasCloud(true);
    return session_->startProcessing(layer);
}

void CquarvApp::waitWhileBusy() {
    // A run still in progress gets a second to finish; the preparation that follows stops it at
    // its next line if it has not.
    for (int i = 0; i < 10 && session_->isBusy(); ++i) QThread::msleep(100);
}

bool CquarvApp::chooseSavePath(const QString& caption, const std::string& extension,
                               const QString& filter, QString& path) {
    const QString proposed =
        QString::fromStdString(defaultSaveName(session_->filePath(), "." + extension));
    path = chooseSave_(frame_.get(), caption, proposed, filter, QString::fromStdString(extension));
    return !path.isEmpty();
}

void CquarvApp::saveLas() {
    QString path;
    if (!chooseSavePath(QStringLiteral("Save LAS File"), "las", QStringLiteral("LAS Files (*.las)"),
                        path)) {
        return;
    }
    // A file that cannot be written is skipped without a word, as the operator chose it.
    NullSink quiet;
    exportLas(*renderer_, path.toStdString(), quiet);
}

void CquarvApp::saveXyz() {
    QString path;
    if (!chooseSavePath(QStringLiteral("Save XYZ File"), "xyz", QStringLiteral("XYZ Files (*.xyz)"),
                        path)) {
        return;
    }
    NullSink quiet;
    exportXyz(*renderer_, path.toStdString(), quiet);
}

void CquarvApp::saveViewImage() {
    QString path;
    if (chooseSavePath(QStringLiteral("Save View Image"), "png",
                       QStringLiteral("PNG Images (*.png)"), path))
        writeViewImage(path.toStdString());
}

bool CquarvApp::writeViewImage(const std::string& path, bool wholeWindow) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImage image;
    if (wholeWindow) {
        image = frame_->grab().toImage();
        // The window's grab takes the view's last frame without what its painter adds (the
        // legend): the view's own snapshot goes on top.
        if (frame_->hasView()) {
            QPainter painter(&image);
            painter.drawImage(view().mapTo(frame_.get(), QPoint(0, 0)), view().snapshot());
        }
    } else if (frame_->hasView()) {
        image = view().snapshot();
    }
    if (image.isNull() || !image.save(&buffer, "PNG") ||
        !writeFileAtomically(path, bytes.constData(), static_cast<std::size_t>(bytes.size()))) {
        sink_.report(formatMessage("ERROR writing image file: %s", path.c_str()));
        return false;
    }
    return true;
}

void CquarvApp::showWaveform(const QString& path, unsigned line, unsigned shot) {
    if (procGraphDlg_->showShot(path.toStdString(), line, shot)) procGraphDlg_->exec();
}

void CquarvApp::processingGraphs() {
    procGraphDlg_->exec();
}

void CquarvApp::editCfgParameters() {
    if (cfgDlg_->exec() != QDialog::Accepted) return;
    applyPointSize();
}

void CquarvApp::colorSettings() {
    if (colorCfg_->exec() != QDialog::Accepted) return;
    applyPointSize();
}

void CquarvApp::applyPointSize() {
    pointSize_ = colorCfg_->pointSize();
    view().setBasePointSize(pointSize_);
}

void CquarvApp::buildPointCloud() {
    if (rangerQuarv_->exec() != QDialog::Accepted) return;
    // The dialog's values win over the layer's for this run: the operator has just set them for
    // this file. They become the layer's (and are kept in the layer list) because a run takes
    // its window and limit from the layer it fills, and so that later re-filters of the layer
    // and quarv-cli process use the same ones.
    waitWhileBusy();
    const std::uint32_t layer = session_->currentLayer();
    session_->giveLayerDialogValues(layer);
    writeLayerList(store_->layers(), LAYER_COUNT, root_, kLayerList);
    const std::string file = session_->filePath();
    processFile(layer, file);
}

void CquarvApp::displayPointCloud() {
    for (std::uint32_t l = 0; l < LAYER_COUNT; ++l) {
        if (store_->layer(l).inUse) renderer_->colorByHeight(l, ramp_);
    }
    view().setDisplayMode(kDisplayPointCloud);
    view().cloudChanged();
}

void CquarvApp::fileInformation() {
    FileInfoDlg dlg(sink_, frame_.get());
    dlg.setPath(sourcePath_);
    dlg.exec();
}

void CquarvApp::layerStatistics() {
    const auto s = quarv::layerStatistics(*store_, 0);
    if (!s) return; // layer 0 not in use
    showMessage(QString::fromStdString(layerStatisticsMessage(*s)));
}

void CquarvApp::about() {
    CAboutDlg dlg(frame_.get());
    dlg.exec();
}

void CquarvApp::showMessage(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("quarv"), text, QMessageBox::Ok,
                    frame_.get());
    box.exec();
}

} // namespace quarv
