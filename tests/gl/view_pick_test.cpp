// The view under a real GL context (Mesa under Xvfb): where points are drawn, the pick search
// round the cursor, and what each pick mode does with the picked point.
#include "gl_support.hpp"

#include "gui/app/custom_events.hpp"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace quarv::test {
namespace {

std::vector<QPoint> litPixels(const QImage& image) {
    std::vector<QPoint> lit;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if ((image.pixel(x, y) & 0xFFFFFF) != 0) lit.push_back({x, y});
        }
    }
    return lit;
}

void aimAt(CChildView& view, float x, float y, float z) {
    view.setTarget(x, y, z);
    view.resetCamera();
}

struct CameraCase {
    const char* what;
    std::array<float, 3> target;
    float rotX, rotY, rotZ, panA, panB, zoom;
    std::array<float, 3> point;
};

TEST(GlView, PointsLandOnTheProjectedPixel) {
    const CameraCase cases[] = {
        {"reset, looking along +Y", {0, 5, 0}, 0, 0, 0, 0, 0, 0.8f, {0.1f, 5, 0.05f}},
        {"turned", {0, 5, 0}, -20, 10, 30, 0, 0, 0.8f, {-0.1f, 5.1f, 0.02f}},
        {"panned and zoomed", {0, 5, 0}, 0, 0, 0, 0.1f, -0.05f, 1.5f, {0.05f, 5, -0.1f}},
        {"target off to the side and below", {3, 4, -1}, 5, 0, -15, 0, 0, 0.8f, {3.1f, 4, -1.1f}},
        {"target behind and left", {-2, -3, 0.5f}, 0, 0, 0, 0, 0, 1.0f, {-2.1f, -3, 0.5f}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ViewFixture f;
        OrbitCamera& cam = f.view->camera();
        cam.setTarget(c.target[0], c.target[1], c.target[2]);
        cam.reset();
        cam.rotX = c.rotX;
        cam.rotY = c.rotY;
        cam.rotZ = c.rotZ;
        cam.panA = c.panA;
        cam.panB = c.panB;
        cam.zoom = c.zoom;
        CloudPoint& p = f.add(c.point[0], c.point[1], c.point[2]);
        f.centreInPixel(p);
        const WindowPoint w = projectToWindow(cam, 400, 300, {p.x, p.y, p.z});
        ASSERT_TRUE(w.inside);
        const auto lit = litPixels(f.frame());
        ASSERT_EQ(lit.size(), 1u);
        EXPECT_EQ(lit[0], f.pixelOf(p));
    }
}

TEST(GlView, PickSearchReachesNinePixelsAndNoFurther) {
    ViewFixture f;
    aimAt(*f.view, 0, 5, 0);
    f.add(0, -5, 0);                        // index 0: behind the eye, never drawn
    CloudPoint& p = f.add(0.02f, 5, 0.01f); // index 1
    f.centreInPixel(p);
    const QPoint at = f.pixelOf(p);
    struct Offset {
        int dx, dy;
        std::int64_t expected;
    };
    const Offset offsets[] = {
        {0, 0, 1},   {9, 0, 1},    {-9, 0, 1},   {0, 9, 1},    {0, -9, 1},
        {9, 9, 1},   {-9, -9, 1},  {9, -9, 1},   {10, 0, -1},  {-10, 0, -1},
        {0, 10, -1}, {0, -10, -1}, {10, 10, -1}, {3, -10, -1},
    };
    for (const auto& o : offsets) {
        SCOPED_TRACE(testing::Message() << "offset " << o.dx << ", " << o.dy);
        EXPECT_EQ(f.view->pickIndexAt(at.x() + o.dx, at.y() + o.dy), o.expected);
    }
}

TEST(GlView, TheFirstPointOfTheScanOrderWins) {
    // Rings of growing size; within a ring columns left to right, within a column frame-buffer
    // rows bottom to top (window rows from the bottom up).
    struct Case {
        const char* what;
        QPoint a, b; // offsets of the two points from the cursor (window pixels)
        int winner;  // 0: a, 1: b
    };
    const Case cases[] = {
        {"nearer ring wins", {-3, 0}, {2, 2}, 1},
        {"same ring: leftmost column", {-2, 2}, {2, -2}, 0},
        {"same column: lower on screen", {1, -2}, {1, 2}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ViewFixture f;
        aimAt(*f.view, 0, 5, 0);
        f.add(0, -5, 0); // index 0
        CloudPoint& centre = f.add(0, 5, 0);
        centre.valid = 0; // only a marker for the cursor position
        f.centreInPixel(centre);
        const QPoint cursor = f.pixelOf(centre);
        CloudPoint& a = f.add(centre.x, 5, centre.z, {255, 255, 255});
        CloudPoint& b = f.add(centre.x, 5, centre.z, {255, 255, 255});
        for (auto [pt, off] : {std::pair{&a, c.a}, std::pair{&b, c.b}}) {
            f.moveToPixel(*pt, cursor + off);
            ASSERT_EQ(f.pixelOf(*pt), cursor + off);
        }
        f.renderer->markDirty();
        // a is pick index 1 (the marker is invalid and takes no index), b is 2.
        EXPECT_EQ(f.view->pickIndexAt(cursor.x(), cursor.y()), c.winner == 0 ? 1 : 2);
    }
}

TEST(GlView, PointZeroIsDrawnBlackAndCannotBePicked) {
    ViewFixture f;
    aimAt(*f.view, 0, 5, 0);
    CloudPoint& p = f.add(0.01f, 5, 0.01f); // index 0
    f.centreInPixel(p);
    const QPoint at = f.pixelOf(p);
    EXPECT_EQ(f.view->pickIndexAt(at.x(), at.y()), -1);
    // A double-click on it does nothing: no box, no dialog.
    f.view->setPickMode(kPickPointInfo);
    EXPECT_EQ(withModals([&] { QTest::mouseDClick(f.view.get(), Qt::LeftButton, {}, at); },
                         [](QWidget* w) { static_cast<QDialog*>(w)->reject(); }),
              0);
}

TEST(GlView, PointInformationShowsThePickedPoint) {
    ViewFixture f;
    aimAt(*f.view, 0, 5, 0);
    f.add(0, -5, 0);
    CloudPoint& p = f.add(0.05f, 5.0f, -0.03f);
    f.centreInPixel(p);
    p.azimuth = -12.345678f;
    p.elevation = 3.5f;
    p.range = 5.1234f;
    p.snr = 41.6f;
    p.saturated = 1;
    p.peakPosition = 123.45678f;
    const QPoint at = f.pixelOf(p) + QPoint(4, -3); // within the search square
    ASSERT_EQ(f.view->pickMode(), kPickPointInfo);
    QStringList texts;
    const int shown =
        withModals([&] { QTest::mouseDClick(f.view.get(), Qt::LeftButton, {}, at); },
                   [&](QWidget* w) {
                       auto* dlg = qobject_cast<PtCloudDlg*>(w);
                       ASSERT_NE(dlg, nullptr);
                       EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Point Information"));
                       texts << dlg->xyzText() << dlg->azElText() << dlg->rangeText()
                             << dlg->peakText();
                       dlg->accept();
                   });
    EXPECT_EQ(shown, 1);
    ASSERT_EQ(texts.size(), 4);
    EXPECT_EQ(texts[0],
              QString::asprintf("%.4f, %.4f, %.4f", double{p.x}, double{p.y}, double{p.z}));
    EXPECT_EQ(texts[1], QStringLiteral("-12.3457, 3.5000 El"));
    EXPECT_EQ(texts[2], QStringLiteral("5.123, 42, Y"));
    EXPECT_EQ(texts[3], QStringLiteral("123.4568"));
    EXPECT_EQ(f.view->pickMode(), kPickPointInfo);
}

// The measurement pair (0, 0, 0) and (3, 4, 0), turned across the line of sight and far enough
// away to be seen whole.
struct MeasureScene {
    ViewFixture f;
    QPoint a, b;

    MeasureScene() {
        f.add(0, 0, -50); // index 0
        CloudPoint& pa = f.add(0, 0, 0);
        CloudPoint& pb = f.add(3, 4, 0);
        OrbitCamera& cam = f.view->camera();
        cam.setTarget(1.5f, 2, 0);
        cam.reset();
        cam.rotZ = 90;
        cam.zoom = 8;
        a = f.pixelOf(pa);
        b = f.pixelOf(pb);
        EXPECT_GT((a - b).manhattanLength(), 40);
    }
    std::vector<QString> click(QPoint at, bool ok = true) {
        return messagesOf([&] { QTest::mouseDClick(f.view.get(), Qt::LeftButton, {}, at); }, ok);
    }
};

TEST(GlView, MeasuresTheDistanceBetweenTwoPicks) {
    MeasureScene s;
    s.f.view->setPickMode(kPickFirstPoint);
    // Cancel keeps the mode; OK advances to the second point.
    EXPECT_EQ(s.click(s.a, false),
              std::vector<QString>{QStringLiteral("First Pt (XYZ): 0.000, 0.000, 0.000")});
    EXPECT_EQ(s.f.view->pickMode(), kPickFirstPoint);
    EXPECT_EQ(s.click(s.a),
              std::vector<QString>{QStringLiteral("First Pt (XYZ): 0.000, 0.000, 0.000")});
    EXPECT_EQ(s.f.view->pickMode(), kPickSecondPoint);
    ASSERT_NE(s.f.view->firstPoint(), nullptr);
    EXPECT_EQ(s.f.view->firstPoint(), &s.f.store->point(0, 1)); // a reference to the slot
    const std::vector<QString> expected{
        QStringLiteral("Second Pt (XYZ): 3.000, 4.000, 0.000    Dist(m): 5.000")};
    EXPECT_EQ(s.click(s.b), expected);
    // The mode stays: a further pick measures against the same first point.
    EXPECT_EQ(s.f.view->pickMode(), kPickSecondPoint);
    EXPECT_EQ(s.click(s.b + QPoint(0, 5)), expected);
    // Against the first point itself.
    EXPECT_EQ(s.click(s.a), std::vector<QString>{QStringLiteral(
                                "Second Pt (XYZ): 0.000, 0.000, 0.000    Dist(m): 0.000")});
}

TEST(GlView, SecondPointModeWithoutAFirstPointTakesTheFirst) {
    MeasureScene s;
    s.f.view->setPickMode(kPickSecondPoint);
    EXPECT_EQ(s.click(s.b),
              std::vector<QString>{QStringLiteral("First Pt (XYZ): 3.000, 4.000, 0.000")});
    EXPECT_EQ(s.f.view->pickMode(), kPickSecondPoint);
    EXPECT_EQ(s.click(s.a), std::vector<QString>{QStringLiteral(
                                "Second Pt (XYZ): 0.000, 0.000, 0.000    Dist(m): 5.000")});
}

TEST(GlView, CentreModeMakesThePointTheTargetAndResetsTheCamera) {
    MeasureScene s;
    s.f.view->setPickMode(kPickCentre);
    EXPECT_TRUE(s.click(s.b).empty());
    const OrbitCamera& cam = s.f.view->camera();
    EXPECT_EQ(cam.target, (std::array<float, 3>{3, 4, 0}));
    EXPECT_EQ(cam.rotZ, 0.0f);
    EXPECT_EQ(cam.zoom, 0.8f);
    EXPECT_EQ(s.f.view->pickMode(), kPickCentre);
}

TEST(GlView, StaleIndexReportsThatThePointIsGone) {
    MeasureScene s;
    s.f.view->setPickMode(kPickPointInfo);
    // The drawn data still hold point 2, the layer no longer does (the filter just hid it).
    EXPECT_EQ(s.f.view->pickIndexAt(s.b.x(), s.b.y()), 2);
    s.f.store->point(0, 2).valid = 0;
    ASSERT_FALSE(s.f.renderer->dirty()); // nobody has said so yet
    EXPECT_EQ(s.click(s.b), std::vector<QString>{QStringLiteral(
                                "Error retrieving point information, please try again!")});
}

TEST(GlView, PicksOnlyWithACloud) {
    MeasureScene s;
    s.f.view->setHasCloud(false);
    EXPECT_EQ(s.f.view->pickIndexAt(s.a.x(), s.a.y()), -1);
    s.f.view->setHasCloud(true);
    EXPECT_EQ(s.f.view->pickIndexAt(s.a.x(), s.a.y()), 1);
}

TEST(GlView, EventsFromTheProcessingSideReachTheView) {
    ViewFixture f;
    aimAt(*f.view, 0, 5, 0);
    f.add(0, 5, 0.05f, {0, 0, 0}); // index 0 is black anyway
    EXPECT_TRUE(litPixels(f.frame()).empty());
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
    // WM_CLOUD_CHANGED rebuilds them.
    QCoreApplication::postEvent(f.view.get(),
                                std::make_unique<QEvent>(cloudChangedEventType()).release());
    QCoreApplication::postEvent(f.view.get(),
                                std::make_unique<TargetEvent>(0.0f, 5.0f, 0.0f).release());
    QCoreApplication::processEvents();
    EXPECT_EQ(litPixels(f.frame()).size(), 1u);
    EXPECT_EQ(f.view->camera().target, (std::array<float, 3>{0, 5, 0}));
    // The target event moves the camera's centre.
    QCoreApplication::postEvent(f.view.get(),
                                std::make_unique<TargetEvent>(1.0f, 2.0f, 3.0f).release());
    QCoreApplication::processEvents();
    EXPECT_EQ(f.view->camera().target, (std::array<float, 3>{1, 2, 3}));
}

} // namespace
} // namespace quarv::test

