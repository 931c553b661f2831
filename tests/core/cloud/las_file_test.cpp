#include "core/cloud/las_file.hpp"

#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_export.hpp"
#include "core/cloud/cloud_renderer.hpp"
#include "core/cloud/cloud_test_util.hpp"
#include "core/config/bytes.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <csignal>
#include <cstring>
#include <ctime>
#include <functional>
#include <limits>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace quarv {
namespace {

using test::addPoint;

std::string text(const std::vector<std::uint8_t>& b, std::size_t at, std::size_t width) {
    return std::string(reinterpret_cast<const char*>(b.data() + at), width);
}
std::string padded(const std::string& s, std::size_t width) {
    return s + std::string(width - s.size(), '\0');
}

TEST(LasFile, EmptyExportIsAHeaderProjectionRecordAndStartValueExtent) {
    test::TempDir dir;
    CloudStore store;
    RecordingSink sink;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    ASSERT_TRUE(exportLas(store, dir / "empty.las", sink));
    const auto b = test::readBytes(dir / "empty.las");
    ASSERT_EQ(b.size(), 297u);
    EXPECT_TRUE(sink.messages().empty());

    const std::uint8_t* h = b.data();
    EXPECT_EQ(text(b, 0, 4), "LASF");
    EXPECT_EQ(le::u16(h + 4), 0);
    EXPECT_EQ(le::u16(h + 6), 2);
    EXPECT_EQ(le::u32(h + 8), 3u);
    EXPECT_EQ(le::u16(h + 12), 13);
    EXPECT_EQ(le::u16(h + 14), 0);
    EXPECT_EQ(text(b, 16, 8), padded("data", 8));
    EXPECT_EQ(h[24], 1);
    EXPECT_EQ(h[25], 3);
    EXPECT_EQ(text(b, 26, 32), padded("Vornsketh Sensor Data", 32));
    EXPECT_EQ(text(b, 58, 32), padded("Vornsketh quarv v5.0", 32));
    EXPECT_EQ(le::u16(h + 90), local.tm_yday + 1);
    EXPECT_EQ(le::u16(h + 92), local.tm_year + 1900); // four digits
    EXPECT_EQ(le::u16(h + 94), 227);
    EXPECT_EQ(le::u32(h + 96), 297u);
    EXPECT_EQ(le::u32(h + 100), 1u);
    EXPECT_EQ(h[104], 0);
    EXPECT_EQ(le::u16(h + 105), 20);
    EXPECT_EQ(le::u32(h + 107), 0u);
    const std::uint32_t byReturn[5] = {1, 0, 0, 0, 0};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(le::u32(h + 111 + 4 * i), byReturn[i]);
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_EQ(le::f64(h + 131 + 8 * axis), 9.999999747378752e-6);
        EXPECT_EQ(le::f64(h + 155 + 8 * axis), 0.0);
    }
    for (int i = 0; i < 6; ++i) { // max X, min X, max Y, min Y, max Z, min Z
        EXPECT_EQ(le::f64(h + 179 + 8 * i), i % 2 == 0 ? -9000000159744.0 : 9000000159744.0);
    }
    // Projection record: header, then a key directory 1.1.0 with one all-zero key.
    const std::uint8_t* v = h + 227;
    EXPECT_EQ(le::u16(v), 0);
    EXPECT_EQ(text(b, 229, 16), padded("LASF_Projection", 16));
    EXPECT_EQ(le::u16(v + 18), 34735);
    EXPECT_EQ(le::u16(v + 20), 16);
    EXPECT_EQ(text(b, 249, 32), padded("LASF Header", 32));
    const std::uint16_t keys[8] = {1, 1, 0, 1, 0, 0, 0, 0};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(le::u16(v + 54 + 2 * i), keys[i]);
}

