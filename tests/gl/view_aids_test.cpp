// What the view shows beside the points, under a real GL context: the snapshot's pixels with
// depth shading and the legend, the legend of each colouring, Fit Cloud, the scan image, the
// Waveform buttons and quarv --snapshot.
#include "core/scan/processing_session.hpp"
#include "core/viewer/color_ramp.hpp"
#include "gui/app/main_frame.hpp"
#include "gui/app/quarv_app.hpp"
#include "gui/dialogs/proc_graph_dlg.hpp"
#include "gui_support.hpp"

#include <QPushButton>
#include <QWheelEvent>

#include <cstdlib>

namespace quarv::test {
namespace {

QRgb rgbOf(Rgb c) {
    return qRgb(c.r, c.g, c.b);
}

TEST(ViewAids, SnapshotPixelsDepthShadingAndTheLegendOfEachColouring) {
    ViewFixture f;
    f.view->setLegendShown(true);
    PointLayer& layer = f.store->layer(0);
    std::tie(layer.colorFrom, layer.colorTo, layer.rangeMax, layer.showSaturated) =
        std::tuple(Rgb{0, 0, 255}, Rgb{255, 255, 0}, 10.0f, std::uint8_t(1));
    std::vector<CloudPoint*> row;
    for (int i = 0; i < 9; ++i) {
        CloudPoint& p = f.add(-0.3f + 0.07f * i, 5, 0.05f);
        std::tie(p.range, p.amplitude, p.snr, p.saturated) =
            std::tuple(1.0f + i, 100.0f + 10 * i * i, 5.0f * i, std::uint8_t(i == 8));
        f.moveToPixel(p);
        row.push_back(&p);
    }
    // A point 1 m in front of another, one pixel beside it: depth shading darkens the far one.
    CloudPoint& far = f.add(0.1f, 5, -0.05f);
    f.moveToPixel(far);
    CloudPoint& near = f.add(0.1f, 4, -0.04f);
    f.moveToPixel(near, f.pixelOf(far) + QPoint(1, 0));
    far.range = near.range = 5;
    std::string legends;
    ColorRamp grey;
    for (const std::uint32_t mode : {kColorByRange, kColorByAmplitudeRank, kColorBySnrRank, 0u}) {
        layer.colorMode = mode;
        mode ? f.renderer->colorize(0) : f.renderer->colorByHeight(0, grey);
        f.renderer->markDirty();
        for (const bool shading : {true, false}) {
            f.view->setDepthShading(shading);
            const QImage frame = f.view->snapshot();
            for (const CloudPoint* p : row)
                EXPECT_EQ(frame.pixel(f.pixelOf(*p)), rgbOf(p->loadColor())) << mode;
            EXPECT_EQ(frame.pixel(f.pixelOf(near)), rgbOf(near.loadColor()));
            const QRgb shaded = frame.pixel(f.pixelOf(far)), own = rgbOf(far.loadColor());
            EXPECT_EQ(shaded == own, !shading) << mode;
            EXPECT_LT(qGray(shaded), qGray(own) + 1);
            // The legend's ramp bar shows the colouring's first and last colours at its ends.
            ASSERT_EQ(f.view->legend().size(), 1u);
            const QRect bar = f.view->legendRampRect(0);
            EXPECT_EQ(frame.pixel(bar.left(), bar.center().y()),
                      rgbOf(f.view->legend()[0].ramp[0]));
            EXPECT_EQ(frame.pixel(bar.right(), bar.center().y()),
                      rgbOf(f.view->legend()[0].ramp[255]));
        }
        legends += describeLegend(f.view->legend());
    }
    expectGolden("gl_legend.txt", legends);
}

TEST(ViewAids, FitCloudPutsEveryVisiblePointInsideTheWindow) {
    for (const auto& [rx, ry, rz] : {std::tuple(0.0f, 0.0f, 0.0f), std::tuple(30.0f, 0.0f, 45.0f),
                                     std::tuple(-60.0f, 20.0f, 170.0f)}) {
        ViewFixture f;
        std::uint32_t seed = 7;
        const auto next = [&](float lo, float hi) {
            seed = seed * 1664525u + 1013904223u;
            return lo + (hi - lo) * float(seed >> 8) / float(1u << 24);
        };
        std::vector<CloudPoint*> points;
        for (int i = 0; i < 300; ++i)
            points.push_back(&f.add(next(-4, 3), next(2, 14), next(-3, 1)));
        OrbitCamera& cam = f.view->camera();
        std::tie(cam.rotX, cam.rotY, cam.rotZ, cam.zoom, cam.panA) =
            std::tuple(rx, ry, rz, 9.0f, 2.0f);
        ASSERT_TRUE(f.view->fitCloud());
        EXPECT_EQ(std::tie(cam.rotX, cam.rotY, cam.rotZ), std::tie(rx, ry, rz));
        int x0 = 400, x1 = 0, y0 = 300, y1 = 0;
        for (const CloudPoint* p : points) {
            const WindowPoint w = f.project(p->x, p->y, p->z);
            ASSERT_TRUE(w.inside) << rz;
            std::tie(x0, x1, y0, y1) = std::tuple(std::min(x0, w.column), std::max(x1, w.column),
                                                  std::min(y0, w.row), std::max(y1, w.row));
        }
        EXPECT_TRUE(x1 - x0 > 200 || y1 - y0 > 150) << x0 << " " << x1 << " " << y0 << " " << y1;
    }
}

TEST(ViewAids, WheelZoomKeepsThePointUnderTheCursor) {
    // Unturned, the model point of world p is T + p - t (T the model translation): a point whose
    // image is T turned by (ax, az) lies at the target's distance, and is what must stay under
    // the cursor; that needs a pan as well as the zoom.
    for (const auto& [ax, az, notches] : {std::tuple(0.0, 0.05, 1.0), std::tuple(0.04, -0.06, -3.0),
                                          std::tuple(-0.03, 0.02, 2.0)}) {
        ViewFixture f;
        OrbitCamera& cam = f.view->camera();
        cam.setTarget(1.5f, 6, -1);
        cam.zoom = 1.2f;
        const auto T = cam.modelTranslation();
        const double y1 = T[1] * std::cos(az) + T[0] * std::sin(az);
        const double q[3] = {T[0] * std::cos(az) - T[1] * std::sin(az),
                             y1 * std::cos(ax) - T[2] * std::sin(ax),
                             y1 * std::sin(ax) + T[2] * std::cos(ax)};
        const float p[3] = {float(1.5 + q[0] - T[0]), float(6 + q[1] - T[1]),
                            float(-1 + q[2] - T[2])};
        const WindowPoint before = f.project(p[0], p[1], p[2]);
        QWheelEvent wheel(QPointF(before.x, before.y), QPointF(), {}, QPoint(0, int(120 * notches)),
                          Qt::NoButton, {}, Qt::NoScrollPhase, false);
        QApplication::sendEvent(f.view.get(), &wheel);
        EXPECT_FLOAT_EQ(cam.zoom, 1.2f * float(std::pow(1.1, -notches)));
        const WindowPoint after = f.project(p[0], p[1], p[2]);
        EXPECT_NEAR(after.x, before.x, 0.05) << az;
        EXPECT_NEAR(after.y, before.y, 0.05) << ax;
    }
}

struct Workstation : Home {
    std::unique_ptr<CquarvApp> app;
    std::vector<QString> reported;
    void SetUp() override {
        Home::SetUp();
        app = std::make_unique<CquarvApp>(root);
        app->sink().setPresenter([this](const QString& t) { reported.push_back(t); });
        app->initInstance(false);
        app->frame().resize(1000, 700);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->frame()));
    }
};

