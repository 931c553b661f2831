// The export writes our own coordinates with a product by the reciprocal of the scale instead of
// the division the stored integer is defined by. That is only allowed because the two agree for
// every single-precision input; this enumerates all 2^32 of them.
#include "core/cloud/las_file.hpp"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>

namespace quarv {
namespace {

TEST(LasQuantisation, ProductByTheReciprocalEqualsTheDivisionForEveryFloat) {
    constexpr std::size_t kBlock = 1 << 16;
    std::array<float, kBlock> v;
    std::array<std::int32_t, kBlock> byProduct, byDivision;
    std::uint64_t differing = 0, checked = 0;
    for (std::uint64_t base = 0; base < (std::uint64_t{1} << 32); base += kBlock) {
        for (std::size_t i = 0; i < kBlock; ++i)
            v[i] = std::bit_cast<float>(static_cast<std::uint32_t>(base + i));
        for (std::size_t i = 0; i < kBlock; ++i) byProduct[i] = lasQuantiseOwnScale(v[i]);
        for (std::size_t i = 0; i < kBlock; ++i) byDivision[i] = lasQuantise(v[i], kLasScale);
        for (std::size_t i = 0; i < kBlock; ++i) {
            if (byProduct[i] != byDivision[i]) {
                ADD_FAILURE() << "bits " << std::bit_cast<std::uint32_t>(v[i]) << ": product "
                              << byProduct[i] << ", division " << byDivision[i];
                if (++differing == 10) return;
            }
        }
        checked += kBlock;
    }
    EXPECT_EQ(checked, std::uint64_t{1} << 32);
    // A few known values, so that a quantisation broken the same way in both is noticed.
    EXPECT_EQ(lasQuantiseOwnScale(1.0f), 100000);
    EXPECT_EQ(lasQuantiseOwnScale(-1.0f), -99999);
    EXPECT_EQ(lasQuantiseOwnScale(1e6f), 2147483647);
    EXPECT_EQ(lasQuantiseOwnScale(-1e6f), -2147483647 - 1);
    EXPECT_EQ(lasQuantiseOwnScale(std::bit_cast<float>(0x7FC00000u)), 0); // NaN
}

} // namespace
} // namespace quarv