TEST(LasFile, PointRecordFieldsAsWritten) {
    struct Case {
        float x, amplitude;
        std::int32_t X;
        std::uint16_t intensity;
    };
    const Case cases[] = {
        {1.0f, 437.5f, 100000, 32767},  // 100000.0025 + 0.5, truncated; 32767.5 truncated
        {-1.0f, 875.0f, -99999, 65535}, // -100000.0025 + 0.5 truncates toward zero
        {0.0f, 900.0f, 0, 65535},
        {0.25f, 0.0f, 25000, 0},
        {-0.000004f, 874.99f, 0, 65534},
        {1e6f, -1.0f, std::numeric_limits<std::int32_t>::max(), 65462}, // clamp; -74.9 wraps
    };
    test::TempDir dir;
    LasFile las;
    ASSERT_TRUE(las.create(dir / "p.las", CloudBounds{}));
    las.setIntensityScale();
    EXPECT_DOUBLE_EQ(las.intensityScale(), 65535.0 / 875.0);
    for (const Case& c : cases) {
        ASSERT_TRUE(las.writePoint(c.x, -c.x, 2.0 * c.x, c.amplitude, false, 1.0, 1.0));
    }
    ASSERT_TRUE(las.writePoint(0, 0, 0, 0, true, -3.0, 200.0)); // edge, other angle and data
    ASSERT_TRUE(las.close());
    const auto b = test::readBytes(dir / "p.las");
    ASSERT_EQ(b.size(), 297u + 20u * (std::size(cases) + 1));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::uint8_t* r = b.data() + 297 + 20 * i;
        EXPECT_EQ(le::i32(r), cases[i].X) << "x " << cases[i].x;
        EXPECT_EQ(le::u16(r + 12), cases[i].intensity) << "amplitude " << cases[i].amplitude;
        EXPECT_EQ(r[14], 0x49);
        EXPECT_EQ(r[15], 0);
        EXPECT_EQ(r[16], 1); // 1.0 + 0.5 truncated
        EXPECT_EQ(r[17], 1);
        EXPECT_EQ(le::u16(r + 18), 1);
    }
    const std::uint8_t* last = b.data() + 297 + 20 * std::size(cases);
    EXPECT_EQ(le::i32(last + 4), 0);
    EXPECT_EQ(last[14], 0xC9);
    EXPECT_EQ(last[16], 0xFE); // -2.5 truncates to -2
    EXPECT_EQ(last[17], 200);
}

TEST(LasFile, IntensityRule) {
    const double s = 65535.0 / 875.0;
    EXPECT_EQ(lasIntensity(437.5f, s), 32767);
    EXPECT_EQ(lasIntensity(875.0f, s), 65535);
    EXPECT_EQ(lasIntensity(1e30f, s), 65535);
    EXPECT_EQ(lasIntensity(std::numeric_limits<float>::quiet_NaN(), s), 0);
    EXPECT_EQ(lasIntensity(100.0f, 1000.0), 65535); // above 65535 after scaling saturates too
    EXPECT_EQ(lasIntensity(100.0f, 0.0), 0);        // no intensity scale set
}

TEST(LasFile, OwnFileReadsBackAsWritten) {
    test::TempDir dir;
    CloudStore store;
    store.setCurrentLayer(3);
    addPoint(store, 3, {.x = 1.5f, .y = -2.25f, .z = 0.125f, .amplitude = 875.0f});
    addPoint(store, 3, {.x = 9.0f, .y = 9.0f, .z = 9.0f, .valid = false});
    store.setCurrentLayer(1);
    addPoint(store, 1, {.x = -0.5f, .y = 3.0f, .z = -7.75f, .amplitude = 437.5f});
    addPoint(store, 1, {.x = 12.34567f, .y = -0.00001f, .z = 20.0f, .amplitude = 10.0f});
    NullSink quiet;
    ASSERT_TRUE(exportLas(store, dir / "own.las", quiet));

    LasFile las;
    RecordingSink sink;
    ASSERT_TRUE(las.openRead(dir / "own.las", sink));
    EXPECT_TRUE(sink.messages().empty());
    EXPECT_EQ(las.pointRecordCount(), 3u);
    const LasHeaderInfo& info = las.info();
    EXPECT_EQ(info.maxX, 12.34567f);
    EXPECT_EQ(info.minX, -0.5f);
    EXPECT_EQ(info.minZ, -7.75f);
    EXPECT_EQ(info.maxZ, 20.0f);

    // Layer 1 before layer 3; the hidden point is not exported.
    const CloudPoint expected[] = {store.point(1, 0), store.point(1, 1), store.point(3, 0)};
    for (const CloudPoint& e : expected) {
        CloudPoint p;
        p.sequence = 77; // cleared by the read
        ASSERT_TRUE(las.readPoint(p));
        // X = x / s + 0.5 truncated, read back as X x s with the writer's own scale.
        auto q = [](float v) {
            const auto X = static_cast<std::int32_t>(v / 9.999999747378752e-6 + 0.5);
            return static_cast<float>(X * 9.999999747378752e-6);
        };
        EXPECT_EQ(p.x, q(e.x));
        EXPECT_EQ(p.y, q(e.y));
        EXPECT_EQ(p.z, q(e.z));
        // 10 um steps; adding 0.5 before truncating toward zero costs negatives up to 1.5 steps.
        EXPECT_NEAR(p.x, e.x, 1.5e-5);
        const std::uint16_t intensity = lasIntensity(e.amplitude, 65535.0 / 875.0);
        EXPECT_EQ(p.snr, static_cast<float>(intensity));
        EXPECT_EQ(p.amplitude, static_cast<float>(intensity / 65535.0 * 875.0));
        EXPECT_EQ(p.saturated, e.amplitude >= 875.0f ? 1 : 0);
        EXPECT_EQ(p.valid, 1);
        EXPECT_EQ(p.azimuth, static_cast<float>(257 / 1485.0));
        EXPECT_EQ(p.elevation, static_cast<float>(1 / 1485.0));
        EXPECT_EQ(p.range, 0.0f);
        EXPECT_EQ(p.sequence, 0u);
    }
    CloudPoint extra;
    EXPECT_FALSE(las.readPoint(extra));
    EXPECT_TRUE(las.close());
}

