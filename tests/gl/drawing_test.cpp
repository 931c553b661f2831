// What the GL renderer draws: the enumeration's points in their colours, each layer's point size,
// the 8-pixel highlight, the pick pass, and the subsample drawn during a drag.
#include "gl_support.hpp"

#include <QTest>

#include <gtest/gtest.h>

#include <map>

namespace quarv::test {
namespace {

using Batch = GlCloudRenderer::Batch;

// Pixels of each colour in the frame (black left out).
std::map<QRgb, int> colourCounts(const QImage& image) {
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y) & 0xFFFFFF;
            if (c != 0) ++counts[c];
        }
    }
    return counts;
}

QRgb rgb(int r, int g, int b) {
    return static_cast<QRgb>((r << 16) | (g << 8) | b);
}

struct Scene {
    ViewFixture f;
    Scene() {
        f.view->setTarget(0, 5, 0);
        f.view->resetCamera();
    }
    // A point well apart from the others, at column `slot` of a row across the view.
    CloudPoint& at(int slot, Rgb colour, std::uint32_t layer = 0) {
        CloudPoint& p = f.add(-0.35f + 0.07f * slot, 5, 0.02f, colour, layer);
        f.centreInPixel(p);
        return p;
    }
};

TEST(GlDrawing, LayerSizesAndTheHighlight) {
    Scene s;
    CloudStore& store = *s.f.store;
    store.layer(0).pointSize = 3;
    store.layer(1).pointSize = 5;
    store.layer(1).inUse = 1;
    store.layer(2).pointSize = 4; // not in use: never drawn
    s.at(0, {0, 0, 0});           // pick index 0 (black)
    s.at(1, {200, 10, 10});
    s.at(2, {255, 0, 1}); // the highlight colour: 8 x 8 whatever the layer's size
    s.at(3, {10, 200, 10});
    CloudPoint& hidden = s.at(4, {10, 10, 200});
    hidden.valid = 0;
    s.at(5, {200, 200, 10}, 1);
    s.f.add(0.3f, 5, 0.1f, {50, 60, 70}, 2);
    s.f.store->layer(2).inUse = 0;

    const auto counts = colourCounts(s.f.frame());
    const std::map<QRgb, int> expected{{rgb(200, 10, 10), 9},
                                       {rgb(255, 0, 1), 64},
                                       {rgb(10, 200, 10), 9},
                                       {rgb(200, 200, 10), 25}};
    EXPECT_EQ(counts, expected);

    // The runs behind it: the highlight splits layer 0's run; the pick pass keeps one run per
    // layer at the layer's size.
    const GlCloudRenderer& gl = *s.f.view->glRenderer();
    EXPECT_EQ(gl.vertexCount(), 5u);
    EXPECT_EQ(gl.renderBatches(), (std::vector<Batch>{{0, 2, 3}, {2, 1, 8}, {3, 1, 3}, {4, 1, 5}}));
    EXPECT_EQ(gl.pickBatches(), (std::vector<Batch>{{0, 4, 3}, {4, 1, 5}}));
}

TEST(GlDrawing, ZeroPointSizeKeepsTheSizeInEffect) {
    // glPointSize refuses 0, so a layer of size 0 draws at the size set before it: 1 at the
    // start, the highlight's 8 after a highlighted point of that layer.
    Scene s;
    s.f.store->layer(0).pointSize = 0;
    s.at(0, {0, 0, 0});
    s.at(1, {200, 10, 10});
    s.at(2, {255, 0, 1});
    s.at(3, {10, 200, 10});
    const auto counts = colourCounts(s.f.frame());
    EXPECT_EQ(counts.at(rgb(200, 10, 10)), 1);
    EXPECT_EQ(counts.at(rgb(255, 0, 1)), 64);
    EXPECT_EQ(counts.at(rgb(10, 200, 10)), 64);
}

