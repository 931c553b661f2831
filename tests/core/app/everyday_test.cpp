// Everyday traps: an empty configuration root, file kinds, Windows-1252 header text, a shot
// without a return, save names, windows outside the record and the clutter filter on LAS.
#include "core/app/save_names.hpp"
#include "core/cloud/cloud_export.hpp"
#include "core/scan/pipeline_fixtures.hpp"
#include "core/scan/process_request.hpp"
#include "core/scanfile/windows1252.hpp"
#include "core/waveform/shot.hpp"

#include <gtest/gtest.h>

namespace quarv {
namespace {

TEST(Everyday, AnEmptyRootIsAFirstStartARootWithEitherFolderIsLeftAlone) {
    for (const char* existing : {"", "CFG", "CAL"}) {
        test::TempDir dir;
        ConfigRoot root(dir / "home");
        std::filesystem::create_directories(root.root() / existing);
        RecordingSink sink;
        ASSERT_TRUE(root.ensureCreated(sink));
        EXPECT_EQ(isRegularFile(root.pulseTemplatePath()), !*existing) << existing;
        EXPECT_EQ(isRegularFile(root.cfgFile("layers.lcfg")), !*existing) << existing;
    }
}

TEST(Everyday, FileKindByLasSignatureThenExtensionInAnyCase) {
    test::TempDir dir;
    test::writeBytes(dir / "survey.raw", {'L', 'A', 'S', 'F', 1, 2});
    test::writeBytes(dir / "scan.RAW", {'L', 'A', 'S', 0});
    EXPECT_EQ(requestForPath(dir / "survey.raw"), ProcessRequest::ImportLas);
    EXPECT_EQ(requestForPath(dir / "scan.RAW"), ProcessRequest::ProcessPlayback);
    EXPECT_EQ(requestForPath(dir / "x.LAS"), ProcessRequest::ImportLas);
    EXPECT_EQ(requestForPath(dir / "x.3DC"), ProcessRequest::ProcessCloudFile);
}

TEST(Everyday, Windows1252HeaderTextBecomesUtf8) {
    EXPECT_EQ(windows1252ToUtf8("Bj\xF8rn 12\xB0"
                                "C \x80\x81\x8A\x9F\xA0\xFF ~"),
              "Bj\u00F8rn 12\u00B0C \u20AC\u0081\u0160\u0178\u00A0\u00FF ~");
}

TEST(Everyday, AShotWithoutAReturnPrintsNullForThePeaksNumbers) {
    ShotResult r;
    r.snr = 3.698; // what an earlier waveform left behind
    r.horPos = 0.5;
    EXPECT_EQ(shotJson(r), "{\"found\":false,\"rawPeakIndex\":null,\"xcPeakIndex\":null,"
                           "\"quadPeak\":null,\"position\":null,\"range\":null,\"amplitude\":"
                           "null,\"saturated\":null,\"snr\":null,\"intensity\":null,"
                           "\"horPosRange\":0,\"horPos\":0.5,\"tempA\":0,\"tempB\":0,"
                           "\"searchStart\":0,\"searchEnd\":0,\"rawStart\":0,\"rawEnd\":0}");
}

TEST(Everyday, SaveNamesAreNeitherHiddenNorTheSource) {
    EXPECT_EQ(defaultSaveName("/data/.hidden.raw", ".las"), "/data/hidden.las");
    EXPECT_EQ(defaultSaveName("/data/.raw", ".xyz"), "/data/points.xyz");
    EXPECT_EQ(defaultSaveName("/data/in.las", ".las"), "/data/in_export.las");
}

TEST(Everyday, AWindowOutsideTheRecordIsClampedAndSaidOncePerRun) {
    const struct {
        float rangeMin, rangeMax;
        const char* message; // null: nothing said
    } cases[] = {
        {0.5f, 1000.0f,
         "WARNING, Processing, range window end clamped to 11.19 m, the end of the record"},
        {-1000.0f, 30.0f,
         "WARNING, Processing, range window start clamped to 0 m, the start of the record"},
        {0.5f, 30.0f, nullptr},
    };
    for (const auto& c : cases) {
        test::Engine e;
        test::RecordingSpec spec; // 16 x 6 pulses at 5 m; the 400 samples reach 11.19 m
        ASSERT_TRUE(test::writeRecording(e.path("w.raw"), spec));
        e.store->layer(0).rangeMin = c.rangeMin;
        e.store->layer(0).rangeMax = c.rangeMax;
        ASSERT_TRUE(e.process(e.path("w.raw"), 0));
        EXPECT_EQ(e.store->countVisible(0, true), 96u) << c.rangeMax;
        EXPECT_EQ(e.sink.messages(),
                  c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
    }
}

TEST(Everyday, TheClutterFilterLeavesALasLayerAsItIsAndSaysSo) {
    test::Engine e;
    ASSERT_TRUE(test::writeRecording(e.path("w.raw"), test::RecordingSpec{}));
    ASSERT_TRUE(e.process(e.path("w.raw"), 0));
    ASSERT_TRUE(exportLas(*e.store, e.path("w.las"), e.sink));
    e.store->layer(1).neighbourFilter = 1;
    ASSERT_TRUE(e.process(e.path("w.las"), 1));
    e.session->requestFilter();
    ASSERT_TRUE(e.session->waitUntilIdle(std::chrono::seconds(10)));
    EXPECT_EQ(e.store->countVisible(1, true), 96u);
    EXPECT_EQ(e.sink.messages(),
              std::vector<std::string>{"WARNING, Processing, clutter filter needs scan lines, "
                                       "layer left as it is: " +
                                       e.path("w.las").string()});
}

} // namespace
} // namespace quarv
