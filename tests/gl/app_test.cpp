// The workstation as the operator meets it: start-up, the main frame, the commands, and a
// recording processed into a layer and saved, compared with the headless path of quarv-cli.
#include "gl_support.hpp"

#include "core/app/layer_statistics.hpp"
#include "core/app/save_names.hpp"
#include "core/cloud/cloud_export.hpp"
#include "core/config/layer_list.hpp"
#include "core/scan/process_request.hpp"
#include "core/scan/processing_session.hpp"
#include "core/sim/simulator.hpp"
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
#include "support/recordings.hpp"
#include "support/test_support.hpp"

#include <QCoreApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QToolBar>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>

namespace quarv::test {
namespace {

namespace fs = std::filesystem;

class AppTest : public testing::Test {
protected:
    void SetUp() override {
        RecordingSink sink;
        ASSERT_TRUE(root.ensureCreated(sink));
        app = std::make_unique<CquarvApp>(root);
        app->sink().setPresenter([this](const QString& t) { reported.push_back(t); });
        app->initInstance(false);
        app->frame().resize(900, 600);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->frame()));
    }
    void TearDown() override { app.reset(); }

    void waitIdle() {
        for (int i = 0; i < 3000 && !app->session().waitUntilIdle(std::chrono::milliseconds(10));
             ++i) {
            QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();
    }
    std::vector<QString> command(int id, bool ok = true) {
        return messagesOf([&] { app->onCommand(id); }, ok);
    }

    TempDir tmp;
    ConfigRoot root{tmp / "home"};
    std::unique_ptr<CquarvApp> app;
    std::vector<QString> reported; // what the core reported through the message sink
};

TEST_F(AppTest, StartUpShowsTheFrameAsConfigured) {
    CMainFrame& f = app->frame();
    EXPECT_EQ(f.windowTitle(),
              QStringLiteral("Vornsketh            Ombrel            version 3.04"));

    // Twelve buttons in their order, separators where the layout has them.
    std::vector<int> layout;
    int buttons = 0;
    for (QAction* a : f.toolBar().actions()) {
        if (a->isSeparator()) {
            layout.push_back(0);
            continue;
        }
        ++buttons;
        layout.push_back(a->property("commandId").toInt());
        EXPECT_FALSE(a->icon().isNull()) << layout.back();
        EXPECT_FALSE(a->toolTip().isEmpty()) << layout.back();
    }
    EXPECT_EQ(buttons, 12);
    EXPECT_EQ(layout, std::vector<int>(std::begin(kToolbarLayout), std::end(kToolbarLayout)));

    // The menus and their captions.
    std::vector<std::pair<QString, QStringList>> menus;
    for (QAction* m : f.menuBar()->actions()) {
        QStringList items;
        for (QAction* a : m->menu()->actions()) {
            if (!a->isSeparator()) items << a->text();
        }
        menus.emplace_back(m->text(), items);
    }
    ASSERT_EQ(menus.size(), 4u);
    EXPECT_EQ(menus[0].first, "&File");
    EXPECT_EQ(menus[0].second,
              QStringList({"Process Raw / Peak", "Process && Add File", "Processing Graphs",
                           "Save LAS File", "Save XYZ File", "E&xit"}));
    EXPECT_EQ(menus[1].first, "&Edit");
    EXPECT_EQ(menus[2].first, "&View");
    EXPECT_EQ(menus[2].second, QStringList({"&Toolbar", "&Status Bar"}));
    EXPECT_EQ(menus[3].first, "&Help");
    EXPECT_EQ(menus[3].second, QStringList({"&About quarv..."}));
    EXPECT_EQ(f.action(ID_PROCESS_RAW_PEAK)->property("commandId").toInt(), ID_PROCESS_RAW_PEAK);
    // The commands without a menu item or button have keys.
    EXPECT_EQ(f.action(ID_EDIT_CFG)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_E));
    EXPECT_EQ(f.action(ID_DISPLAY_POINT_CLOUD)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_D));

    // Status bar: two panes, the bar hidden, pane 0 with 17 spaces.
    CProgStatusBar& bar = f.progStatusBar();
    EXPECT_EQ(bar.paneText(0), QString(17, ' '));
    EXPECT_TRUE(bar.progressBar().isHidden());
    EXPECT_EQ(bar.progressBar().minimum(), 0);
    EXPECT_EQ(bar.progressBar().maximum(), 100);

    // The view's initial state and the layers read from the shipped layer list.
    EXPECT_EQ(app->view().motionMode(), kMotionTranslate);
    EXPECT_EQ(app->view().pickMode(), kPickPointInfo);
    EXPECT_EQ(app->view().displayMode(), kDisplayPointCloud);
    EXPECT_FALSE(app->view().hasCloud());
    EXPECT_EQ(app->rangerQuarv().windowTitle(), QStringLiteral("Build Point Cloud Dialog"));
    std::array<PointLayer, LAYER_COUNT> expected{};
    ASSERT_TRUE(readLayerList(expected.data(), LAYER_COUNT, root, "layers"));
    for (std::uint32_t l = 0; l < LAYER_COUNT; ++l) {
        EXPECT_EQ(app->store().layer(l).pointSize, expected[l].pointSize);
        EXPECT_EQ(app->store().layer(l).rangeMax, expected[l].rangeMax);
        EXPECT_EQ(app->store().layer(l).inUse, 0);
        EXPECT_EQ(app->store().pointCount(l), 0u);
    }
}