// A LAS file as another tool would write it: any version, format, record length, scale, offset
// and variable length records.
struct ForeignLas {
    unsigned minor = 2;
    unsigned format = 3;
    std::uint16_t headerSize = 227;
    std::uint16_t recordLength = 34;
    std::vector<std::uint8_t> vlrs;    // bytes between header and point data
    std::vector<std::uint8_t> padding; // bytes after the records' declared start
    double scale[3] = {0.01, 0.01, 0.001};
    double offset[3] = {100.0, -200.0, 5.0};
    struct Point {
        std::int32_t X, Y, Z;
        std::uint16_t intensity;
        std::uint8_t scanRank = 0, userData = 0;
        std::uint16_t source = 0;
    };
    std::vector<Point> points;
    std::uint32_t legacyCount = 0xFFFFFFFF; // default: the number of points
    std::uint64_t wideCount = 0xFFFFFFFFFFFFFFFF;

    std::vector<std::uint8_t> bytes() const {
        std::vector<std::uint8_t> b(headerSize, 0);
        std::memcpy(b.data(), "LASF", 4);
        b[24] = 1;
        b[25] = static_cast<std::uint8_t>(minor);
        le::store<std::uint16_t>(b.data() + 94, headerSize);
        const auto offsetToPoints =
            static_cast<std::uint32_t>(headerSize + vlrs.size() + padding.size());
        le::store<std::uint32_t>(b.data() + 96, offsetToPoints);
        b[104] = static_cast<std::uint8_t>(format);
        le::store<std::uint16_t>(b.data() + 105, recordLength);
        const std::uint32_t legacy =
            legacyCount == 0xFFFFFFFF ? static_cast<std::uint32_t>(points.size()) : legacyCount;
        le::store<std::uint32_t>(b.data() + 107, legacy);
        for (int a = 0; a < 3; ++a) {
            le::store<double>(b.data() + 131 + 8 * a, scale[a]);
            le::store<double>(b.data() + 155 + 8 * a, offset[a]);
        }
        if (headerSize >= 375) {
            le::store<std::uint64_t>(b.data() + 247,
                                     wideCount == 0xFFFFFFFFFFFFFFFF ? points.size() : wideCount);
        }
        b.insert(b.end(), vlrs.begin(), vlrs.end());
        b.insert(b.end(), padding.begin(), padding.end());
        for (const Point& p : points) {
            std::vector<std::uint8_t> r(recordLength, 0xEE); // unread fields hold noise
            le::store<std::int32_t>(r.data(), p.X);
            le::store<std::int32_t>(r.data() + 4, p.Y);
            le::store<std::int32_t>(r.data() + 8, p.Z);
            le::store<std::uint16_t>(r.data() + 12, p.intensity);
            if (format >= 6) {
                r[17] = p.userData;
                le::store<std::int16_t>(r.data() + 18, static_cast<std::int16_t>(p.scanRank));
                le::store<std::uint16_t>(r.data() + 20, p.source);
            } else {
                r[16] = p.scanRank;
                r[17] = p.userData;
                le::store<std::uint16_t>(r.data() + 18, p.source);
            }
            b.insert(b.end(), r.begin(), r.end());
        }
        return b;
    }
};

