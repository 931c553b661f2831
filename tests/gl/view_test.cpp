// The view under a real GL context (Mesa under Xvfb): the points drawn in their colours at each
// layer's point size, the 8-pixel highlight, rebuilds, the subsample drawn during a drag, the pick
// search round the cursor, and what each pick mode does with the picked point (golden
// transcripts).
#include "gui/app/custom_events.hpp"
#include "gui_support.hpp"
#include "support/golden.hpp"

#include <QTest>

#include <cmath>

namespace quarv::test {
namespace {

using Batch = GlCloudRenderer::Batch;
using Counts = std::map<QRgb, int>;

QRgb rgb(int r, int g, int b) {
    return static_cast<QRgb>((r << 16) | (g << 8) | b);
}

// A point well apart from the others, at column `slot` of a row across the view.
CloudPoint& at(ViewFixture& f, int slot, Rgb colour, std::uint32_t layer = 0) {
    CloudPoint& p = f.add(-0.35f + 0.07f * slot, 5, 0.02f, colour, layer);
    f.moveToPixel(p);
    return p;
}

TEST(GlView, LayerSizesTheHighlightAndSizeZero) {
    for (const int size0 : {3, 0}) {
        SCOPED_TRACE(size0);
        ViewFixture s;
        s.store->layer(0).pointSize = std::uint8_t(size0);
        s.store->layer(1).pointSize = 5;
        at(s, 0, {0, 0, 0}); // pick index 0 (black)
        at(s, 1, {200, 10, 10});
        at(s, 2, {255, 0, 1}); // the highlight colour: 8 x 8 whatever the layer's size
        at(s, 3, {10, 200, 10});
        at(s, 4, {10, 10, 200}).valid = 0;
        at(s, 5, {200, 200, 10}, 1);
        s.add(0.3f, 5, 0.1f, {50, 60, 70}, 2);
        s.store->layer(2).inUse = 0; // never drawn
        // glPointSize refuses 0: a layer of size 0 draws at the size set before it, 1 at the
        // start and the highlight's 8 after a highlighted point.
        const int before = size0 ? 9 : 1, after = size0 ? 9 : 64;
        EXPECT_EQ(colourCounts(s.frame()), (Counts{{rgb(200, 10, 10), before},
                                                   {rgb(255, 0, 1), 64},
                                                   {rgb(10, 200, 10), after},
                                                   {rgb(200, 200, 10), 25}}));
        if (size0 == 0) continue;
        // The runs behind it: the highlight splits layer 0's run; the pick pass keeps one run
        // per layer at the layer's size.
        const GlCloudRenderer& gl = *s.view->glRenderer();
        EXPECT_EQ(gl.renderBatches(),
                  (std::vector<Batch>{{0, 2, 3}, {2, 1, 8}, {3, 1, 3}, {4, 1, 5}}));
        EXPECT_EQ(gl.pickBatches(), (std::vector<Batch>{{0, 4, 3}, {4, 1, 5}}));
    }
}

TEST(GlView, RebuildsDrawOnlyTheCurrentPointsAndADragDrawsASubsample) {
    // The vertex storage of a rebuild is reused while it is large enough and not four times too
    // large: whichever way the cloud went, the frame shows the points of the store only.
    ViewFixture s;
    for (const int points : {9, 6, 2, 10}) { // reuse, new storage (below a quarter), grow
        SCOPED_TRACE(points);
        s.store->resetLayer(0);
        s.renderer->markDirty();
        at(s, 0, {0, 0, 0});
        Counts expected;
        for (int i = 1; i < points; ++i) {
            at(s, i, {std::uint8_t(20 * i + points), 100, 100});
            expected[rgb(20 * i + points, 100, 100)] = 1;
        }
        EXPECT_EQ(colourCounts(s.frame()), expected);
    }
    // A drag turns the camera (10 pixels right: +3 degrees about Z) and draws a subsample of
    // about 3 points (every 4th of 10: 0, 4 and 8); picking still sees every point.
    CChildView& v = *s.view;
    v.setMotionMode(kMotionRotate);
    QTest::mousePress(&v, Qt::LeftButton, {}, {100, 100});
    QMouseEvent move(QEvent::MouseMove, QPointF(110, 100), QPointF(), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(&v, &move);
    EXPECT_TRUE(v.dragging() && v.glRenderer()->subsampling());
    EXPECT_NEAR(v.camera().rotZ, 3.0f, 1e-5);
    v.camera().rotZ = 0;
    v.glRenderer()->setSubsample(true, 3);
    EXPECT_EQ(colourCounts(s.frame()), (Counts{{rgb(90, 100, 100), 1}, {rgb(170, 100, 100), 1}}));
    EXPECT_EQ(v.glRenderer()->subsampleStride(), 4u);
    const QPoint third = s.pixelOf(s.store->point(0, 3));
    EXPECT_EQ(v.pickIndexAt(third.x(), third.y()), 3);
    QTest::mouseRelease(&v, Qt::LeftButton, {}, {110, 100});
    EXPECT_FALSE(v.dragging() || v.glRenderer()->subsampling());
    EXPECT_EQ(colourCounts(s.frame()).size(), 9u);
}

TEST(GlView, PickSearchReachAndScanOrder) {
    // Index 0 (drawn black, never picked) and three points round a cursor position; the map
    // shows which index a pick at each offset finds: rings of growing size up to 9 pixels,
    // within a ring columns left to right, within a column window rows from the bottom up.
    // The points are placed through the core's projection: under any camera (here turned,
    // panned and zoomed, then the plain one) the drawn and picked pixels give the same map.
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
struct Picks {
    ViewFixture f;
    std::string log;
    void click(int mode, QPoint at, const char* what, bool ok = true) {
        f.view->setPickMode(mode);
        log += formatMessage("mode %d, %s%s:", mode, what, ok ? "" : ", Cancel");
        for (const QString& m :
             messagesOf([&] { QTest::mouseDClick(f.view.get(), Qt::LeftButton, {}, at); }, ok))
            log += " [" + m.toStdString() + "]";
        const CloudPoint* first = f.view->firstPoint();
        const OrbitCamera& cam = f.view->camera();
        log += formatMessage(
            " -> mode %d, first %s, target %g %g %g rotZ %g zoom %g\n", f.view->pickMode(),
            first ? formatMessage("%g %g %g", first->x, first->y, first->z).c_str() : "none",
            cam.target[0], cam.target[1], cam.target[2], cam.rotZ, cam.zoom);
    }
};

TEST(GlView, MeasuringCentringAndTargetModes) {
    // The pair (0, 0, 0) and (3, 4, 0), turned across the line of sight and seen whole.
    Picks m;
    m.f.add(0, 0, -50); // index 0
    CloudPoint &pa = m.f.add(0, 0, 0), &pb = m.f.add(3, 4, 0);
    OrbitCamera& cam = m.f.view->camera();
    cam.setTarget(1.5f, 2, 0);
    std::tie(cam.rotZ, cam.zoom) = std::tuple(90.0f, 8.0f);
    const QPoint a = m.f.pixelOf(pa), b = m.f.pixelOf(pb);
    m.click(kPickSecondPoint, b, "second point mode without a first point, b");
    m.click(kPickSecondPoint, a, "a");
    m.click(kPickFirstPoint, a, "a", false);
    m.click(kPickFirstPoint, a, "a");
    EXPECT_EQ(m.f.view->firstPoint(), &pa); // a reference to the slot
    m.click(kPickSecondPoint, b, "b");
    m.click(kPickSecondPoint, b + QPoint(0, 5), "near b");
    // The drawn data still hold b, the layer no longer does (the filter just hid it).
    pb.valid = 0;
    ASSERT_FALSE(m.f.renderer->dirty());
    m.click(kPickPointInfo, b, "b hidden but not yet redrawn");
    pb.valid = 1;
    m.f.renderer->markDirty();
    std::tie(pb.azimuth, pb.elevation, pb.range, pb.snr, pb.peakPosition, pb.saturated) =
        std::tuple(-12.345678f, 3.5f, 5.1234f, 41.6f, 123.45678f, std::uint8_t(1));
    m.click(kPickPointInfo, b + QPoint(4, -3), "near b");
    m.click(kPickCentre, b, "b");

    // A wall of returns 1 cm apart at y = 5 m with two bright reflective discs at (-0.1, 0.05)
    // and (0.1, -0.05), 3.5 cm in radius, then the same wall without them.
    for (const bool discs : {true, false}) {
        Picks w;
        w.f.add(0, -5, 0); // index 0
        for (int i = -20; i <= 20; ++i)
            for (int k = -15; k <= 15; ++k) {
                CloudPoint& p = w.f.add(i * 0.01f, 5, k * 0.01f);
                p.amplitude = 100.0f + float((i * 7 + k * 3 + 40) % 15);
                if (discs && (std::hypot(p.x + 0.1f, p.z - 0.05f) <= 0.035f ||
                              std::hypot(p.x - 0.1f, p.z + 0.05f) <= 0.035f))
                    p.amplitude = 500.0f;
            }
        const auto pixel = [&](float x, float z) {
            CloudPoint p;
            std::tie(p.x, p.y, p.z) = std::tuple(x, 5.0f, z);
            return w.f.pixelOf(p);
        };
        w.click(kPickFirstTarget, pixel(discs ? -0.14f : 0.0f, discs ? 0.02f : 0.0f), "beside A");
        if (discs) w.click(kPickSecondTarget, pixel(0.11f, -0.06f), "on B");
        m.log += w.log;
    }
    expectGolden("gl_pick_modes.txt", m.log);
}

TEST(GlView, EventsFromTheProcessingSideReachTheView) {
    ViewFixture f;
    f.add(0, 5, 0.05f, {0, 0, 0}); // index 0 is black anyway
    // A point arrives without anybody marking the renderer: the drawn data stay as they were.
    f.add(0, 5, 0, {0, 255, 0});
    f.store->takeChanged();
    f.renderer->clearDirty();
    EXPECT_TRUE(colourCounts(f.frame()).empty());
    // WM_CLOUD_CHANGED rebuilds them; the target event moves the camera's centre.
    QCoreApplication::postEvent(f.view.get(), new QEvent(cloudChangedEventType()));
    QCoreApplication::postEvent(f.view.get(), new TargetEvent(1.0f, 2.0f, 3.0f));
    QCoreApplication::processEvents();
    EXPECT_EQ(f.view->camera().target, (std::array<float, 3>{1, 2, 3}));
    f.view->setTarget(0, 5, 0);
    EXPECT_EQ(colourCounts(f.frame()), (Counts{{rgb(0, 255, 0), 1}}));
}

} // namespace
} // namespace quarv::test