TEST_F(AppTest, ProgressEventsDriveTheStatusBar) {
    CProgStatusBar& bar = app->frame().progStatusBar();
    const auto post = [&](int v) {
        QCoreApplication::postEvent(&app->frame(), std::make_unique<ProgressEvent>(v).release());
        QCoreApplication::processEvents();
    };
    post(37);
    EXPECT_FALSE(bar.progressBar().isHidden()); // the first progress shows the bar
    EXPECT_EQ(bar.progressBar().value(), 37);
    EXPECT_EQ(bar.paneText(0), QString(17, ' '));
    post(100);
    EXPECT_EQ(bar.progressBar().value(), 100);
    post(0);
    EXPECT_EQ(bar.progressBar().value(), 0);
    EXPECT_EQ(bar.paneText(0), QStringLiteral("Ready"));
    EXPECT_FALSE(bar.progressBar().isHidden()); // and it stays
}

TEST_F(AppTest, ToolbarSetsTheViewModes) {
    struct Case {
        int id, motion, pick;
    };
    const Case cases[] = {
        {ID_ROTATION_MOTION, kMotionRotate, kPickPointInfo},
        {ID_TRANSLATE_MOTION, kMotionTranslate, kPickPointInfo},
        {ID_MEASURE_FIRST, kMotionTranslate, kPickFirstPoint},
        {ID_MEASURE_SECOND, kMotionTranslate, kPickSecondPoint},
        {ID_TARGET_FIRST, kMotionTranslate, kPickFirstTarget},
        {ID_TARGET_SECOND, kMotionTranslate, kPickSecondTarget},
        {ID_CENTRE_OF_ROTATION, kMotionTranslate, kPickCentre},
        {ID_POINT_INFO, kMotionTranslate, kPickPointInfo},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        app->frame().action(c.id)->trigger();
        EXPECT_EQ(app->view().motionMode(), c.motion);
        EXPECT_EQ(app->view().pickMode(), c.pick);
        EXPECT_TRUE(app->frame().action(c.id)->isChecked());
    }
    OrbitCamera& cam = app->view().camera();
    cam.rotX = 12;
    cam.panA = 3;
    cam.zoom = 2;
    app->frame().action(ID_RESET_CAMERA)->trigger();
    EXPECT_EQ(cam.rotX, 0.0f);
    EXPECT_EQ(cam.panA, 0.0f);
    EXPECT_EQ(cam.zoom, 0.8f);
}

TEST_F(AppTest, AboutShowsTheVersion) {
    QString version;
    const int shown = withModals([&] { app->onCommand(ID_APP_ABOUT); },
                                 [&](QWidget* w) {
                                     auto* about = qobject_cast<CAboutDlg*>(w);
                                     ASSERT_NE(about, nullptr);
                                     version = about->versionText();
                                     about->accept();
                                 });
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(version, QStringLiteral("Version 3.04"));
}

