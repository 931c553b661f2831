#include "core/sim/random.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace quarv::sim {
namespace {

TEST(SimRandom, SameSeedSameStreamOtherSeedOtherStream) {
    Random a(42), b(42), c(43);
    int equalToOther = 0;
    for (int i = 0; i < 1000; ++i) {
        const std::uint64_t va = a.next();
        EXPECT_EQ(va, b.next());
        equalToOther += va == c.next();
    }
    EXPECT_EQ(equalToOther, 0);
    // Derived streams differ from each other and from the parent seed's stream.
    EXPECT_NE(streamSeed(1, 1), streamSeed(1, 2));
    EXPECT_NE(streamSeed(1, 1), streamSeed(2, 1));
    EXPECT_EQ(streamSeed(7, 3), streamSeed(7, 3));
}

TEST(SimRandom, UniformAndNormalHaveTheirMoments) {
    Random r(2024);
    constexpr int kCount = 200000;
    double sumU = 0, minU = 1, maxU = 0;
    double sumN = 0, sumN2 = 0, sumN4 = 0;
    int beyond3 = 0;
    for (int i = 0; i < kCount; ++i) {
        const double u = r.uniform();
        sumU += u;
        minU = std::min(minU, u);
        maxU = std::max(maxU, u);
        const double g = r.normal();
        sumN += g;
        sumN2 += g * g;
        sumN4 += g * g * g * g;
        beyond3 += std::fabs(g) > 3.0;
    }
    EXPECT_GE(minU, 0.0);
    EXPECT_LT(maxU, 1.0);
    EXPECT_NEAR(sumU / kCount, 0.5, 0.005);
    EXPECT_NEAR(sumN / kCount, 0.0, 0.01);
    EXPECT_NEAR(sumN2 / kCount, 1.0, 0.015);
    EXPECT_NEAR(sumN4 / kCount, 3.0, 0.1); // Gaussian kurtosis, not a uniform-ish shape
    // P(|g| > 3) = 0.27 %.
    EXPECT_NEAR(static_cast<double>(beyond3) / kCount, 0.0027, 0.0006);
}

} // namespace
} // namespace quarv::sim
