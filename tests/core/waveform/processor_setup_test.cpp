#include "core/waveform/waveform_processor.hpp"

#include "core/waveform/waveform_fixture.hpp"

#include <cstdlib>
#include <cstring>

namespace quarv {
namespace {

using test::Setting;

class ProcessorSetup : public test::WaveformFixture {};

TEST_F(ProcessorSetup, ConstructionUsesDefaultSettingAndShippedTemplate) {
    WaveformProcessor p(root_, sink_);
    EXPECT_TRUE(sink_.messages().empty());
    EXPECT_TRUE(p.ready());
    EXPECT_TRUE(p.tempCompEnabled());
    EXPECT_TRUE(p.tempCompAllowed());
    EXPECT_EQ(p.samplesPerPulse(), 600);
    EXPECT_EQ(p.interp(), 4);
    EXPECT_EQ(p.capacity(), 2400u);
    EXPECT_EQ(p.xcBuffer().size(), 2400u);
    EXPECT_EQ(p.sinkTag(), 0u);
    EXPECT_FALSE(p.saturated());
    // Before configure the refractive index is 0: both window ends sit at raw sample 0.
    EXPECT_EQ(p.rawStart(), 0);
    EXPECT_EQ(p.rawEnd(), 0);
    EXPECT_EQ(p.searchStart(), 20);
    EXPECT_EQ(p.searchEnd(), 100);
    // The shipped template: Gaussian, peak at sample 48.
    const auto& t = p.pulseTemplate();
    EXPECT_EQ(std::max_element(t.begin(), t.end()) - t.begin(), 48);
    EXPECT_NEAR(t[48], 1.0, 1e-12);
}

TEST_F(ProcessorSetup, SearchWindowFromRangesTruncatesAndClamps) {
    const double cT = SPEED_OF_LIGHT_MPS * RAW_SAMPLE_PERIOD_S;
    struct Case {
        Setting s;
        int rawStart, rawEnd, searchStart, searchEnd;
    };
    const Case cases[] = {
        // rangeMin 1 m in water: trunc(17.879) = 17 -> 34 -> 36, which is <= 48 -> 20.
        {{600, 4.0, 1.34, 1.0, 100.0}, 34, 600, 20, 2400},
        {{600, 4.0, 1.34, 0.0, 0.0}, 0, 0, 20, 100},
        {{600, 4.0, 1.34, 3.0, 5.0}, 106, 178, 324, 812},
        {{500, 4.0, 1.34, 3.0, 100.0}, 106, 500, 324, 2000},
        {{600, 4.0, 1.0, 19.5 * cT, 100.0}, 38, 600, 52, 2400},
        {{600, 4.0, 1.0, 18.5 * cT, 100.0}, 36, 600, 20, 2400},
        // Exactly 48 is moved as well; 50 is kept.
        {{600, 1.0, 1.0, 74.5 * cT, 100.0}, 148, 600, 20, 600},
        {{600, 1.0, 1.0, 75.5 * cT, 100.0}, 150, 600, 50, 600},
        {{600, 4.0, 1.34, -1.0, 100.0}, -34, 600, 20, 2400},
        // 2 x 17879 = 35758 does not fit 16 bits: it wraps to -29778 and leaves no window.
        {{600, 4.0, 1.34, 0.0, 1000.0}, 0, -29778, 20, -29778 * 4 + 100},
        // A start past the record is held at N.
        {{100, 4.0, 1.34, 10.0, 12.0}, 100, 100, 300, 400},
    };
    for (const Case& c : cases) {
        WaveformProcessor p(root_, sink_);
        ASSERT_TRUE(p.configure(test::digitizerFor(c.s), test::processingFor(c.s),
                                test::plainCalibration()));
        SCOPED_TRACE(testing::Message()
                     << "n " << c.s.index << " min " << c.s.rangeMin << " max " << c.s.rangeMax);
        EXPECT_EQ(p.rawStart(), c.rawStart);
        EXPECT_EQ(p.rawEnd(), c.rawEnd);
        EXPECT_EQ(p.searchStart(), c.searchStart);
        EXPECT_EQ(p.searchEnd(), c.searchEnd);
    }
}

TEST_F(ProcessorSetup, RangeWindowFollowsAtNextAllocation) {
    WaveformProcessor p(root_, sink_);
    const Setting s;
    ASSERT_TRUE(
        p.configure(test::digitizerFor(s), test::processingFor(s), test::plainCalibration()));
    p.setRangeWindow(3.0, 5.0);
    EXPECT_EQ(p.searchEnd(), 2400);
    EXPECT_DOUBLE_EQ(p.processing().rangeMin(), 3.0);
    ASSERT_TRUE(p.allocateBuffers());
    EXPECT_EQ(p.searchStart(), 324);
    EXPECT_EQ(p.searchEnd(), 812);
}

TEST_F(ProcessorSetup, RefractiveIndexSwitchesTemperatureCompensation) {
    const std::pair<double, bool> cases[] = {
        {1.1, false}, {1.1000001, true}, {1.0, false}, {1.34, true}, {0.0, false}};
    WaveformProcessor p(root_, sink_);
    for (auto [index, enabled] : cases) {
        Setting s;
        s.index = index;
        ASSERT_TRUE(
            p.configure(test::digitizerFor(s), test::processingFor(s), test::plainCalibration()));
        EXPECT_EQ(p.tempCompEnabled(), enabled) << index;
        EXPECT_TRUE(p.tempCompAllowed());
    }
    EXPECT_TRUE(sink_.messages().empty());
}

TEST_F(ProcessorSetup, BuffersOnlyGrow) {
    WaveformProcessor p(root_, sink_);
    const std::pair<int, std::uint32_t> steps[] = {
        {600, 2400}, {500, 2400}, {700, 2800}, {600, 2800}};
    for (auto [samples, capacity] : steps) {
        Setting s;
        s.samples = samples;
        ASSERT_TRUE(
            p.configure(test::digitizerFor(s), test::processingFor(s), test::plainCalibration()));
        EXPECT_EQ(p.capacity(), capacity);
        EXPECT_EQ(p.length(), samples * 4);
        EXPECT_EQ(p.xcBuffer().size(), static_cast<std::size_t>(samples * 4));
        EXPECT_EQ(p.rawBuffer().size(), static_cast<std::size_t>(samples));
        // The template buffer is zero past the template over the whole new length.
        const auto t = p.templateBuffer();
        EXPECT_TRUE(
            std::all_of(t.begin() + TEMPLATE_LENGTH, t.end(), [](float v) { return v == 0.0f; }));
    }
}

TEST_F(ProcessorSetup, TemplateFileIsReadAsLittleEndianDoubles) {
    std::vector<double> values(TEMPLATE_LENGTH);
    std::vector<std::uint8_t> bytes(TEMPLATE_LENGTH * 8);
    for (int i = 0; i < TEMPLATE_LENGTH; ++i) {
        values[i] = 0.1 * i - 2.3;
        le::store<double>(bytes.data() + 8 * i, values[i]);
    }
    test::writeBytes(root_.pulseTemplatePath(), bytes);
    WaveformProcessor p(root_, sink_);
    for (int i = 0; i < TEMPLATE_LENGTH; ++i) {
        EXPECT_EQ(p.pulseTemplate()[i], values[i]);
        EXPECT_EQ(p.templateBuffer()[i], static_cast<float>(values[i]));
    }

    // A shorter file replaces only the whole values it holds (50 of them here).
    std::vector<std::uint8_t> shortBytes(404);
    for (int i = 0; i < 50; ++i) le::store<double>(shortBytes.data() + 8 * i, 7.0 + i);
    test::writeBytes(dir_ / "short.bin", shortBytes);
    ASSERT_TRUE(p.loadPulseTemplate(dir_ / "short.bin"));
    EXPECT_EQ(p.pulseTemplate()[0], 7.0);
    EXPECT_EQ(p.pulseTemplate()[49], 56.0);
    EXPECT_EQ(p.pulseTemplate()[50], values[50]);
    // The correlation's template buffer follows only at the next allocation.
    EXPECT_EQ(p.templateBuffer()[0], static_cast<float>(values[0]));
    ASSERT_TRUE(p.allocateBuffers());
    EXPECT_EQ(p.templateBuffer()[0], 7.0f);

    EXPECT_FALSE(p.loadPulseTemplate(dir_ / "missing.bin"));
    EXPECT_EQ(p.pulseTemplate()[0], 7.0);
}

TEST_F(ProcessorSetup, MissingOrShortTemplateFileFallsBackToTheShippedPulse) {
    const test::Setting setting;
    const auto w = test::synthWaveform(600, 100, 0, {{300, 400, 2.5}}, nullptr);
    struct Found {
        bool hit = false;
        double position = 0;
    };
    const auto run = [&](WaveformProcessor& p) {
        EXPECT_TRUE(p.configure(test::digitizerFor(setting), test::processingFor(setting),
                                test::plainCalibration()));
        Found f;
        std::uint16_t amplitude = 0;
        bool saturated = false;
        p.matchedFilter(w.data(), f.position, amplitude, saturated, f.hit);
        return f;
    };
    WaveformProcessor stock(root_, sink_);
    ASSERT_TRUE(stock.templateComplete());
    const auto shipped = stock.pulseTemplate();
    const Found expected = run(stock);
    ASSERT_TRUE(expected.hit);

    // Missing: the whole shipped template, so the same return is found.
    std::filesystem::remove(root_.pulseTemplatePath());
    WaveformProcessor missing(root_, sink_);
    EXPECT_FALSE(missing.templateComplete());
    EXPECT_EQ(missing.pulseTemplate(), shipped);
    const Found got = run(missing);
    EXPECT_TRUE(got.hit);
    EXPECT_EQ(got.position, expected.position);

    // Short: its whole values, the shipped ones after them.
    std::vector<std::uint8_t> shortBytes(8 * 10 + 3);
    for (int i = 0; i < 10; ++i) le::store<double>(shortBytes.data() + 8 * i, -1.0 - i);
    test::writeBytes(root_.pulseTemplatePath(), shortBytes);
    WaveformProcessor partial(root_, sink_);
    EXPECT_FALSE(partial.templateComplete());
    EXPECT_EQ(partial.pulseTemplate()[9], -10.0);
    EXPECT_EQ(partial.pulseTemplate()[10], shipped[10]);
    EXPECT_EQ(partial.pulseTemplate()[48], shipped[48]);
    EXPECT_TRUE(sink_.messages().empty()); // the processing run reports it, once
}

struct FailingAllocator {
    int calls = 0;
    int failAt = 0;
    static void* allocate(std::size_t bytes, void* context) {
        auto* self = static_cast<FailingAllocator*>(context);
        if (++self->calls == self->failAt) return nullptr;
        return std::aligned_alloc(64, bytes);
    }
};

TEST_F(ProcessorSetup, AllocationFailureReportsThatBufferAndStopsProcessing) {
    // Growing from 600 to 1000 samples replaces every buffer, in this order.
    const char* messages[] = {
        "ERROR, Processing, allocating data interpolation buffer!",
        "ERROR, Processing, allocating data cross correlation buffer!",
        "ERROR, Processing, allocating cross correlation gaussian buffer!",
        "ERROR, Processing, allocating return buffer!",
        "ERROR, Processing, allocating return buffer!",
        "ERROR, Processing, allocating MF buffer!",
        "ERROR, Processing, allocating MF buffer!",
        "ERROR, Processing, allocating Valid buffer!",
    };
    Setting s;
    s.samples = 1000;
    const auto w = test::synthWaveform(1000, 100, 0, {{300, 400, 2.5}}, nullptr);
    for (int failAt = 1; failAt <= 8; ++failAt) {
        SCOPED_TRACE(failAt);
        RecordingSink sink;
        WaveformProcessor p(root_, sink);
        FailingAllocator alloc{0, failAt};
        p.setAllocator(&FailingAllocator::allocate, &alloc);
        EXPECT_FALSE(
            p.configure(test::digitizerFor(s), test::processingFor(s), test::plainCalibration()));
        ASSERT_EQ(sink.messages().size(), 1u);
        EXPECT_EQ(sink.last(), messages[failAt - 1]);
        EXPECT_FALSE(p.ready());
        // The capacity follows N as soon as the interpolation buffer was obtained.
        EXPECT_EQ(p.capacity(), failAt == 1 ? 2400u : 4000u);

        double position = 5;
        std::uint16_t amplitude = 0;
        bool saturated = false, found = true;
        EXPECT_FALSE(p.matchedFilter(w.data(), position, amplitude, saturated, found));
        EXPECT_FALSE(found);
        EXPECT_EQ(position, 0.0);

        // A later allocation with the same N retries what is missing.
        p.setAllocator(nullptr, nullptr);
        EXPECT_TRUE(p.allocateBuffers());
        EXPECT_TRUE(p.matchedFilter(w.data(), position, amplitude, saturated, found));
        EXPECT_EQ(sink.messages().size(), 1u);
    }
}

TEST_F(ProcessorSetup, ReportFormatsIntoTheMessageBuffer) {
    WaveformProcessor p(root_, sink_);
    p.report("ERROR opening playback file: %s", "a.raw");
    EXPECT_EQ(sink_.last(), "ERROR opening playback file: a.raw");
    p.report("%s", std::string(300, 'x').c_str());
    EXPECT_EQ(sink_.last().size(), 300u); // never cut
}

} // namespace
} // namespace quarv