namespace quarv::test {
namespace {

// A wall of returns 1 cm apart facing the camera at y = 5 m, with two bright reflective discs.
struct TargetWall {
    ViewFixture f;
    explicit TargetWall(bool discs) {
        f.view->setTarget(0, 5, 0);
        f.view->resetCamera();
        f.add(0, -5, 0); // index 0
        for (int i = -20; i <= 20; ++i) {
            for (int k = -15; k <= 15; ++k) {
                CloudPoint& p = f.add(i * 0.01f, 5, k * 0.01f);
                p.amplitude = 100.0f + static_cast<float>((i * 7 + k * 3 + 40) % 15);
                const bool onA = std::hypot(p.x + 0.1f, p.z - 0.05f) <= 0.035f;
                const bool onB = std::hypot(p.x - 0.1f, p.z + 0.05f) <= 0.035f;
                if (discs && (onA || onB)) p.amplitude = 500.0f;
            }
        }
    }
    QPoint pixel(float x, float z) {
        CloudPoint p;
        p.x = x;
        p.y = 5;
        p.z = z;
        return f.pixelOf(p);
    }
    std::vector<QString> click(QPoint at, bool ok = true) {
        return messagesOf([&] { QTest::mouseDClick(f.view.get(), Qt::LeftButton, {}, at); }, ok);
    }
};

TEST(GlView, TargetModesMeasureBetweenTargetCentres) {
    TargetWall wall(true);
    wall.f.view->setPickMode(kPickFirstTarget);
    // Clicked beside disc A: its centre is taken.
    EXPECT_EQ(wall.click(wall.pixel(-0.14f, 0.02f)),
              std::vector<QString>{QStringLiteral("First Pt (XYZ): -0.100, 5.000, 0.050")});
    EXPECT_EQ(wall.f.view->pickMode(), kPickSecondTarget);
    ASSERT_NE(wall.f.view->firstPoint(), nullptr);
    EXPECT_NEAR(wall.f.view->firstPoint()->x, -0.1f, 1e-4f);
    // Clicked on disc B: the distance between the two centres, sqrt(0.2^2 + 0.1^2).
    EXPECT_EQ(wall.click(wall.pixel(0.11f, -0.06f)),
              std::vector<QString>{
                  QStringLiteral("Second Pt (XYZ): 0.100, 5.000, -0.050    Dist(m): 0.224")});
    EXPECT_EQ(wall.f.view->pickMode(), kPickSecondTarget);
}

TEST(GlView, NoTargetLeavesTheModeAlone) {
    TargetWall wall(false);
    wall.f.view->setPickMode(kPickFirstTarget);
    EXPECT_EQ(wall.click(wall.pixel(0.0f, 0.0f)),
              std::vector<QString>{QStringLiteral("Unable to find target!")});
    EXPECT_EQ(wall.f.view->pickMode(), kPickFirstTarget);
    EXPECT_EQ(wall.f.view->firstPoint(), nullptr);
}

} // namespace
} // namespace quarv::test
