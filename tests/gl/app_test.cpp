// The workstation as the operator meets it: start-up, the main frame, the commands, and a
// recording processed into a layer and saved.
#include "core/app/layer_statistics.hpp"
#include "core/cloud/cloud_export.hpp"
#include "core/scan/process_request.hpp"
#include "gui/app/about_dlg.hpp"
#include "gui/app/command_ids.hpp"
#include "gui/app/custom_events.hpp"
#include "gui/app/main_frame.hpp"
#include "gui/app/quarv_app.hpp"
#include "gui/config/cfg_dlg.hpp"
#include "gui/config/color_cfg.hpp"
#include "gui/dialogs/layer_dlg.hpp"
#include "gui/scan/ranger_quarv.hpp"
#include "gui/scanfile/file_info_dlg.hpp"
#include "gui_support.hpp"
#include "support/golden.hpp"
#include "support/recordings.hpp"

#include <QMenuBar>
#include <QTest>
#include <QToolBar>

namespace quarv::test {
namespace {

namespace fs = std::filesystem;

struct AppTest : Home {
    void SetUp() override {
        Home::SetUp();
        app = std::make_unique<CquarvApp>(root);
        app->sink().setPresenter([this](const QString& t) { reported.push_back(t); });
        app->initInstance(false);
        app->frame().resize(900, 600);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->frame()));
    }
    void waitIdle() {
        for (int i = 0; i < 3000 && !app->session().waitUntilIdle(std::chrono::milliseconds(10));
             ++i)
            QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    std::string command(int id) {
        std::string out;
        for (const QString& m : messagesOf([&] { app->onCommand(id); }))
            out += m.toStdString() + "\n";
        return out;
    }
    std::string modes() {
        const CChildView& v = app->view();
        return formatMessage("motion %d pick %d display %d cloud %d\n", v.motionMode(),
                             v.pickMode(), v.displayMode(), v.hasCloud());
    }

    std::unique_ptr<CquarvApp> app;
    std::vector<QString> reported; // what the core reported through the message sink
};

TEST_F(AppTest, StartUpFrameCommandsAndStatusBar) {
    CMainFrame& f = app->frame();
    QString out = f.windowTitle() + "\n" + app->rangerQuarv().windowTitle() + "\n-- toolbar\n";
    for (QAction* a : f.toolBar().actions())
        out += a->isSeparator() ? "|\n"
                                : QString("%1 %2 icon %3\n")
                                      .arg(a->property("commandId").toInt())
                                      .arg(a->toolTip())
                                      .arg(!a->icon().isNull());
    for (QAction* m : f.menuBar()->actions()) {
        out += "-- menu " + m->text() + "\n";
        for (QAction* a : m->menu()->actions())
            if (!a->isSeparator()) out += a->text() + " " + a->shortcut().toString() + "\n";
    }
    out += "-- keys " + f.action(ID_EDIT_CFG)->shortcut().toString() + " " +
           f.action(ID_DISPLAY_POINT_CLOUD)->shortcut().toString() + "\n";
    std::string log = out.toStdString() + modes();
    CProgStatusBar& bar = f.progStatusBar();
    for (int v : {-1, 37, 100, 0}) { // the first progress shows the bar, and it stays
        if (v >= 0) QCoreApplication::postEvent(&f, new ProgressEvent(v));
        QCoreApplication::processEvents();
        log += formatMessage("progress %d: bar %d of %d-%d, hidden %d, pane '%s'\n", v,
                             bar.progressBar().value(), bar.progressBar().minimum(),
                             bar.progressBar().maximum(), bar.progressBar().isHidden(),
                             bar.paneText(0).toStdString().c_str());
    }
    for (int id : kToolbarLayout) {
        if (id == 0 || id == ID_PROCESS_TOOLBAR || id == ID_FILE_INFO || id == ID_LAYER_STATISTICS)
            continue;
        app->view().camera().zoom = 2;
        f.action(id)->trigger();
        log += formatMessage("%d checked %d zoom %g ", id, f.action(id)->isChecked(),
                             app->view().camera().zoom) +
               modes();
    }
    log += "statistics without a layer: " + command(ID_LAYER_STATISTICS);
    withModals([&] { app->onCommand(ID_APP_ABOUT); },
               [&](QWidget* w) {
                   log +=
                       "about: " + qobject_cast<CAboutDlg*>(w)->versionText().toStdString() + "\n";
                   static_cast<QDialog*>(w)->accept();
               });
    for (std::uint32_t l = 0; l < LAYER_COUNT; ++l) { // as the shipped layer list has them
        const PointLayer& layer = app->store().layer(l);
        log += formatMessage("layer %u: size %u range %g-%g snr %g use %u points %u\n", l,
                             layer.pointSize, layer.rangeMin, layer.rangeMax, layer.snrMin,
                             layer.inUse, app->store().pointCount(l));
    }
    expectGolden("gl_main_frame.txt", log);
}

TEST_F(AppTest, ProcessesARecordingIntoLayerOneAndSavesIt) {
    const fs::path raw = makeRecording(dir.path(), "scan01.raw");
    ASSERT_TRUE(app->processFile(0, raw.string()));
    EXPECT_EQ(app->frame().windowTitle(), QStringLiteral("Ombrel     ") + raw.c_str());
    waitIdle();
    EXPECT_TRUE(reported.empty()) << reported.front().toStdString();
    const CloudStore& store = app->store();
    EXPECT_GT(store.countVisible(0, true), 100u);
    EXPECT_EQ(std::string(store.layer(0).name.data()), raw.string());

    // The saved files are the exports of what the view holds, under names taken from the
    // recording's; the last save dialog is cancelled.
    NullSink quiet;
    ASSERT_TRUE(exportLas(app->renderer(), dir / "ref.las", quiet) &&
                exportXyz(app->renderer(), dir / "ref.xyz", quiet));
    QStringList proposed;
    for (const std::string ext : {"las", "xyz", ""}) {
        app->setSaveChooser([&](QWidget*, const QString&, const QString& p, const QString&,
                                const QString&) {
            proposed << p;
            return ext.empty() ? QString() : QString::fromStdString((dir / "gui.").string() + ext);
        });
        app->frame().action(ext == "xyz" ? ID_SAVE_XYZ : ID_SAVE_LAS)->trigger();
    }
    EXPECT_EQ(describe(proposed, dir.path()),
              "<dir>/scan01.las\n<dir>/scan01.xyz\n<dir>/scan01.las\n");
    EXPECT_EQ(readBytes(dir / "gui.las"), readBytes(dir / "ref.las"));
    EXPECT_EQ(readBytes(dir / "gui.xyz"), readBytes(dir / "ref.xyz"));
    EXPECT_FALSE(fs::exists(dir / "scan01.las"));

    const auto stats = layerStatistics(store, 0);
    ASSERT_TRUE(stats.has_value());
    EXPECT_EQ(command(ID_LAYER_STATISTICS), layerStatisticsMessage(*stats) + "\n");

    // Display Point Cloud (Ctrl+D): grey by height.
    app->frame().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&app->frame()));
    QTest::keyClick(&app->frame(), Qt::Key_D, Qt::ControlModifier);
    for (std::uint32_t i = 0; i < store.pointCount(0); ++i) {
        const Rgb c = store.point(0, i).color;
        ASSERT_TRUE(!store.point(0, i).valid || (c.r == c.g && c.g == c.b)) << i;
    }
}

