// The graph controls the dialogs are built from: named plots and cursors, the slide's events and
// the numeric edit's commit.
#include "gui/graph/num_edit.hpp"
#include "gui/graph/slide.hpp"
#include "gui_support.hpp"

#include <QSignalSpy>
#include <QTest>
#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <limits>

namespace quarv {
namespace {

TEST(GraphTest, PlotsByNameLegendStylesAndCursors) {
    Graph g;
    Plot& p1 = g.plot("Plot-1");
    const float first[] = {5, 6, 7, 8}, a[] = {1.5f, std::numeric_limits<float>::quiet_NaN(), 3.5f};
    p1.plotY(first);
    p1.plotY(a); // replaces the data; NaN stays a gap
    EXPECT_EQ(&g.plot("Plot-1"), &p1);
    EXPECT_FALSE(g.customPlot().legend->visible()); // a single plot needs no legend
    Plot& p2 = g.plot("Plot-12345678901234");       // names are held to 15 characters
    EXPECT_EQ(&g.plot("Plot-1234567890"), &p2);
    EXPECT_FALSE(g.customPlot().legend->visible()); // empty plots are not listed
    const float angles[] = {10, -10, 0}, ranges[] = {3, 1, 2};
    p2.plotXY(angles, ranges); // sorted by key, pairs kept
    EXPECT_TRUE(g.customPlot().legend->visible());
    EXPECT_NE(p1.color(), p2.color());
    g.cursor("Cursor-1").setPosition(1.25);
    g.cursor("Cursor-1").setColor(Qt::red);
    EXPECT_EQ(test::describe(g), "plot Plot-1 (3): 0.0000:1.5000 1.0000:nan 2.0000:3.5000\n"
                                 "plot Plot-1234567890 (3): -10.0000:1.0000 0.0000:2.0000 "
                                 "10.0000:3.0000\ncursor Cursor-1 at 1.2500 #ff0000\n");
    // The cursor spans the visible value range; removing the plots keeps it and restarts styles.
    EXPECT_LT(g.customPlot().yAxis->range().lower, 1.0);
    EXPECT_GT(g.customPlot().yAxis->range().upper, 3.5);
    const QColor style = p1.color();
    g.removePlots();
    EXPECT_EQ(g.findPlot("Plot-1"), nullptr);
    EXPECT_EQ(g.plot("Plot-7").color(), style);
    EXPECT_EQ(g.findCursor("Cursor-1")->position(), 1.25);
}

TEST(SlideTest, ProgramSetValuesRaiseNoEventOperatorMovesAndTypedValuesDoOnce) {
    Slide s;
    QSignalSpy spy(&s, &Slide::pointerValueChanged);
    s.axis().setMaximum(50);
    s.pointer("Pointer-1")->setValue(7.9); // truncated to a whole index
    EXPECT_EQ(s.pointer("Pointer-1")->value(), 7.0);
    s.axis().setMaximum(5); // a smaller axis moves the pointer without an event either
    EXPECT_EQ(s.pointer("Pointer-1")->value(), 5.0);
    EXPECT_EQ(spy.count(), 0);
    s.show();
    s.slider().setFocus();
    QTest::keyClick(&s.slider(), Qt::Key_Left);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toDouble(), 4.0);

    NumEdit e(-10, 1000, 2);
    QSignalSpy typed(&e, qOverload<double>(&QDoubleSpinBox::valueChanged));
    e.show();
    e.setFocus();
    e.selectAll();
    QTest::keyClicks(&e, "12.75");
    EXPECT_EQ(typed.count(), 0); // no event per keystroke
    QTest::keyClick(&e, Qt::Key_Return);
    EXPECT_EQ(typed.count(), 1);
    EXPECT_DOUBLE_EQ(e.value(), 12.75);
}

} // namespace
} // namespace quarv