TEST_F(AppTest, ProcessesARecordingIntoLayerOneAndSavesWhatTheCommandLineSaves) {
    const fs::path raw = makeRecording(tmp.path(), "scan01.raw");
    ASSERT_TRUE(app->processFile(0, raw.string()));
    EXPECT_EQ(app->frame().windowTitle(), QStringLiteral("Ombrel     ") + raw.c_str());
    EXPECT_TRUE(app->view().hasCloud());
    waitIdle();
    EXPECT_TRUE(reported.empty()) << reported.front().toStdString();
    const CloudStore& store = app->store();
    EXPECT_TRUE(store.layer(0).inUse);
    EXPECT_GT(store.countVisible(0, true), 100u);
    EXPECT_EQ(std::string(store.layer(0).name.data()), raw.string());
    EXPECT_EQ(app->sourcePath(), raw.string());

    // The headless path: the same session protocol into a store of its own, layer settings from
    // the same layer list.
    auto refStore = std::make_unique<CloudStore>();
    auto refRenderer = std::make_unique<CloudRenderer>(*refStore);
    readLayerList(refStore->layers(), LAYER_COUNT, root, "layers");
    refStore->resetAll();
    {
        RecordingSink sink;
        NullNotifier notifier;
        ProcessingSession session(*refStore, *refRenderer, root, sink, notifier);
        session.setRangeWindow(refStore->layer(0).rangeMin, refStore->layer(0).rangeMax);
        session.setSnrMin(refStore->layer(0).snrMin);
        ASSERT_TRUE(session.openPlayback(raw));
        session.setRequest(ProcessRequest::ProcessPlayback);
        ASSERT_TRUE(session.startProcessing(0));
        ASSERT_TRUE(session.waitUntilIdle(std::chrono::minutes(2)));
    }
    NullSink quiet;
    ASSERT_TRUE(exportLas(*refRenderer, tmp / "ref.las", quiet));
    ASSERT_TRUE(exportXyz(*refRenderer, tmp / "ref.xyz", quiet));

    std::vector<QString> proposed;
    const auto saveTo = [&](const fs::path& out) {
        app->setSaveChooser([&proposed, out](QWidget*, const QString&, const QString& p,
                                             const QString&, const QString&) {
            proposed.push_back(p);
            return QString::fromStdString(out.string());
        });
    };
    saveTo(tmp / "gui.las");
    app->frame().action(ID_SAVE_LAS)->trigger();
    saveTo(tmp / "gui.xyz");
    app->frame().action(ID_SAVE_XYZ)->trigger();
    ASSERT_EQ(proposed.size(), 2u);
    EXPECT_EQ(proposed[0].toStdString(), (tmp / "scan01.las").string());
    EXPECT_EQ(proposed[1].toStdString(), (tmp / "scan01.xyz").string());
    EXPECT_EQ(readBytes(tmp / "gui.las"), readBytes(tmp / "ref.las"));
    EXPECT_EQ(readBytes(tmp / "gui.xyz"), readBytes(tmp / "ref.xyz"));
    EXPECT_GT(readBytes(tmp / "gui.xyz").size(), 100u * 20);

    // A cancelled save dialog writes nothing.
    app->setSaveChooser([](QWidget*, const QString&, const QString&, const QString&,
                           const QString&) { return QString(); });
    app->frame().action(ID_SAVE_LAS)->trigger();
    EXPECT_FALSE(fs::exists(tmp / "scan01.las"));

    // Layer statistics over the processed layer.
    const auto stats = quarv::layerStatistics(store, 0);
    ASSERT_TRUE(stats.has_value());
    EXPECT_EQ(command(ID_LAYER_STATISTICS),
              std::vector<QString>{QString::fromStdString(layerStatisticsMessage(*stats))});
    EXPECT_TRUE(command(ID_LAYER_STATISTICS)[0].startsWith("Ave:  AZ:"));

    // Display Point Cloud (Ctrl+D): grey by height.
    app->frame().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&app->frame()));
    QTest::keyClick(&app->frame(), Qt::Key_D, Qt::ControlModifier);
    std::uint32_t grey = 0, visible = 0;
    for (std::uint32_t i = 0; i < store.pointCount(0); ++i) {
        const CloudPoint& p = store.point(0, i);
        if (!p.valid) continue;
        ++visible;
        grey += (p.color.r == p.color.g && p.color.g == p.color.b) ? 1u : 0u;
    }
    EXPECT_EQ(grey, visible);
    EXPECT_TRUE(app->renderer().dirty() || app->view().glRenderer()->vertexCount() == visible);
}