TEST_F(AppTest, ProcessCommandsGoThroughTheLayerDialogAndFileKindsFollowTheNames) {
    // A raw recording named .LAS is processed as a recording.
    const fs::path raw = makeRecording(dir.path(), "scan.LAS");
    fs::remove(root.cfgFile("layers.lcfg"));
    app->layerDialog().setFileChooser([&](QWidget*, const QString&, const QString&) {
        return QString::fromStdString(raw.string());
    });
    const auto answer = [&](int id, const std::function<void(QWidget*)>& how) {
        return withModals([&] { app->onCommand(id); }, how);
    };
    answer(ID_PROCESS_RAW_PEAK,
           [](QWidget* w) { qobject_cast<layerDlg*>(w)->reject(); }); // nothing happens
    EXPECT_FALSE(fs::exists(root.cfgFile("layers.lcfg")) || app->view().hasCloud());
    // "Perform Updates" without a file: the layer list is written and the layers re-filtered.
    answer(ID_PROCESS_ADD_FILE, [](QWidget* w) { qobject_cast<layerDlg*>(w)->performUpdates(); });
    EXPECT_TRUE(fs::exists(root.cfgFile("layers.lcfg")));
    EXPECT_EQ(app->session().request(), ProcessRequest::FilterLayers);
    EXPECT_FALSE(app->view().hasCloud());
    answer(ID_PROCESS_TOOLBAR, [](QWidget* w) { qobject_cast<layerDlg*>(w)->loadFile(2); });
    EXPECT_TRUE(app->view().hasCloud());
    waitIdle();
    EXPECT_GT(app->store().countVisible(2, true), 100u);
    EXPECT_EQ(app->sourcePath(), raw.string());

    // File information shows that recording; Edit CFG takes the colour settings' point size.
    QStringList lines;
    answer(ID_FILE_INFO, [&](QWidget* w) {
        lines = qobject_cast<FileInfoDlg*>(w)->lines();
        static_cast<QDialog*>(w)->accept();
    });
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[2].toStdString(), raw.string());
    EXPECT_EQ(answer(ID_EDIT_CFG, [](QWidget* w) { qobject_cast<CfgDlg*>(w)->accept(); }), 1);
    EXPECT_EQ(app->pointSize(), app->colorCfg().pointSize());

    // a.3DC.raw is taken for a cloud file, which it is not: nothing starts, the title stays,
    // and the cloud-file reader says why.
    const QString title = app->frame().windowTitle();
    fs::copy_file(raw, dir / "a.3DC.raw");
    EXPECT_FALSE(app->processFile(3, (dir / "a.3DC.raw").string()));
    QCoreApplication::processEvents();
    EXPECT_EQ(app->frame().windowTitle(), title);
    EXPECT_FALSE(app->store().layer(3).inUse);
    EXPECT_FALSE(reported.empty());
}

} // namespace
} // namespace quarv::test