void expectForeignPoints(const ForeignLas& f, const std::filesystem::path& file) {
    LasFile las;
    RecordingSink sink;
    ASSERT_TRUE(las.openRead(file, sink)) << sink.last();
    ASSERT_EQ(las.pointRecordCount(), f.points.size());
    for (const ForeignLas::Point& e : f.points) {
        CloudPoint p;
        ASSERT_TRUE(las.readPoint(p));
        EXPECT_EQ(p.x, static_cast<float>(e.X * f.scale[0] + f.offset[0]));
        EXPECT_EQ(p.y, static_cast<float>(e.Y * f.scale[1] + f.offset[1]));
        EXPECT_EQ(p.z, static_cast<float>(e.Z * f.scale[2] + f.offset[2]));
        EXPECT_EQ(p.snr, static_cast<float>(e.intensity));
        EXPECT_EQ(p.azimuth, static_cast<float>(
                                 static_cast<std::int16_t>(e.scanRank | e.userData << 8) / 1485.0));
        EXPECT_EQ(p.elevation, static_cast<float>(static_cast<std::int16_t>(e.source) / 1485.0));
    }
    CloudPoint p;
    EXPECT_FALSE(las.readPoint(p));
}

// n records with coordinates spread over the i32 range, intensities spread over their range with
// the saturated one and the one below it frequent, and angle words that change every record in
// places and rarely elsewhere.
ForeignLas foreignWithPoints(unsigned minor, unsigned format, std::uint16_t recordLength,
                             std::size_t n) {
    ForeignLas f;
    f.minor = minor;
    f.format = format;
    f.recordLength = recordLength;
    if (minor == 4) f.headerSize = 375, f.legacyCount = 0;
    f.scale[0] = 0.0025, f.scale[1] = -0.01, f.scale[2] = 1e-7;
    f.offset[0] = -50.0, f.offset[1] = 1000.0, f.offset[2] = -0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto k = static_cast<std::int64_t>(i);
        const auto w = static_cast<std::uint8_t>(i < 1000 ? i : i / 4096);
        f.points.push_back({static_cast<std::int32_t>((k * 2654435761) % 4294967291 - 2147483645),
                            static_cast<std::int32_t>(k % 3 == 0 ? 0 : 1000 - k),
                            static_cast<std::int32_t>(k * 977),
                            static_cast<std::uint16_t>(i % 7 == 0   ? 65535
                                                       : i % 7 == 1 ? 65534
                                                                    : i * 37 % 65536),
                            w, static_cast<std::uint8_t>(255 - w),
                            static_cast<std::uint16_t>(i % 5000 == 0 ? 0x8001 : i / 3000)});
    }
    return f;
}

TEST(LasFile, ForeignVersion12Format3WithOffsetsAndPadding) {
    ForeignLas f;
    f.padding = {0xDD, 0xCC}; // the start-of-data pad some writers add
    f.points = {{12345, -6789, 4321, 1000, 1, 2, 3},
                {-100000, 250000, -5000, 65535, 0, 0, 0},
                {0, 0, 0, 0, 0xFF, 0xFF, 0xFFFF}};
    test::TempDir dir;
    test::writeBytes(dir / "v12.las", f.bytes());
    expectForeignPoints(f, dir / "v12.las");
    // 12345 x 0.01 + 100 = 223.45 in the file's own frame.
    LasFile las;
    NullSink quiet;
    ASSERT_TRUE(las.openRead(dir / "v12.las", quiet));
    CloudPoint p;
    ASSERT_TRUE(las.readPoint(p));
    EXPECT_FLOAT_EQ(p.x, 223.45f);
    EXPECT_FLOAT_EQ(p.y, -267.89f);
    EXPECT_FLOAT_EQ(p.z, 9.321f);

    // The same object writing afterwards quantises at our own 10 um, as its header says.
    ASSERT_TRUE(las.create(dir / "ours.las", CloudBounds{}));
    las.setIntensityScale();
    ASSERT_TRUE(las.writePoint(1.0, -1.0, 0.25, 0.0f, false, 1.0, 1.0));
    ASSERT_TRUE(las.close());
    const auto b = test::readBytes(dir / "ours.las");
    ASSERT_EQ(b.size(), 317u);
    EXPECT_EQ(le::i32(b.data() + 297), 100000);
    EXPECT_EQ(le::i32(b.data() + 301), -99999);
    EXPECT_EQ(le::i32(b.data() + 305), 25000);
}

TEST(LasFile, ForeignVersion14Format6WithVariableRecordsAndExtraBytes) {
    ForeignLas f;
    f.minor = 4;
    f.format = 6;
    f.headerSize = 375;
    f.recordLength = 30 + 4; // four extra bytes per record
    f.legacyCount = 0;       // formats 6-10 carry the count only in the 64-bit field
    f.scale[0] = f.scale[1] = f.scale[2] = 0.0025;
    f.offset[0] = -50.0;
    f.offset[1] = 1000.0;
    f.offset[2] = 0.0;
    f.vlrs.assign(54 + 40, 0x11);
    f.points = {{400, 800, -1200, 500, 7, 3, 9}, {-2000000, 0, 1, 12, 0, 0, 40000}};
    test::TempDir dir;
    test::writeBytes(dir / "v14.las", f.bytes());
    expectForeignPoints(f, dir / "v14.las");
}

