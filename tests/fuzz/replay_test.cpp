// Replays every seed of tests/fuzz/corpus/<target>/ and every input a fuzzer once failed on,
// tests/fuzz/regressions/<target>/, through the target's entry, so that what was fixed stays
// fixed. A broken invariant aborts the test binary with the target's message.
#include "fuzz/fuzz_targets.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quarv::fuzz {
namespace {

const std::filesystem::path kFuzzDir = std::filesystem::path(QUARV_SOURCE_DIR) / "tests" / "fuzz";

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        if (e.is_regular_file() && e.path().filename().string()[0] != '.')
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::uint8_t> bytesOf(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class FuzzReplay : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzReplay, SeedsAndRegressionsPassThroughTheTarget) {
    const Target target = GetParam();
    const std::string name(target.name);
    const auto seeds = filesIn(kFuzzDir / "corpus" / name);
    // Without seeds the fuzzer starts from nothing and this test would replay nothing.
    ASSERT_GE(seeds.size(), 3u) << "seed corpus of " << name << " is missing";
    auto inputs = seeds;
    const auto regressions = filesIn(kFuzzDir / "regressions" / name);
    inputs.insert(inputs.end(), regressions.begin(), regressions.end());
    for (const auto& file : inputs) {
        SCOPED_TRACE(file.string());
        const std::vector<std::uint8_t> bytes = bytesOf(file);
        EXPECT_EQ(target.entry(bytes.data(), bytes.size()), 0);
    }
}

// Inputs every reader must survive whatever it is: nothing, one byte, a lone header-sized block
// of zeros and of 0xFF, and the other targets' seeds (a LAS file given as a layer list, ...).
TEST_P(FuzzReplay, SurvivesEmptyUniformAndForeignFiles) {
    const Target target = GetParam();
    std::vector<std::vector<std::uint8_t>> inputs = {
        {}, {0}, std::vector<std::uint8_t>(600, 0), std::vector<std::uint8_t>(600, 0xFF)};
    for (const Target& other : targets())
        for (const auto& file : filesIn(kFuzzDir / "corpus" / std::string(other.name)))
            inputs.push_back(bytesOf(file));
    for (const auto& bytes : inputs) EXPECT_EQ(target.entry(bytes.data(), bytes.size()), 0);
}

INSTANTIATE_TEST_SUITE_P(Readers, FuzzReplay,
                         ::testing::ValuesIn(targets().begin(), targets().end()),
                         [](const ::testing::TestParamInfo<Target>& param) {
                             return std::string(param.param.name);
                         });

} // namespace
} // namespace quarv::fuzz
