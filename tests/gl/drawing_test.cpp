// What the GL renderer draws: the points in their colours at each layer's point size, the 8-pixel
// highlight, rebuilds, and the subsample drawn during a drag.
#include "gl_support.hpp"

#include <QTest>

#include <gtest/gtest.h>

#include <map>

namespace quarv::test {
namespace {

using Batch = GlCloudRenderer::Batch;
using Counts = std::map<QRgb, int>;

// Pixels of each colour in the frame (black left out).
Counts colourCounts(const QImage& image) {
    Counts counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (const QRgb c = image.pixel(x, y) & 0xFFFFFF; c != 0) ++counts[c];
    return counts;
}

QRgb rgb(int r, int g, int b) {
    return static_cast<QRgb>((r << 16) | (g << 8) | b);
}

struct Scene : ViewFixture {
    Scene() {
        view->setTarget(0, 5, 0);
        view->resetCamera();
    }
    // A point well apart from the others, at column `slot` of a row across the view.
    CloudPoint& at(int slot, Rgb colour, std::uint32_t layer = 0) {
        CloudPoint& p = add(-0.35f + 0.07f * slot, 5, 0.02f, colour, layer);
        moveToPixel(p);
        return p;
    }
};

TEST(GlDrawing, LayerSizesTheHighlightAndSizeZero) {
    for (const int size0 : {3, 0}) {
        SCOPED_TRACE(size0);
        Scene s;
        s.store->layer(0).pointSize = std::uint8_t(size0);
        s.store->layer(1).pointSize = 5;
        s.at(0, {0, 0, 0}); // pick index 0 (black)
        s.at(1, {200, 10, 10});
        s.at(2, {255, 0, 1}); // the highlight colour: 8 x 8 whatever the layer's size
        s.at(3, {10, 200, 10});
        s.at(4, {10, 10, 200}).valid = 0;
        s.at(5, {200, 200, 10}, 1);
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

TEST(GlDrawing, RebuildsDrawOnlyTheCurrentPointsAndADragDrawsASubsample) {
    // The vertex storage of a rebuild is reused while it is large enough and not four times too
    // large: whichever way the cloud went, the frame shows the points of the store only.
    Scene s;
    for (const int points : {9, 6, 2, 10}) { // reuse, new storage (below a quarter), grow
        SCOPED_TRACE(points);
        s.store->resetLayer(0);
        s.renderer->markDirty();
        s.at(0, {0, 0, 0});
        Counts expected;
        for (int i = 1; i < points; ++i) {
            s.at(i, {std::uint8_t(20 * i + points), 100, 100});
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

} // namespace
} // namespace quarv::test