TEST(GlDrawing, NearerPointsHideFartherOnes) {
    Scene s;
    s.f.add(0, -5, 0, {0, 0, 0}); // index 0 off screen
    CloudPoint& far = s.f.add(0.02f, 5.5f, 0.02f, {200, 10, 10});
    CloudPoint& near = s.f.add(0.02f, 5.0f, 0.02f, {10, 200, 10});
    s.f.centreInPixel(near);
    // Put the far point on the same pixel: scale its offset from the eye's line of sight.
    s.f.moveToPixel(far, s.f.pixelOf(near));
    ASSERT_EQ(s.f.pixelOf(far), s.f.pixelOf(near));
    const auto counts = colourCounts(s.f.frame());
    EXPECT_EQ(counts, (std::map<QRgb, int>{{rgb(10, 200, 10), 1}}));
    const QPoint at = s.f.pixelOf(near);
    EXPECT_EQ(s.f.view->pickIndexAt(at.x(), at.y()), 2);
}

TEST(GlDrawing, RebuildsAfterTheCloudShrinksOrGrowsDrawOnlyTheCurrentPoints) {
    // The vertex storage of a rebuild is reused while it is large enough and not four times too
    // large: whichever way the cloud went, the frame shows the points of the store and nothing
    // left over from the one before.
    Scene s;
    const int steps[] = {10, 6, 2, 9}; // reuse, new storage (shrunk below a quarter), grow
    for (const int points : steps) {
        SCOPED_TRACE(points);
        s.f.store->resetLayer(0);
        s.f.renderer->markDirty();
        s.at(0, {0, 0, 0});
        std::map<QRgb, int> expected;
        for (int i = 1; i < points; ++i) {
            const Rgb c{static_cast<std::uint8_t>(20 * i + points), 100, 100};
            s.at(i, c);
            expected[rgb(c.r, c.g, c.b)] = 1;
        }
        EXPECT_EQ(colourCounts(s.f.frame()), expected);
    }
}

TEST(GlDrawing, DragDrawsASubsampleAndPickingStillSeesEveryPoint) {
    Scene s;
    s.at(0, {0, 0, 0});
    for (int i = 1; i < 10; ++i) s.at(i, {static_cast<std::uint8_t>(20 * i), 100, 100});
    GlCloudRenderer& gl = *s.f.view->glRenderer();
    EXPECT_EQ(colourCounts(s.f.frame()).size(), 9u);

    gl.setSubsample(true, 3); // budget of 3 points: every 4th point of the run
    const auto counts = colourCounts(s.f.frame());
    EXPECT_EQ(gl.subsampleStride(), 4u);
    // Points 0 (black), 4 and 8 are drawn.
    EXPECT_EQ(counts, (std::map<QRgb, int>{{rgb(80, 100, 100), 1}, {rgb(160, 100, 100), 1}}));
    const QPoint third = s.f.pixelOf(s.f.store->point(0, 3));
    EXPECT_EQ(s.f.view->pickIndexAt(third.x(), third.y()), 3);
    gl.setSubsample(false);
    EXPECT_EQ(gl.subsampleStride(), 1u);
    EXPECT_EQ(colourCounts(s.f.frame()).size(), 9u);
}

TEST(GlDrawing, MouseDragTurnsTheCameraAndSubsamplesUntilRelease) {
    Scene s;
    s.at(1, {200, 10, 10});
    CChildView& v = *s.f.view;
    v.setMotionMode(kMotionRotate);
    const QPoint start(100, 100);
    QTest::mousePress(&v, Qt::LeftButton, {}, start);
    QMouseEvent move(QEvent::MouseMove, QPointF(start + QPoint(10, 0)), QPointF(), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&v, &move);
    EXPECT_TRUE(v.dragging());
    EXPECT_TRUE(v.glRenderer()->subsampling());
    EXPECT_NEAR(v.camera().rotZ, 3.0f, 1e-5); // 10 pixels right: +3 degrees about Z
    QTest::mouseRelease(&v, Qt::LeftButton, {}, start + QPoint(10, 0));
    EXPECT_FALSE(v.dragging());
    EXPECT_FALSE(v.glRenderer()->subsampling());

    // Translate mode: a right drag of 100 pixels upwards zooms by 1.
    v.setMotionMode(kMotionTranslate);
    QTest::mousePress(&v, Qt::RightButton, {}, start);
    QMouseEvent up(QEvent::MouseMove, QPointF(start - QPoint(0, 100)), QPointF(), Qt::NoButton,
                   Qt::RightButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&v, &up);
    QTest::mouseRelease(&v, Qt::RightButton, {}, start - QPoint(0, 100));
    EXPECT_NEAR(v.camera().zoom, 1.8f, 1e-5);
}

} // namespace
} // namespace quarv::test