TEST(LasFile, HostileHeadersAreRefusedWithAMessageAndNothingRead) {
    struct Case {
        const char* name;
        std::function<void(ForeignLas&, std::vector<std::uint8_t>&)> spoil;
        const char* message;
    };
    const Case cases[] = {
        {"signature", [](ForeignLas&, auto& b) { b[0] = 'X'; }, "not a LAS file"},
        {"short file", [](ForeignLas&, auto& b) { b.resize(200); }, "not a LAS file"},
        {"empty file", [](ForeignLas&, auto& b) { b.clear(); }, "not a LAS file"},
        {"version 2.0", [](ForeignLas&, auto& b) { b[24] = 2, b[25] = 0; },
         "unsupported version 2.0"},
        {"version 1.5", [](ForeignLas&, auto& b) { b[25] = 5; }, "unsupported version 1.5"},
        {"format 11", [](ForeignLas&, auto& b) { b[104] = 11; }, "unsupported point format 11"},
        {"compressed", [](ForeignLas&, auto& b) { b[104] = 0x83; }, "compressed point data"},
        {"record too short",
         [](ForeignLas&, auto& b) { le::store<std::uint16_t>(b.data() + 105, 33); },
         "point record length 33 too short for format 3"},
        {"header size small",
         [](ForeignLas&, auto& b) { le::store<std::uint16_t>(b.data() + 94, 100); },
         "header does not match the file size"},
        {"offset past end",
         [](ForeignLas&, auto& b) { le::store<std::uint32_t>(b.data() + 96, 1000000); },
         "header does not match the file size"},
        {"offset inside header",
         [](ForeignLas&, auto& b) { le::store<std::uint32_t>(b.data() + 96, 100); },
         "header does not match the file size"},
        {"count past end",
         [](ForeignLas&, auto& b) { le::store<std::uint32_t>(b.data() + 107, 4); },
         "header does not match the file size"},
        {"count x length overflows",
         [](ForeignLas&, auto& b) {
             le::store<std::uint32_t>(b.data() + 107, 0xFFFFFFFFu);
             le::store<std::uint16_t>(b.data() + 105, 0xFFFF);
         },
         "header does not match the file size"},
        {"records cut short", [](ForeignLas&, auto& b) { b.pop_back(); },
         "header does not match the file size"},
        {"zero scale", [](ForeignLas&, auto& b) { le::store<double>(b.data() + 139, 0.0); },
         "invalid scale or offset"},
        {"NaN offset",
         [](ForeignLas&, auto& b) { le::store<double>(b.data() + 171, std::nan("")); },
         "invalid scale or offset"},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        ForeignLas f;
        f.points = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}};
        auto bytes = f.bytes();
        c.spoil(f, bytes);
        const auto file = dir / "bad.las";
        test::writeBytes(file, bytes);
        LasFile las;
        RecordingSink sink;
        EXPECT_FALSE(las.openRead(file, sink)) << c.name;
        ASSERT_EQ(sink.messages().size(), 1u) << c.name;
        EXPECT_EQ(sink.last(),
                  std::string("ERROR: Loading LAS file, ") + c.message + ": " + file.string())
            << c.name;
        CloudPoint p;
        EXPECT_FALSE(las.readPoint(p)) << c.name;
        CloudStore store;
        EXPECT_EQ(fillLayerFromLas(las, store, 0), 0u) << c.name;
    }
}

TEST(LasFile, HugeWideCountIsRefusedWithoutOverflow) {
    ForeignLas f = foreignWithPoints(4, 6, 32, 1);
    // (2^59 + 1) x 32 wraps a 64-bit product to 32: exactly the one record the file holds.
    f.wideCount = (std::uint64_t{1} << 59) + 1;
    test::TempDir dir;
    test::writeBytes(dir / "huge.las", f.bytes());
    LasFile las;
    RecordingSink sink;
    EXPECT_FALSE(las.openRead(dir / "huge.las", sink));
    EXPECT_NE(sink.last().find("header does not match the file size"), std::string::npos);
}

TEST(LasFile, MissingFileFailsQuietly) {
    test::TempDir dir;
    LasFile las;
    RecordingSink sink;
    EXPECT_FALSE(las.openRead(dir / "absent.las", sink));
    EXPECT_TRUE(sink.messages().empty());
    EXPECT_FALSE(las.openRead(dir.path(), sink)); // a folder is not a LAS file
    EXPECT_EQ(sink.messages().size(), 1u);
    EXPECT_FALSE(las.writePoint(0, 0, 0, 0, false, 1, 1)); // nothing open for writing
}

