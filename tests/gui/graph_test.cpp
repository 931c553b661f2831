#include "gui/graph/float_vector.hpp"
#include "gui/graph/graph.hpp"
#include "gui/graph/num_edit.hpp"
#include "gui/graph/slide.hpp"

#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quarv {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(FloatVectorTest, AccessOutsideTheSizeFailsAndChangesNothing) {
    FloatVector v;
    float out = -1;
    EXPECT_FALSE(v.set(0, 1.0f));
    EXPECT_FALSE(v.get(0, out));
    v.resize(3);
    EXPECT_TRUE(v.set(2, 7.5f));
    EXPECT_FALSE(v.set(3, 9.0f));
    EXPECT_TRUE(v.get(2, out));
    EXPECT_EQ(out, 7.5f);
    EXPECT_FALSE(v.get(3, out));
    EXPECT_EQ(out, 7.5f);
    v.resize(2); // shrinking drops index 2 ...
    EXPECT_FALSE(v.get(2, out));
    v.resize(4); // ... and growing brings it back as zero
    EXPECT_TRUE(v.get(2, out));
    EXPECT_EQ(out, 0.0f);
    EXPECT_EQ(v.size(), 4u);
}

TEST(GraphTest, PlotsAreFoundByNameAndDrawnInTheirOwnStyles) {
    Graph g;
    Plot& p1 = g.plot("Plot-1");
    EXPECT_EQ(&g.plot("Plot-1"), &p1);
    EXPECT_EQ(g.findPlot("Plot-2"), nullptr);
    const float a[] = {1, 2, 3};
    p1.plotY(a);
    EXPECT_FALSE(g.customPlot().legend->visible()); // a single plot needs no legend
    Plot& p2 = g.plot("Plot-2");
    Plot& ave = g.plot("Ave");
    EXPECT_FALSE(g.customPlot().legend->visible()); // empty plots are not listed
    p2.plotY(a);
    ave.plotY(a);
    EXPECT_TRUE(g.customPlot().legend->visible());
    EXPECT_EQ(g.customPlot().legend->itemCount(), 3);
    EXPECT_NE(p1.color(), p2.color());
    EXPECT_NE(p2.color(), ave.color());
    EXPECT_EQ(g.plotNames(), (std::vector<std::string>{"Plot-1", "Plot-2", "Ave"}));
    // Names are held to 15 characters, as the control's name buffer does.
    Plot& longName = g.plot("Plot-12345678901234");
    EXPECT_EQ(longName.name(), "Plot-1234567890");
    EXPECT_EQ(&g.plot("Plot-1234567890"), &longName);
    EXPECT_EQ(g.plotsWithData(), 3);
    ave.clear();
    EXPECT_EQ(g.customPlot().legend->itemCount(), 2);

    // Removing the plots keeps the cursors and restarts the styles.
    const QColor first = p1.color();
    g.cursor("Cursor-1").setPosition(2);
    g.removePlots();
    EXPECT_TRUE(g.plotNames().empty());
    EXPECT_EQ(g.findPlot("Plot-1"), nullptr);
    EXPECT_EQ(g.plot("Plot-7").color(), first);
    ASSERT_NE(g.findCursor("Cursor-1"), nullptr);
    EXPECT_EQ(g.findCursor("Cursor-1")->position(), 2.0);
}

TEST(GraphTest, PlotValuesReplaceDataAndKeepNaNs) {
    Graph g;
    Plot& p = g.plot("Plot-1");
    const float first[] = {5, 6, 7, 8};
    p.plotY(first);
    const float second[] = {1.5f, kNaN, 3.5f};
    p.plotY(second);
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p.keyAt(2), 2.0);
    EXPECT_EQ(p.valueAt(0), 1.5);
    EXPECT_TRUE(std::isnan(p.valueAt(1)));
    EXPECT_TRUE(std::isnan(p.valueAt(9))); // outside: no value, no crash
    p.clear();
    EXPECT_EQ(p.size(), 0u);
    // Range against angle: keys come from the caller, unsorted angles keep their pairs.
    const float angles[] = {10, -10, 0};
    const float ranges[] = {3, 1, 2};
    p.plotXY(angles, ranges);
    ASSERT_EQ(p.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(p.valueAt(i), p.keyAt(i) / 10 + 2) << i;
}

// Counts pixels of one colour in a column band of the rendered plot area.
int colouredPixels(const QImage& img, const QColor& c, int x0, int x1, int y0, int y1) {
    int n = 0;
    for (int x = x0; x < x1; ++x)
        for (int y = y0; y < y1; ++y) {
            const QColor p = img.pixelColor(x, y);
            if (std::abs(p.red() - c.red()) < 40 && std::abs(p.green() - c.green()) < 40 &&
                std::abs(p.blue() - c.blue()) < 40)
                ++n;
        }
    return n;
}

