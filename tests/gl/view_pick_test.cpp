// The view under a real GL context (Mesa under Xvfb): where points are drawn, the pick search
// round the cursor, and what each pick mode does with the picked point (golden transcripts).
#include "gl_support.hpp"

#include "core/app/message_sink.hpp"
#include "gui/app/custom_events.hpp"
#include "support/golden.hpp"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

namespace quarv::test {
namespace {

std::vector<QPoint> litPixels(const QImage& image) {
    std::vector<QPoint> lit;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) != 0) lit.push_back({x, y});
    return lit;
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
        cam.setTarget(0, 5, 0);
        cam.reset();
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
    cam.reset();
    cam.rotZ = 90;
    cam.zoom = 8;
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
    std::tie(pb.azimuth, pb.elevation, pb.range, pb.snr, pb.peakPosition) =
        std::tuple(-12.345678f, 3.5f, 5.1234f, 41.6f, 123.45678f);
    pb.saturated = 1;
    m.click(kPickPointInfo, b + QPoint(4, -3), "near b");
    m.click(kPickCentre, b, "b");

    // A wall of returns 1 cm apart at y = 5 m with two bright reflective discs at (-0.1, 0.05)
    // and (0.1, -0.05), 3.5 cm in radius, then the same wall without them.
    for (const bool discs : {true, false}) {
        Picks w;
        w.f.view->setTarget(0, 5, 0);
        w.f.view->resetCamera();
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
    f.view->setTarget(0, 5, 0);
    f.view->resetCamera();
    f.add(0, 5, 0.05f, {0, 0, 0}); // index 0 is black anyway
    // A point arrives without anybody marking the renderer: the drawn data stay as they were.
    CloudPoint& p = f.store->nextSlot(0);
    p = CloudPoint{};
    p.y = 5;
    p.color = {0, 255, 0};
    p.valid = 1;
    f.store->commit(0);
    f.store->takeChanged();
    f.renderer->clearDirty();
    EXPECT_TRUE(litPixels(f.frame()).empty());
    // WM_CLOUD_CHANGED rebuilds them; the target event moves the camera's centre.
    QCoreApplication::postEvent(f.view.get(), new QEvent(cloudChangedEventType()));
    QCoreApplication::postEvent(f.view.get(), new TargetEvent(1.0f, 2.0f, 3.0f));
    QCoreApplication::processEvents();
    EXPECT_EQ(f.view->camera().target, (std::array<float, 3>{1, 2, 3}));
    f.view->setTarget(0, 5, 0);
    EXPECT_EQ(litPixels(f.frame()).size(), 1u);
}

} // namespace
} // namespace quarv::test