TEST(LasFile, FailedExportLeavesTheExistingFileUntouched) {
    test::TempDir dir;
    const auto file = dir / "keep.las";
    const std::vector<std::uint8_t> old{'o', 'l', 'd'};
    test::writeBytes(file, old);
    CloudStore store;
    store.setCurrentLayer(0);
    for (int i = 0; i < 40000; ++i) addPoint(store, 0, {.x = static_cast<float>(i)});

    // The file system refuses anything past 8 KB: the export (297 + 800000 bytes, several chunks
    // for the encoding threads) fails mid-way.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 8192;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    RecordingSink sink;
    const bool lasOk = exportLas(store, file, sink);
    const bool xyzOk = exportXyz(store, file, sink);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(lasOk);
    EXPECT_FALSE(xyzOk);
    EXPECT_EQ(test::readBytes(file), old);
    const std::vector<std::string> expected{"ERROR writing LAS file: " + file.string(),
                                            "ERROR writing XYZ file: " + file.string()};
    EXPECT_EQ(sink.messages(), expected);
    int files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 1); // no temporary left behind

    EXPECT_FALSE(exportLas(store, dir / "no-such-folder" / "x.las", sink));
    EXPECT_EQ(sink.messages().size(), 3u);
}

// Exports the store and writes the same visible points one by one with writePoint, the header
// from CloudBounds::add over them; the two files must be the same bytes.
void expectExportIsThatOfThePointByPointWriter(const CloudStore& store, std::uint32_t visible) {
    test::TempDir dir;
    NullSink quiet;
    ASSERT_TRUE(exportLas(store, dir / "bulk.las", quiet));

    LasFile ref;
    ASSERT_TRUE(ref.create(dir / "ref.las", CloudBounds{}));
    ref.setIntensityScale();
    CloudBounds bounds;
    store.forEachVisible([&](std::uint32_t, const CloudPoint& p) {
        bounds.add(p);
        ASSERT_TRUE(ref.writePoint(p.x, p.y, p.z, p.amplitude, false, 1.0, 1.0));
    });
    ASSERT_TRUE(ref.updateHeader(bounds));
    ASSERT_TRUE(ref.close());

    const auto bulk = test::readBytes(dir / "bulk.las");
    ASSERT_EQ(bulk.size(), 297u + 20u * visible);
    EXPECT_EQ(le::u32(bulk.data() + 107), visible);
    EXPECT_TRUE(bulk == test::readBytes(dir / "ref.las"));
}

TEST(LasFile, ExportBytesAreThoseOfThePointByPointWriter) {
    // Enough points for many encoding blocks and chunks (both encoding threads), in two layers
    // around one not in use, with hidden points and the edge values of the quantisation and of
    // the intensity rule among them.
    const float inf = std::numeric_limits<float>::infinity(), nan = std::nanf("");
    const float edges[] = {0.0f,        -0.0f,        1e6f,       -1e6f,       nan,
                           inf,         -inf,         21474.836f, -21474.836f, 1e-7f,
                           -0.000004f,  0.000005f,    -0.000015f, 2147483.5f,  -2147483.5f,
                           2147483.75f, -2147483.75f, 3e6f,       -3e6f};
    const float amplitudes[] = {0.0f,  437.5f, 875.0f, 900.0f, -1.0f,  nan,     874.99f,
                                1e30f, -1e30f, -inf,   -3e-5f, 1e-30f, 32767.0f};
    CloudStore store;
    std::uint32_t visible = 0;
    for (const std::uint32_t l : {2u, 1u, 0u}) {
        store.setCurrentLayer(l);
        for (int i = 0; i < 16000; ++i) {
            const float e = edges[i % std::size(edges)];
            const bool edge = i % 5 == 0;
            const auto f = static_cast<float>(i);
            const bool valid = i % 11 != 0;
            addPoint(
                store, l,
                {.x = edge ? e : 0.37f * f - 3000.0f,
                 .y = edge ? -e : 1e-3f * f,
                 .z = edge ? 2.0f * e : -f,
                 .amplitude = amplitudes[i % std::size(amplitudes)] + (edge ? 0.0f : 1e-3f * f),
                 .valid = valid});
            if (valid && l != 1) ++visible;
        }
    }
    store.layer(1).inUse = 0;
    expectExportIsThatOfThePointByPointWriter(store, visible);
}

