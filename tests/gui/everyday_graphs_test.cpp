// The processing graphs' average over a group of K records: a gap wherever one record has none.
#include "gui/dialogs/proc_graph_model.hpp"
#include "support/recordings.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace quarv {
namespace {

TEST(EverydayGraphs, AnAverageNeedsARangeInsideTheWindowInEveryRecord) {
    test::TempDir dir;
    ConfigRoot root(dir / "home");
    RecordingSink sink;
    ASSERT_TRUE(root.ensureCreated(sink));
    const auto file = test::makeRecording(dir.path(), "pairs.raw");
    test::setPulsesPerPosition(file, 2);
    ProcGraphModel model(root, sink);
    ASSERT_TRUE(model.load(file.string(), 0.5, 30.0));
    GroupView g;
    PulseView p;
    ASSERT_TRUE(model.showGroup(0, 0.5, 30.0, g, p));
    // End between the records' ranges of the middle pulse: inside in one record only.
    const double end = (g.ranges[0][24] + g.ranges[1][24]) / 2.0;
    ASSERT_TRUE(model.showGroup(0, 0.5, end, g, p));
    ASSERT_TRUE(g.average.has_value());
    int mixed = 0;
    for (std::size_t i = 2; i < g.average->size(); ++i) {
        const bool gap0 = std::isnan(g.ranges[0][i]), gap1 = std::isnan(g.ranges[1][i]);
        mixed += gap0 != gap1;
        EXPECT_EQ(std::isnan((*g.average)[i]), gap0 || gap1) << i;
        EXPECT_TRUE(gap0 || gap1 || (*g.average)[i] < end) << i;
    }
    EXPECT_GT(mixed, 0);
}

} // namespace
} // namespace quarv
