#include "support/golden.hpp"

#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace quarv::test {

void expectGolden(const std::string& name, const std::string& text) {
    const std::filesystem::path file =
        std::filesystem::path(QUARV_SOURCE_DIR) / "tests/golden" / name;
    const char* update = std::getenv("QUARV_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        writeBytes(file, std::vector<std::uint8_t>(text.begin(), text.end()));
        return;
    }
    const std::vector<std::uint8_t> kept = readBytes(file);
    ASSERT_FALSE(kept.empty()) << file << " is missing (QUARV_UPDATE_GOLDEN=1 writes it)";
    std::istringstream want(std::string(kept.begin(), kept.end())), got(text);
    std::string a, b;
    for (int line = 1;; ++line) {
        const bool moreWant = bool(std::getline(want, a)), moreGot = bool(std::getline(got, b));
        if (!moreWant && !moreGot) return;
        ASSERT_TRUE(moreWant && moreGot && a == b)
            << name << " line " << line << "\n  kept: " << (moreWant ? a : "<end>")
            << "\n  now:  " << (moreGot ? b : "<end>");
    }
}

std::string digest(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t h = 1469598103934665603ull;
    for (const std::uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
    char out[48];
    std::snprintf(out, sizeof out, "%zu bytes fnv %016llx", bytes.size(),
                  static_cast<unsigned long long>(h));
    return out;
}

} // namespace quarv::test