TEST(LasFile, ExportExtentOfSignedZerosIsThatOfTheFirstPointMet) {
    // All coordinates are zeros of both signs, the sign changing between the chunks the two
    // threads encode: the extent in the header keeps the zero met first, as one pass over the
    // points keeps it, whichever thread finished first.
    CloudStore store;
    store.setCurrentLayer(0);
    constexpr int kPoints = 60000;
    for (int i = 0; i < kPoints; ++i) {
        const float zero = (i / 7000) % 2 == 0 ? 0.0f : -0.0f;
        addPoint(store, 0, {.x = zero, .y = -zero, .z = i < 100 ? -0.0f : 0.0f});
    }
    expectExportIsThatOfThePointByPointWriter(store, kPoints);
}

// The import as it runs one record at a time: readPoint and the pipeline's calls per point.
std::uint64_t fillOneByOne(LasFile& las, CloudStore& store, std::uint32_t l) {
    std::uint64_t read = 0;
    while (read < las.pointRecordCount()) {
        CloudPoint& slot = store.nextSlot(l);
        if (!las.readPoint(slot)) break;
        const double x = slot.x, y = slot.y, z = slot.z;
        slot.range = static_cast<float>(std::sqrt(x * x + y * y + z * z));
        slot.valid = 1;
        store.addStatistics(l, slot.saturated != 0, slot.range, slot.amplitude, slot.snr, slot);
        store.commit(l);
        ++read;
    }
    return read;
}

// Same points bit for bit (slots up to and including the one after the count: a full layer's
// last slot) and the same statistics bit for bit.
void expectSameLayer(const CloudStore& a, const CloudStore& b, std::uint32_t l) {
    const std::uint32_t n = a.pointCount(l);
    ASSERT_EQ(n, b.pointCount(l));
    auto bits = [](float v) { return std::bit_cast<std::uint32_t>(v); };
    for (std::uint32_t i = 0; i <= n && i < LAYER_CAPACITY; ++i) {
        const CloudPoint &p = a.point(l, i), &q = b.point(l, i);
        auto fields = [](const CloudPoint& c) {
            return std::array{c.x,     c.y,         c.z,   c.azimuth,     c.elevation,
                              c.range, c.amplitude, c.snr, c.peakPosition};
        };
        const auto pf = fields(p), qf = fields(q);
        for (std::size_t f = 0; f < pf.size(); ++f)
            ASSERT_EQ(bits(pf[f]), bits(qf[f])) << "slot " << i << " field " << f;
        ASSERT_EQ(p.color, q.color) << i;
        ASSERT_EQ(p.saturated, q.saturated) << i;
        ASSERT_EQ(p.valid, q.valid) << i;
        ASSERT_EQ(p.sequence, q.sequence) << i;
        ASSERT_EQ(p.line, q.line) << i;
    }
    const PointLayer &r = a.layer(l), &s = b.layer(l);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(r.sumX), std::bit_cast<std::uint64_t>(s.sumX));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(r.sumY), std::bit_cast<std::uint64_t>(s.sumY));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(r.sumZ), std::bit_cast<std::uint64_t>(s.sumZ));
    auto extent = [](const PointLayer& x) {
        return std::array{x.minX, x.maxX, x.minY,         x.maxY,
                          x.minZ, x.maxZ, x.rangeSeenMin, x.rangeSeenMax};
    };
    const auto rs = extent(r), ss = extent(s);
    for (std::size_t f = 0; f < rs.size(); ++f) EXPECT_EQ(bits(rs[f]), bits(ss[f])) << f;
}

