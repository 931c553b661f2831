#include "core/cloud/zeroed_pages.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <utility>

namespace quarv {
namespace {

TEST(ZeroedPages, BlocksAreZeroAlignedForHugePagesAndWritable) {
    constexpr std::size_t kHuge = std::size_t{2} << 20;
    for (const std::size_t bytes : {std::size_t{1}, kHuge - 1, kHuge, 5 * kHuge + 52}) {
        SCOPED_TRACE(bytes);
        ZeroedPages block(bytes);
        auto* p = block.as<std::uint8_t>();
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % kHuge, 0u);
        EXPECT_EQ(p[0], 0);
        EXPECT_EQ(p[bytes - 1], 0);
        std::memset(p, 0xA5, bytes); // every byte asked for is ours to write
        EXPECT_EQ(p[bytes / 2], 0xA5);
    }
}

TEST(ZeroedPages, RefusedSizesGiveAnEmptyBlock) {
    for (const std::size_t bytes : {std::size_t{0}, SIZE_MAX, SIZE_MAX / 2}) {
        SCOPED_TRACE(bytes);
        EXPECT_EQ(ZeroedPages(bytes).data(), nullptr);
    }
}

TEST(ZeroedPages, MovingHandsOverTheBlock) {
    ZeroedPages kept(8192);
    void* p = nullptr;
    {
        ZeroedPages a(4096);
        p = a.data();
        ZeroedPages b(std::move(a));
        kept = std::move(b); // kept's own block is given back here
    }                        // a and b end without their block
    ASSERT_EQ(kept.data(), p);
    static_cast<volatile std::uint8_t*>(kept.data())[4095] = 1; // still mapped
    EXPECT_EQ(kept.as<std::uint8_t>()[4095], 1);
}

} // namespace
} // namespace quarv
