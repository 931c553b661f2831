#include "support/recordings.hpp"

#include "core/app/message_sink.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

namespace quarv::test {

std::filesystem::path makeRecording(const std::filesystem::path& dir, const std::string& name,
                                    const std::function<void(sim::SimOptions&)>& adjust,
                                    sim::SimResult* out) {
    sim::SimOptions o = sim::sceneDefaults("plane");
    o.scanner.shotsPerLine = 48;
    o.scanner.lines = 12;
    o.scanner.samplesPerPulse = 400;
    o.distance = 4.0;
    if (adjust) adjust(o);
    const std::filesystem::path path = dir / name;
    sim::SimResult result;
    RecordingSink sink;
    EXPECT_TRUE(sim::simulate(o, path, result, sink)) << sink.last();
    if (out) *out = std::move(result);
    return path;
}

void setPulsesPerPosition(const std::filesystem::path& file, std::uint16_t k) {
    std::vector<std::uint8_t> bytes = readBytes(file);
    ASSERT_GT(bytes.size(), 21u);
    // ScannerCfg starts at file offset 18; its second u16 is K.
    bytes[20] = static_cast<std::uint8_t>(k & 0xFF);
    bytes[21] = static_cast<std::uint8_t>(k >> 8);
    writeBytes(file, bytes);
}

} // namespace quarv::test