TEST_F(AppTest, LayerStatisticsNeedLayerOneInUse) {
    EXPECT_TRUE(command(ID_LAYER_STATISTICS).empty());
}

TEST_F(AppTest, FileKindsFollowTheLastExtensionInAnyCase) {
    // A raw recording named a.3DC.raw is processed as a recording; scan.LAS is taken for a LAS
    // file, which it is not, so nothing starts and the title stays.
    const fs::path upper = makeRecording(tmp.path(), "a.3DC.raw");
    ASSERT_TRUE(app->processFile(1, upper.string()));
    waitIdle();
    EXPECT_GT(app->store().countVisible(1, true), 100u);

    const QString title = app->frame().windowTitle();
    fs::copy_file(upper, tmp / "scan.LAS");
    EXPECT_FALSE(app->processFile(2, (tmp / "scan.LAS").string()));
    QCoreApplication::processEvents();
    EXPECT_EQ(app->frame().windowTitle(), title);
    EXPECT_FALSE(app->store().layer(2).inUse);
    ASSERT_FALSE(reported.empty()); // the LAS reader said why
}

TEST_F(AppTest, ProcessCommandGoesThroughTheLayerDialog) {
    const fs::path raw = makeRecording(tmp.path(), "line.raw");
    fs::remove(root.cfgFile("layers.lcfg"));
    app->layerDialog().setFileChooser([&](QWidget*, const QString&, const QString&) {
        return QString::fromStdString(raw.string());
    });

    // Cancel: nothing happens, not even the layer list.
    withModals([&] { app->onCommand(ID_PROCESS_RAW_PEAK); },
               [](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
    EXPECT_FALSE(fs::exists(root.cfgFile("layers.lcfg")));
    EXPECT_FALSE(app->view().hasCloud());

    // "Perform Updates" without a file: the layer list is written and the layers re-filtered.
    withModals([&] { app->onCommand(ID_PROCESS_ADD_FILE); },
               [](QWidget* w) { qobject_cast<layerDlg*>(w)->performUpdates(); });
    EXPECT_TRUE(fs::exists(root.cfgFile("layers.lcfg")));
    EXPECT_EQ(app->session().request(), ProcessRequest::FilterLayers);
    EXPECT_FALSE(app->view().hasCloud());

    // "Load File" on the third row: the recording goes into layer 2.
    withModals([&] { app->onCommand(ID_PROCESS_TOOLBAR); },
               [](QWidget* w) { qobject_cast<layerDlg*>(w)->loadFile(2); });
    EXPECT_TRUE(app->view().hasCloud());
    waitIdle();
    EXPECT_TRUE(app->store().layer(2).inUse);
    EXPECT_GT(app->store().countVisible(2, true), 100u);
    EXPECT_EQ(app->sourcePath(), raw.string());

    // File information shows that recording.
    QStringList lines;
    withModals([&] { app->onCommand(ID_FILE_INFO); },
               [&](QWidget* w) {
                   auto* dlg = qobject_cast<FileInfoDlg*>(w);
                   ASSERT_NE(dlg, nullptr);
                   lines = dlg->lines();
                   dlg->accept();
               });
    EXPECT_GE(lines.size(), 20);
}

TEST_F(AppTest, EditCfgParametersTakesThePointSizeOnSave) {
    // The colour settings' point size is what the application keeps.
    const int shown = withModals([&] { app->onCommand(ID_EDIT_CFG); },
                                 [](QWidget* w) {
                                     ASSERT_NE(qobject_cast<CfgDlg*>(w), nullptr);
                                     static_cast<QDialog*>(w)->accept();
                                 });
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(app->pointSize(), app->colorCfg().pointSize());
}

} // namespace
} // namespace quarv::test
