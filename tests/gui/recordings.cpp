#include "recordings.hpp"

#include "core/app/message_sink.hpp"

#include <gtest/gtest.h>

namespace quarv::test {

std::filesystem::path makeRecording(const std::filesystem::path& dir, const std::string& name,
                                    const std::function<void(sim::SimOptions&)>& adjust) {
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
    return path;
}

} // namespace quarv::test