// Which line and shot the Processing Graphs show after the trigger, or "none" if not opened;
// "disabled" when Point Information's Waveform button was.
std::string graphsOpenedBy(const std::function<void()>& trigger) {
    std::string shown = "none";
    withModals(trigger, [&](QWidget* m) {
        if (auto* info = qobject_cast<PtCloudDlg*>(m)) {
            if (!info->waveformButton().isEnabled()) shown = "disabled";
            return info->waveformButton().isEnabled() ? info->waveformButton().click()
                                                      : info->reject();
        }
        auto* graphs = qobject_cast<ProcGraphDlg*>(m);
        shown = formatMessage("line %g shot %g", graphs->lineSlider().pointer("Pointer-1")->value(),
                              graphs->shotSlider().pointer("Pointer-1")->value());
        graphs->reject();
    });
    return shown;
}

TEST_F(Workstation, ScanImageAndTheWaveformButtonsOfAProcessedRecording) {
    const auto raw = makeRecording(dir.path(), "scan.raw");
    ASSERT_TRUE(app->processFile(0, raw.string()));
    while (!app->session().waitUntilIdle(std::chrono::milliseconds(10)))
        QCoreApplication::processEvents();
    CloudStore& store = app->store();
    const std::uint32_t n = store.pointCount(0);
    ASSERT_GT(n, 100u);
    store.point(0, n / 3).storeValid(0); // hidden by the filters
    ScanImagePanel& panel = app->frame().scanImage();
    panel.refresh();
    const ScanImage& image = panel.image();
    const QImage shown = panel.imageArea().grab().toImage();
    for (const std::uint32_t slot : {0u, n / 3, n / 2, n - 1}) {
        const CloudPoint& p = store.point(0, slot);
        const std::uint32_t line = p.line, shot = store.extra(0, slot).shot;
        const Rgb expected = p.isValid() ? p.loadColor() : kHiddenReturn;
        EXPECT_EQ(image.at(line, shot), expected) << slot;
        EXPECT_EQ(shown.pixel(panel.pixelCentre(line, shot)), rgbOf(expected)) << slot;
    }

    // The panel's button, then Point Information's on a point left visible with the first (pick
    // index 0, never picked); a point
    // without a recording behind it (as from a LAS file) has the button disabled.
    const std::uint32_t slot = n / 2;
    const CloudPoint& p = store.point(0, slot);
    const std::string expected =
        formatMessage("line %u shot %u", p.line, store.extra(0, slot).shot);
    ASSERT_TRUE(panel.selectShot(p.line, store.extra(0, slot).shot));
    EXPECT_EQ(graphsOpenedBy([&] { panel.waveformButton().click(); }), expected);
    for (std::uint32_t i = 0; i < n; ++i) store.point(0, i).storeValid(i == 0 || i == slot);
    app->renderer().markDirty();
    CChildView& view = app->view();
    view.setPickMode(kPickPointInfo);
    ASSERT_TRUE(view.fitCloud());
    const WindowPoint w =
        projectToWindow(view.camera(), view.width(), view.height(), {p.x, p.y, p.z});
    const auto doubleClick = [&] {
        QTest::mouseDClick(&view, Qt::LeftButton, {}, QPoint(w.column, w.row));
    };
    EXPECT_EQ(graphsOpenedBy(doubleClick), expected);
    store.extra(0, slot).pulses = 0;
    EXPECT_EQ(graphsOpenedBy(doubleClick), "disabled");
    EXPECT_TRUE(reported.empty()) << reported.front().toStdString();
}

TEST_F(Workstation, SnapshotCommand) {
    const auto raw = makeRecording(dir.path(), "scan.raw");
    const auto run = [&](const std::string& args) {
        return std::system(("QUARV_HOME=" + root.root().string() + " " QUARV_BINARY_DIR "/quarv " +
                            args + " >/dev/null 2>&1")
                               .c_str());
    };
    const std::string png = (dir / "view.png").string();
    EXPECT_EQ(run(raw.string() + " --snapshot " + png + " --size 320x200 --fit --color snr"), 0);
    EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(320, 200));
    EXPECT_EQ(WEXITSTATUS(run((dir / "none.raw").string() + " --snapshot " + png + ".2")), 1);
    EXPECT_FALSE(std::filesystem::exists(png + ".2"));
}

} // namespace
} // namespace quarv::test