TEST(GraphTest, NaNValuesDrawAsAGap) {
    Graph g;
    g.resize(400, 300);
    g.setFixedKeyRange(0, 99);
    std::vector<float> v(100, 1.0f);
    for (int i = 0; i < 100; ++i) v[i] = static_cast<float>(i % 2); // zig-zag fills the band
    for (int i = 40; i < 60; ++i) v[i] = kNaN;
    Plot& p = g.plot("Plot-1");
    p.plotY(v);
    g.customPlot().replot();
    const QImage img = g.customPlot().toPixmap(400, 300).toImage();
    const QCPAxis& x = *g.customPlot().xAxis;
    const QRect area = g.customPlot().axisRect()->rect();
    auto px = [&](double key) { return static_cast<int>(x.coordToPixel(key)); };
    const int before = colouredPixels(img, p.color(), px(10), px(30), area.top(), area.bottom());
    const int gap = colouredPixels(img, p.color(), px(42), px(58), area.top(), area.bottom());
    const int after = colouredPixels(img, p.color(), px(65), px(85), area.top(), area.bottom());
    EXPECT_GT(before, 50);
    EXPECT_GT(after, 50);
    EXPECT_EQ(gap, 0);
}

TEST(GraphTest, CursorsByNameKeepPositionAndColour) {
    Graph g;
    const float v[] = {0, 10, 5};
    g.plot("Plot-1").plotY(v);
    Cursor& c = g.cursor("Cursor-1");
    EXPECT_EQ(&g.cursor("Cursor-1"), &c);
    EXPECT_EQ(c.position(), 0.0);
    c.setPosition(1.25);
    c.setColor(Qt::red);
    EXPECT_EQ(g.findCursor("Cursor-1")->position(), 1.25);
    EXPECT_EQ(g.findCursor("Cursor-1")->color(), QColor(Qt::red));
    // The cursor is no plot: it neither shows in the legend nor counts as data.
    EXPECT_EQ(g.plotNames(), std::vector<std::string>{"Plot-1"});
    EXPECT_FALSE(g.customPlot().legend->visible());
    // It spans the whole visible value range at its x.
    const QCPRange r = g.customPlot().yAxis->range();
    EXPECT_LT(r.lower, 0.0);
    EXPECT_GT(r.upper, 10.0);
}

TEST(GraphTest, TickCountIsTheIntegerPropertyOfTheDialogs) {
    Graph g;
    g.setTickCount(10);
    EXPECT_EQ(g.tickCount(), 10);
    EXPECT_EQ(g.customPlot().xAxis->ticker()->tickCount(), 10);
    EXPECT_EQ(g.customPlot().yAxis->ticker()->tickCount(), 10);
    g.setAxisLabels("sample", "range (m)");
    EXPECT_EQ(g.customPlot().yAxis->label(), "range (m)");
}

TEST(SlideTest, ProgramSetValuesRaiseNoEventOperatorMovesDo) {
    Slide s;
    ASSERT_NE(s.pointer("Pointer-1"), nullptr);
    EXPECT_EQ(s.pointer("Pointer-2"), nullptr);
    QSignalSpy spy(&s, &Slide::pointerValueChanged);
    s.axis().setMinimum(0);
    s.axis().setMaximum(50);
    s.pointer("Pointer-1")->setValue(7.9); // truncated to a whole index
    EXPECT_EQ(s.pointer("Pointer-1")->value(), 7.0);
    s.pointer("Pointer-1")->setValue(80); // held at the axis end
    EXPECT_EQ(s.pointer("Pointer-1")->value(), 50.0);
    s.axis().setMaximum(20); // a smaller axis moves the pointer without an event either
    EXPECT_EQ(s.pointer("Pointer-1")->value(), 20.0);
    EXPECT_EQ(spy.count(), 0);

    s.show();
    s.slider().setFocus();
    QTest::keyClick(&s.slider(), Qt::Key_Left);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toDouble(), 19.0);
    QTest::keyClick(&s.slider(), Qt::Key_Home);
    EXPECT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(1).at(0).toDouble(), 0.0);
}

TEST(NumEditTest, CommitsTypedValuesOnce) {
    NumEdit e(-10, 1000, 2);
    QSignalSpy spy(&e, qOverload<double>(&QDoubleSpinBox::valueChanged));
    e.show();
    e.setFocus();
    e.selectAll();
    QTest::keyClicks(&e, "12.75");
    EXPECT_EQ(spy.count(), 0); // no event per keystroke
    QTest::keyClick(&e, Qt::Key_Return);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_DOUBLE_EQ(e.value(), 12.75);
}

} // namespace
} // namespace quarv
