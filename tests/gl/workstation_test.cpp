// The workstation under a real GL context (Mesa under Xvfb): frame, commands, a recording processed
// and saved, the points drawn, the pick search and what each pick mode does.
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

#include <QMenuBar>
#include <QToolBar>

#include <cmath>

namespace quarv::test {
namespace {

namespace fs = std::filesystem;
using Counts = std::map<QRgb, int>;

struct AppTest : Home {
    std::unique_ptr<CquarvApp> app;
    std::vector<QString> reported; // what the core reported through the message sink
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
    int answer(int id, const std::function<void(QWidget*)>& how) {
        return withModals([&] { app->onCommand(id); }, how);
    }
};

TEST_F(AppTest, StartUpFrameCommandsAndStatusBar) {
    CMainFrame& f = app->frame();
    QString out = f.windowTitle() + "\n" + app->rangerQuarv().windowTitle() + "\n-- toolbar\n";
    for (QAction* a : f.toolBar().actions())
        out += a->isSeparator()
                   ? QString("|\n")
                   : QString::asprintf("%d %s icon %d\n", a->property("commandId").toInt(),
                                       qPrintable(a->toolTip()), !a->icon().isNull());
    for (QAction* m : f.menuBar()->actions()) {
        out += "-- menu " + m->text() + "\n";
        for (QAction* a : m->menu()->actions())
            if (!a->isSeparator()) out += a->text() + " " + a->shortcut().toString() + "\n";
    }
    out += "-- keys " + f.action(ID_EDIT_CFG)->shortcut().toString() + " " +
           f.action(ID_DISPLAY_POINT_CLOUD)->shortcut().toString() + "\n";
    const CChildView& v = app->view();
    const auto modes = [&] {
        return formatMessage("motion %d pick %d display %d cloud %d\n", v.motionMode(),
                             v.pickMode(), v.displayMode(), v.hasCloud());
    };
    std::string log = out.toStdString() + modes();
    CProgStatusBar& bar = f.progStatusBar();
    for (int p : {-1, 37, 100, 0}) { // the first progress shows the bar, and it stays
        if (p >= 0) QCoreApplication::postEvent(&f, new ProgressEvent(p));
        QCoreApplication::processEvents();
        log += formatMessage("progress %d: bar %d of %d-%d, hidden %d, pane '%s'\n", p,
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
                             v.camera().zoom) +
               modes();
    }
    EXPECT_EQ(answer(ID_LAYER_STATISTICS, {}), 0); // no statistics without a layer
    answer(ID_APP_ABOUT, [&](QWidget* w) {
        log += "about: " + qobject_cast<CAboutDlg*>(w)->versionText().toStdString() + "\n";
        static_cast<QDialog*>(w)->accept();
    });
    expectGolden("gl_main_frame.txt", log);
}

TEST_F(AppTest, ProcessesARecordingIntoLayerOneAndSavesIt) {
    const fs::path raw = makeRecording(dir.path(), "scan01.raw");
    ASSERT_TRUE(app->processFile(0, raw.string()));
    EXPECT_EQ(app->frame().windowTitle(), QStringLiteral("Ombrel     ") + raw.c_str());
    waitIdle();
    const CloudStore& store = app->store();
    EXPECT_TRUE(reported.empty()) << reported.front().toStdString();
    EXPECT_TRUE(store.countVisible(0, true) > 100u && raw == store.layer(0).name.data());

    // Saved files are the exports of what the view holds, named after the recording; one cancelled.
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
    EXPECT_EQ(messagesOf([&] { app->onCommand(ID_LAYER_STATISTICS); }),
              std::vector<QString>{QString::fromStdString(layerStatisticsMessage(*stats))});
}

TEST_F(AppTest, ProcessCommandsGoThroughTheLayerDialogAndFileKindsFollowTheNames) {
    // A raw recording named a.3DC.raw is processed as a recording: its last extension decides.
    const fs::path raw = makeRecording(dir.path(), "a.3DC.raw");
    fs::remove(root.cfgFile("layers.lcfg"));
    app->layerDialog().setFileChooser([&](QWidget*, const QString&, const QString&) {
        return QString::fromStdString(raw.string());
    });
    answer(ID_PROCESS_RAW_PEAK, [](QWidget* w) { qobject_cast<layerDlg*>(w)->reject(); });
    EXPECT_FALSE(fs::exists(root.cfgFile("layers.lcfg")) || app->view().hasCloud());
    // "Perform Updates" without a file: the layer list is written and the layers re-filtered.
    answer(ID_PROCESS_ADD_FILE, [](QWidget* w) { qobject_cast<layerDlg*>(w)->performUpdates(); });
    EXPECT_TRUE(fs::exists(root.cfgFile("layers.lcfg")) && !app->view().hasCloud());
    EXPECT_EQ(app->session().request(), ProcessRequest::FilterLayers);
    answer(ID_PROCESS_TOOLBAR, [](QWidget* w) { qobject_cast<layerDlg*>(w)->loadFile(2); });
    EXPECT_TRUE(app->view().hasCloud());
    waitIdle();
    EXPECT_TRUE(app->store().countVisible(2, true) > 100u && app->sourcePath() == raw.string());

    // File information shows that recording; Edit CFG takes the colour settings' point size.
    answer(ID_FILE_INFO, [&](QWidget* w) {
        EXPECT_EQ(qobject_cast<FileInfoDlg*>(w)->lines().value(2).toStdString(), raw.string());
        static_cast<QDialog*>(w)->accept();
    });
    EXPECT_EQ(answer(ID_EDIT_CFG, [](QWidget* w) { qobject_cast<CfgDlg*>(w)->accept(); }), 1);
    EXPECT_EQ(app->pointSize(), app->colorCfg().pointSize());

    // scan.LAS is taken for a LAS file, which it is not: nothing starts, the title stays, and the
    // LAS reader says why.
    const QString title = app->frame().windowTitle();
    fs::copy_file(raw, dir / "scan.LAS");
    EXPECT_FALSE(app->processFile(3, (dir / "scan.LAS").string()));
    QCoreApplication::processEvents();
    EXPECT_TRUE(app->frame().windowTitle() == title && !app->store().layer(3).inUse);
    EXPECT_FALSE(reported.empty());
}

constexpr auto rgb = [](int r, int g, int b) { return QRgb((r << 16) | (g << 8) | b); };

// A point well apart from the others, at column `slot` of a row across the view.
CloudPoint& at(ViewFixture& f, int slot, Rgb colour, std::uint32_t layer = 0) {
    CloudPoint& p = f.add(-0.35f + 0.07f * slot, 5, 0.02f, colour, layer);
    f.moveToPixel(p);
    return p;
}

TEST(GlView, LayerSizesTheHighlightRebuildsAndTheProcessingSidesEvents) {
    ViewFixture s;
    s.store->layer(0).pointSize = 3;
    s.store->layer(1).pointSize = 5;
    at(s, 0, {0, 0, 0}); // pick index 0 (black)
    at(s, 1, {200, 10, 10});
    at(s, 2, {255, 0, 1}); // the highlight colour: 8 x 8 whatever the layer's size
    at(s, 3, {10, 200, 10});
    at(s, 4, {10, 10, 200}).valid = 0;
    at(s, 5, {200, 200, 10}, 1);
    s.add(0.3f, 5, 0.1f, {50, 60, 70}, 2);
    s.store->layer(2).inUse = 0; // never drawn
    EXPECT_EQ(colourCounts(s.frame()), (Counts{{rgb(200, 10, 10), 9},
                                               {rgb(255, 0, 1), 64},
                                               {rgb(10, 200, 10), 9},
                                               {rgb(200, 200, 10), 25}}));
    // The pick pass draws one run per layer at the layer's size, without the highlight.
    EXPECT_EQ(s.view->glRenderer()->pickBatches(),
              (std::vector<GlCloudRenderer::Batch>{{0, 4, 3}, {4, 1, 5}}));

    // Rebuilds reuse the vertex storage unless too small or four times too large: either way the
    // frame shows the store's points only.
    s.store->resetLayer(1);
    for (const int points : {9, 6, 2, 10}) { // reuse, new storage (below a quarter), grow
        s.store->resetLayer(0);
        s.renderer->markDirty();
        at(s, 0, {0, 0, 0});
        Counts expected;
        for (int i = 1; i < points; ++i) {
            at(s, i, {std::uint8_t(20 * i + points), 100, 100});
            expected[rgb(20 * i + points, 100, 100)] = 9;
        }
        EXPECT_EQ(colourCounts(s.frame()), expected) << points;
    }
    CChildView& v = *s.view;
    // A point nobody told the renderer of is drawn on WM_CLOUD_CHANGED; TargetEvent moves the
    // centre.
    s.add(0, 5, 0, {0, 255, 0});
    s.store->takeChanged();
    s.renderer->clearDirty();
    EXPECT_EQ(colourCounts(s.frame()).count(rgb(0, 255, 0)), 0u);
    QCoreApplication::postEvent(&v, new QEvent(cloudChangedEventType()));
    QCoreApplication::postEvent(&v, new TargetEvent(1.0f, 2.0f, 3.0f));
    QCoreApplication::processEvents();
    EXPECT_EQ(v.camera().target, (std::array<float, 3>{1, 2, 3}));
    v.setTarget(0, 5, 0);
    EXPECT_EQ(colourCounts(s.frame()).count(rgb(0, 255, 0)), 1u); // drawn at last
}

TEST(GlView, PickSearchReachAndScanOrder) {
    // Index 0 (black, never picked) and three points round a cursor; the map shows which index a
    // pick at each offset finds (rings growing to 9 pixels, within a ring columns left to right,
    // within a column window rows bottom up), the same under a turned, panned and zoomed camera.
    for (const bool turned : {true, false}) {
        ViewFixture f;
        OrbitCamera& cam = f.view->camera();
        if (turned)
            std::tie(cam.rotX, cam.rotY, cam.rotZ, cam.panA, cam.panB, cam.zoom) =
                std::tuple(-20.0f, 10.0f, 30.0f, 0.1f, -0.05f, 1.5f);
        const QPoint c(200, 150), offsets[] = {{-6, 6}, {-3, 0}, {2, 2}, {2, -2}};
        for (const QPoint& o : offsets) f.moveToPixel(f.add(0, 5, 0), c + o);
        std::string map;
        for (int dy = -12; dy <= 12; ++dy, map += '\n')
            for (int dx = -12; dx <= 12; ++dx) {
                const std::int64_t i = f.view->pickIndexAt(c.x() + dx, c.y() + dy);
                map += i < 0 ? '.' : char('0' + i);
            }
        expectGolden("gl_pick_map.txt", map);
        f.view->setHasCloud(false); // no picks without a cloud
        EXPECT_EQ(f.view->pickIndexAt(c.x() - 3, c.y()), -1);
    }
}

// Double-clicks in pick modes, each with the boxes it opened and the mode after it.
struct Picks : ViewFixture {
    std::string log;
    void click(int mode, QPoint at, const char* what, bool ok = true) {
        view->setPickMode(mode);
        log += formatMessage("mode %d, %s%s:", mode, what, ok ? "" : ", Cancel");
        for (const QString& m :
             messagesOf([&] { QTest::mouseDClick(view.get(), Qt::LeftButton, {}, at); }, ok))
            log += " [" + m.toStdString() + "]";
        const CloudPoint* first = view->firstPoint();
        const OrbitCamera& cam = view->camera();
        log += formatMessage(
            " -> mode %d, first %s, target %g %g %g rotZ %g zoom %g\n", view->pickMode(),
            first ? formatMessage("%g %g %g", first->x, first->y, first->z).c_str() : "none",
            cam.target[0], cam.target[1], cam.target[2], cam.rotZ, cam.zoom);
    }
};

TEST(GlView, MeasuringCentringAndTargetModes) {
    // The pair (0, 0, 0) and (3, 4, 0), turned across the line of sight and seen whole.
    Picks m;
    m.add(0, 0, -50); // index 0
    CloudPoint &pa = m.add(0, 0, 0), &pb = m.add(3, 4, 0);
    OrbitCamera& cam = m.view->camera();
    cam.setTarget(1.5f, 2, 0);
    std::tie(cam.rotZ, cam.zoom) = std::tuple(90.0f, 8.0f);
    const QPoint a = m.pixelOf(pa), b = m.pixelOf(pb);
    m.click(kPickSecondPoint, b, "second point mode without a first point, b");
    m.click(kPickSecondPoint, a, "a");
    m.click(kPickFirstPoint, a, "a", false);
    m.click(kPickFirstPoint, a, "a");
    m.click(kPickSecondPoint, b, "b");
    // The drawn data still hold b, the layer no longer does (the filter just hid it).
    pb.valid = 0;
    ASSERT_FALSE(m.renderer->dirty());
    m.click(kPickPointInfo, b, "b hidden but not yet redrawn");
    pb.valid = 1;
    m.renderer->markDirty();
    std::tie(pb.azimuth, pb.elevation, pb.range, pb.snr, pb.peakPosition, pb.saturated) =
        std::tuple(-12.345678f, 3.5f, 5.1234f, 41.6f, 123.45678f, std::uint8_t(1));
    m.click(kPickPointInfo, b + QPoint(4, -3), "near b");
    m.click(kPickCentre, b, "b");

    // A wall of returns 1 cm apart at y = 5 m with, then without, two bright discs of 3.5 cm
    // radius.
    for (const bool discs : {true, false}) {
        Picks w;
        w.add(0, -5, 0); // index 0
        for (int i = -20; i <= 20; ++i)
            for (int k = -15; k <= 15; ++k) {
                CloudPoint& p = w.add(i * 0.01f, 5, k * 0.01f);
                p.amplitude = 100.0f + float((i * 7 + k * 3 + 40) % 15);
                if (discs && (std::hypot(p.x + 0.1f, p.z - 0.05f) <= 0.035f ||
                              std::hypot(p.x - 0.1f, p.z + 0.05f) <= 0.035f))
                    p.amplitude = 500.0f;
            }
        const auto pixel = [&](float x, float z) {
            CloudPoint p;
            std::tie(p.x, p.y, p.z) = std::tuple(x, 5.0f, z);
            return w.pixelOf(p);
        };
        w.click(kPickFirstTarget, pixel(discs ? -0.14f : 0.0f, discs ? 0.02f : 0.0f), "beside A");
        if (discs) w.click(kPickSecondTarget, pixel(0.11f, -0.06f), "on B");
        m.log += w.log;
    }
    expectGolden("gl_pick_modes.txt", m.log);
}

} // namespace
} // namespace quarv::test