TEST(LasFile, ImportGivesThePointsAndStatisticsOfTheOneByOneImport) {
    struct Case {
        const char* name;
        unsigned minor, format;
        std::uint16_t recordLength;
        std::size_t points;
        std::size_t readFirst;   // records taken with readPoint before the import
        std::uint32_t prefilled; // points already in the layer
    };
    constexpr std::uint32_t kNearlyFull = CloudStore::MAX_LAYER_POINTS - 5;
    const Case cases[] = {
        {"format 3, several chunks", 2, 3, 34, 40000, 0, 0},
        {"format 6 with extra bytes", 4, 6, 34, 40000, 0, 0},
        {"format 0", 0, 0, 20, 70000, 0, 0},
        {"after records read one by one", 2, 1, 28, 30000, 3, 0},
        {"past the last countable slot", 2, 3, 34, 20, 0, kNearlyFull},
    };
    test::TempDir dir;
    NullSink quiet;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ForeignLas f = foreignWithPoints(c.minor, c.format, c.recordLength, c.points);
        test::writeBytes(dir / "in.las", f.bytes());
        auto bulk = std::make_unique<CloudStore>(), ref = std::make_unique<CloudStore>();
        LasFile a, b;
        ASSERT_TRUE(a.openRead(dir / "in.las", quiet));
        ASSERT_TRUE(b.openRead(dir / "in.las", quiet));
        for (CloudStore* s : {bulk.get(), ref.get()}) {
            s->setCurrentLayer(3);
            s->commit(3, c.prefilled);
        }
        for (std::size_t i = 0; i < c.readFirst; ++i) {
            CloudPoint p, q;
            ASSERT_TRUE(a.readPoint(p));
            ASSERT_TRUE(b.readPoint(q));
        }
        const std::uint64_t expected = c.points - c.readFirst;
        EXPECT_EQ(fillLayerFromLas(a, *bulk, 3), expected);
        EXPECT_EQ(fillOneByOne(b, *ref, 3), expected);
        EXPECT_EQ(bulk->pointCount(3),
                  std::min<std::uint64_t>(c.prefilled + expected, CloudStore::MAX_LAYER_POINTS));
        expectSameLayer(*bulk, *ref, 3);
        CloudPoint p;
        EXPECT_FALSE(a.readPoint(p));
    }
}

TEST(LasFile, ImportOfAFileThatShrankEndsAtItsLastCompleteRecord) {
    struct Case {
        const char* name;
        std::size_t records;   // complete records left
        std::size_t partBytes; // bytes of the next record left
        bool exact;            // false: the stream had read past the cut when the header was read
    };
    const Case cases[] = {
        {"inside the first chunk, mid-record", 500, 7, true},
        {"in a later chunk, mid-record", 25000, 33, true},
        {"on a record boundary", 30000, 0, true},
        {"before the first record", 0, 5, false},
    };
    const ForeignLas f = foreignWithPoints(2, 3, 34, 40000);
    test::TempDir dir;
    NullSink quiet;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = dir / "shrinks.las";
        test::writeBytes(file, f.bytes());
        LasFile a, b;
        ASSERT_TRUE(a.openRead(file, quiet));
        ASSERT_TRUE(b.openRead(file, quiet));
        std::filesystem::resize_file(file, a.info().offsetToPoints + c.records * 34 + c.partBytes);
        auto bulk = std::make_unique<CloudStore>(), ref = std::make_unique<CloudStore>();
        bulk->setCurrentLayer(0);
        ref->setCurrentLayer(0);
        const std::uint64_t read = fillLayerFromLas(a, *bulk, 0);
        EXPECT_EQ(read, fillOneByOne(b, *ref, 0));
        if (c.exact) {
            EXPECT_EQ(read, c.records);
        }
        EXPECT_LT(read, f.points.size());
        expectSameLayer(*bulk, *ref, 0);
        CloudPoint p;
        EXPECT_FALSE(a.readPoint(p)); // the end stays the end
    }
}

TEST(LasFileConcurrency, ReadersSeeOnlyCompletePointsWhileAnImportFills) {
    const ForeignLas f = foreignWithPoints(2, 3, 34, 60000);
    test::TempDir dir;
    test::writeBytes(dir / "in.las", f.bytes());
    auto store = std::make_unique<CloudStore>();
    store->setCurrentLayer(2);
    LasFile las;
    NullSink quiet;
    ASSERT_TRUE(las.openRead(dir / "in.las", quiet));
    std::atomic<bool> done{false};
    std::uint64_t imported = 0;
    std::thread filler([&] {
        imported = fillLayerFromLas(las, *store, 2);
        done.store(true);
    });
    // Every point a reader gets is whole: its fields agree with each other and with its record.
    std::uint32_t seen = 0;
    bool whole = true;
    for (bool last = false; !last;) {
        last = done.load(); // a last pass after the import has returned sees every point
        seen = 0;
        store->forEachVisible([&](std::uint32_t, const CloudPoint& p) {
            const ForeignLas::Point& e = f.points[seen++];
            whole = whole && p.snr == static_cast<float>(e.intensity) &&
                    p.x == static_cast<float>(e.X * f.scale[0] + f.offset[0]) &&
                    p.z == static_cast<float>(e.Z * f.scale[2] + f.offset[2]) &&
                    p.amplitude == static_cast<float>(e.intensity / 65535.0 * 875.0) &&
                    p.saturated == (e.intensity == 65535 ? 1 : 0);
        });
    }
    filler.join();
    EXPECT_TRUE(whole);
    EXPECT_EQ(imported, 60000u);
    EXPECT_EQ(seen, 60000u);
}

} // namespace
} // namespace quarv
