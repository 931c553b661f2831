#include "core/cloud/las_file.hpp"

#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_export.hpp"
#include "core/cloud/cloud_test_util.hpp"
#include "core/config/bytes.hpp"
#include "support/golden.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <ctime>
#include <functional>
#include <limits>
#include <sstream>
#include <thread>

namespace quarv {
namespace {

using test::addPoint;

void hexLines(std::ostream& out, const std::uint8_t* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        char h[4];
        std::snprintf(h, sizeof h, "%02x", b[i]);
        out << h << (i % 20 == 19 || i + 1 == n ? "\n" : " ");
    }
}

// Our header (for given bounds and date) and projection record, records as writePoint writes them
// at the edges of quantisation and intensity, the intensity rule, and our export read back.
TEST(LasFile, OwnFormatTranscript) {
    std::ostringstream out;
    out.precision(9);
    CloudBounds bounds;
    for (float v : {-1.5f, 20.25f}) {
        CloudPoint p;
        p.x = v, p.y = 2 * v, p.z = -v;
        bounds.add(p);
    }
    const auto header = encodeLasHeader(bounds, {45, 2026});
    const auto projection = encodeLasProjectionRecord();
    out << "header\n";
    hexLines(out, header.data(), header.size());
    out << "projection\n";
    hexLines(out, projection.data(), projection.size());

    test::TempDir dir;
    LasFile las;
    ASSERT_TRUE(las.create(dir / "p.las", CloudBounds{}));
    las.setIntensityScale();
    const float xs[] = {1.0f, -1.0f, 0.0f, 0.25f, -0.000004f, 1e6f, -1e6f, 21474.836f};
    const float amplitudes[] = {437.5f, 875.0f, 900.0f, 0.0f, 874.99f, -1.0f, NAN, 1e30f};
    for (std::size_t i = 0; i < std::size(xs); ++i)
        ASSERT_TRUE(las.writePoint(xs[i], -xs[i], 2.0 * xs[i], amplitudes[i], false, 1.0, 1.0));
    ASSERT_TRUE(las.writePoint(0, 0, 0, 0, true, -3.0, 200.0));
    ASSERT_TRUE(las.writePoint(0, 0, 0, 0, false, 2.5, 254.6));
    ASSERT_TRUE(las.close());
    const auto b = test::readBytes(dir / "p.las");
    ASSERT_EQ(b.size(), kLasPointOffset + 10 * kLasRecordLength);
    out << "records\n";
    hexLines(out, b.data() + kLasPointOffset, b.size() - kLasPointOffset);
    out << "intensity";
    for (float a : {437.5f, 875.0f, 1e30f, NAN, -1.0f, 0.01f})
        out << " " << lasIntensity(a, 65535.0 / 875.0);
    out << " " << lasIntensity(100.0f, 1000.0) << " " << lasIntensity(100.0f, 0.0) << "\n";

    CloudStore store;
    store.setCurrentLayer(3);
    addPoint(store, 3, {.x = 1.5f, .y = -2.25f, .z = 0.125f, .amplitude = 875.0f});
    addPoint(store, 3, {.x = 9.0f, .valid = false});
    store.setCurrentLayer(1);
    addPoint(store, 1, {.x = -0.5f, .y = 3.0f, .z = -7.75f, .amplitude = 437.5f});
    addPoint(store, 1, {.x = 12.34567f, .y = -0.00001f, .z = 20.0f, .amplitude = 10.0f});
    RecordingSink sink;
    ASSERT_TRUE(exportLas(store, dir / "own.las", sink));
    ASSERT_TRUE(las.openRead(dir / "own.las", sink));
    const LasHeaderInfo& info = las.info();
    std::tm local{};
    const std::time_t now = std::time(nullptr);
    localtime_r(&now, &local);
    EXPECT_EQ(info.creationDay, local.tm_yday + 1);
    EXPECT_EQ(info.creationYear, local.tm_year + 1900);
    out << "own export: " << las.pointRecordCount() << " points, x " << info.minX << " "
        << info.maxX << " y " << info.minY << " " << info.maxY << " z " << info.minZ << " "
        << info.maxZ << "\n";
    for (CloudPoint p; (p.sequence = 77) && las.readPoint(p);) { // sequence cleared by the read
        out << p.x << " " << p.y << " " << p.z << " amplitude " << p.amplitude << " snr " << p.snr
            << " saturated " << int(p.saturated) << " valid " << int(p.valid) << " angles "
            << p.azimuth << " " << p.elevation << " range " << p.range << " sequence " << p.sequence
            << "\n";
    }
    EXPECT_TRUE(sink.messages().empty());
    test::expectGolden("cloud_las_own.txt", out.str());
}

// A LAS file as another tool would write it: any version, format, record length, scale, offset
// and variable length records.
struct ForeignLas {
    unsigned minor = 2, format = 3;
    std::uint16_t headerSize = 227, recordLength = 34;
    std::vector<std::uint8_t> gap; // variable length records and padding before the points
    double scale[3] = {0.0025, -0.01, 1e-7}, offset[3] = {-50.0, 1000.0, -0.0};
    struct Point {
        std::int32_t X, Y, Z;
        std::uint16_t intensity;
        std::uint8_t scanRank, userData;
        std::uint16_t source;
    };
    std::vector<Point> points;
    std::uint64_t wideCount = ~0ull; // default: the number of points

    std::vector<std::uint8_t> bytes() const {
        std::vector<std::uint8_t> b(headerSize, 0);
        std::memcpy(b.data(), "LASF", 4);
        b[24] = 1, b[25] = static_cast<std::uint8_t>(minor),
        b[104] = static_cast<std::uint8_t>(format);
        le::store<std::uint16_t>(b.data() + 94, headerSize);
        le::store<std::uint32_t>(b.data() + 96,
                                 static_cast<std::uint32_t>(headerSize + gap.size()));
        le::store<std::uint16_t>(b.data() + 105, recordLength);
        // Formats 6-10 carry the count only in the 64-bit field.
        le::store<std::uint32_t>(b.data() + 107,
                                 minor == 4 ? 0 : static_cast<std::uint32_t>(points.size()));
        for (int a = 0; a < 3; ++a) {
            le::store<double>(b.data() + 131 + 8 * a, scale[a]);
            le::store<double>(b.data() + 155 + 8 * a, offset[a]);
        }
        if (minor == 4)
            le::store<std::uint64_t>(b.data() + 247, ~wideCount ? wideCount : points.size());
        b.insert(b.end(), gap.begin(), gap.end());
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
                r[16] = p.scanRank, r[17] = p.userData;
                le::store<std::uint16_t>(r.data() + 18, p.source);
            }
            b.insert(b.end(), r.begin(), r.end());
        }
        return b;
    }
};

// n records with coordinates spread over the i32 range, intensities over theirs with the
// saturated one and the one below it frequent, and angle words that change every record for the
// first thousand and rarely after.
ForeignLas foreignWithPoints(unsigned minor, unsigned format, std::uint16_t recordLength,
                             std::size_t n) {
    ForeignLas f;
    f.minor = minor, f.format = format, f.recordLength = recordLength;
    if (minor == 4) f.headerSize = 375;
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

// Point i as the reader must decode it (the reference of every import check).
bool decodedAsItsRecord(const ForeignLas& f, std::size_t i, const CloudPoint& p) {
    const ForeignLas::Point& e = f.points[i];
    return p.x == static_cast<float>(e.X * f.scale[0] + f.offset[0]) &&
           p.y == static_cast<float>(e.Y * f.scale[1] + f.offset[1]) &&
           p.z == static_cast<float>(e.Z * f.scale[2] + f.offset[2]) &&
           p.snr == static_cast<float>(e.intensity) &&
           p.amplitude == static_cast<float>(e.intensity / 65535.0 * 875.0) &&
           p.saturated == (e.intensity == 65535 ? 1 : 0) &&
           p.azimuth == static_cast<float>(static_cast<std::int16_t>(e.scanRank | e.userData << 8) /
                                           1485.0) &&
           p.elevation == static_cast<float>(static_cast<std::int16_t>(e.source) / 1485.0);
}

TEST(LasFile, ForeignFilesReadAsTheirRecordsSay) {
    struct Case {
        unsigned minor, format;
        std::uint16_t recordLength;
        std::size_t gap;
    };
    test::TempDir dir;
    for (const Case c :
         {Case{2, 3, 34, 2}, Case{4, 6, 34, 94}, Case{0, 0, 20, 0}, Case{3, 1, 28, 54}}) {
        SCOPED_TRACE(testing::Message() << "1." << c.minor << " format " << c.format);
        ForeignLas f = foreignWithPoints(c.minor, c.format, c.recordLength, 2000);
        f.gap.assign(c.gap, 0x11);
        test::writeBytes(dir / "f.las", f.bytes());
        LasFile las;
        RecordingSink sink;
        ASSERT_TRUE(las.openRead(dir / "f.las", sink)) << sink.last();
        ASSERT_EQ(las.pointRecordCount(), f.points.size());
        CloudPoint p;
        for (std::size_t i = 0; i < f.points.size(); ++i) {
            ASSERT_TRUE(las.readPoint(p));
            ASSERT_TRUE(decodedAsItsRecord(f, i, p)) << "record " << i;
        }
        EXPECT_FALSE(las.readPoint(p));
    }
}

TEST(LasFile, HostileHeadersAreRefusedWithAMessageAndNothingRead) {
    using Spoil = std::function<void(std::vector<std::uint8_t>&)>;
    auto u16At = [](std::size_t at, std::uint16_t v) {
        return [=](auto& b) { le::store<std::uint16_t>(b.data() + at, v); };
    };
    auto u32At = [](std::size_t at, std::uint32_t v) {
        return [=](auto& b) { le::store<std::uint32_t>(b.data() + at, v); };
    };
    auto f64At = [](std::size_t at, double v) {
        return [=](auto& b) { le::store<double>(b.data() + at, v); };
    };
    const std::pair<Spoil, const char*> cases[] = {
        {[](auto& b) { b[0] = 'X'; }, "not a LAS file"},
        {[](auto& b) { b.resize(200); }, "not a LAS file"},
        {[](auto& b) { b.clear(); }, "not a LAS file"},
        {[](auto& b) { b[24] = 2, b[25] = 0; }, "unsupported version 2.0"},
        {[](auto& b) { b[25] = 5; }, "unsupported version 1.5"},
        {[](auto& b) { b[104] = 11; }, "unsupported point format 11"},
        {[](auto& b) { b[104] = 0x83; }, "compressed point data"},
        {u16At(105, 33), "point record length 33 too short for format 3"},
        {u16At(94, 100), "header does not match the file size"},
        {u32At(96, 1000000), "header does not match the file size"},
        {u32At(96, 100), "header does not match the file size"},
        {u32At(107, 4), "header does not match the file size"},
        {[&](auto& b) { u32At(107, 0xFFFFFFFFu)(b), u16At(105, 0xFFFF)(b); },
         "header does not match the file size"},
        {[](auto& b) { b.pop_back(); }, "header does not match the file size"},
        {[](auto& b) { // (2^59 + 1) x 32 wraps a 64-bit product to 32: the one record held
             ForeignLas f = foreignWithPoints(4, 6, 32, 1);
             f.wideCount = (std::uint64_t{1} << 59) + 1;
             b = f.bytes();
         },
         "header does not match the file size"},
        {f64At(139, 0.0), "invalid scale or offset"},
        {f64At(171, NAN), "invalid scale or offset"},
    };
    test::TempDir dir;
    const auto file = dir / "bad.las";
    for (const auto& [spoil, message] : cases) {
        auto bytes = foreignWithPoints(2, 3, 34, 3).bytes();
        spoil(bytes);
        test::writeBytes(file, bytes);
        LasFile las;
        RecordingSink sink;
        EXPECT_FALSE(las.openRead(file, sink)) << message;
        EXPECT_EQ(sink.messages(),
                  std::vector<std::string>{std::string("ERROR: Loading LAS file, ") + message +
                                           ": " + file.string()});
        CloudPoint p;
        EXPECT_FALSE(las.readPoint(p)) << message;
        CloudStore store;
        EXPECT_EQ(fillLayerFromLas(las, store, 0), 0u) << message;
    }
    LasFile las;
    RecordingSink sink;
    EXPECT_FALSE(las.openRead(dir / "absent.las", sink)); // a missing file is no message
    EXPECT_TRUE(sink.messages().empty());
    EXPECT_FALSE(las.writePoint(0, 0, 0, 0, false, 1, 1)); // nothing open for writing
}

// The export (chunks encoded on two threads) against the same points written one by one with
// writePoint, the header from CloudBounds::add over them: the same bytes.
void expectExportIsThatOfThePointByPointWriter(const CloudStore& store) {
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
    ASSERT_TRUE(ref.updateHeader(bounds) && ref.close());
    EXPECT_GT(bounds.count, 20000u);
    EXPECT_TRUE(test::readBytes(dir / "bulk.las") == test::readBytes(dir / "ref.las"));
}

TEST(LasFile, ExportBytesAreThoseOfThePointByPointWriter) {
    const float inf = INFINITY, nan = NAN;
    const float edges[] = {0.0f,       -0.0f,      1e6f,        -1e6f,       nan,        inf,
                           -inf,       21474.836f, -21474.836f, 1e-7f,       -0.000004f, 0.000005f,
                           -0.000015f, 2147483.5f, -2147483.5f, 2147483.75f, 3e6f,       -3e6f};
    const float amplitudes[] = {0.0f, 437.5f,  875.0f, 900.0f, -1.0f,
                                nan,  874.99f, 1e30f,  -inf,   1e-30f};
    CloudStore store; // layers 0 and 2 around layer 1, which is not in use
    for (const std::uint32_t l : {2u, 1u, 0u}) {
        store.setCurrentLayer(l);
        for (int i = 0; i < 16000; ++i) {
            const float e = edges[i % std::size(edges)], f = static_cast<float>(i);
            const bool edge = i % 5 == 0;
            addPoint(
                store, l,
                {.x = edge ? e : 0.37f * f - 3000.0f,
                 .y = edge ? -e : 1e-3f * f,
                 .z = edge ? 2.0f * e : -f,
                 .amplitude = amplitudes[i % std::size(amplitudes)] + (edge ? 0.0f : 1e-3f * f),
                 .valid = i % 11 != 0});
        }
    }
    store.layer(1).inUse = 0;
    expectExportIsThatOfThePointByPointWriter(store);
    // Zeros of both signs changing between the threads' chunks: the extent keeps the one met
    // first, as one pass over the points does, whichever thread finishes first.
    CloudStore zeros;
    zeros.setCurrentLayer(0);
    for (int i = 0; i < 60000; ++i) {
        const float zero = (i / 7000) % 2 == 0 ? 0.0f : -0.0f;
        addPoint(zeros, 0, {.x = zero, .y = -zero, .z = i < 100 ? -0.0f : 0.0f});
    }
    expectExportIsThatOfThePointByPointWriter(zeros);
}

// The import as it runs one record at a time: readPoint and the pipeline's calls per point.
std::uint64_t fillOneByOne(LasFile& las, CloudStore& store, std::uint32_t l) {
    std::uint64_t read = 0;
    for (; read < las.pointRecordCount(); ++read) {
        CloudPoint& slot = store.nextSlot(l);
        if (!las.readPoint(slot)) break;
        const double x = slot.x, y = slot.y, z = slot.z;
        slot.range = static_cast<float>(std::sqrt(x * x + y * y + z * z));
        slot.valid = 1;
        store.addStatistics(l, slot.saturated != 0, slot.range, slot.amplitude, slot.snr, slot);
        store.commit(l);
    }
    return read;
}

std::array<std::uint32_t, 16> bitsOf(const CloudPoint& c) {
    const auto b = [](float v) { return std::bit_cast<std::uint32_t>(v); };
    return {b(c.x),       b(c.y),         b(c.z),     c.color.r,        c.color.g, c.color.b,
            b(c.azimuth), b(c.elevation), b(c.range), b(c.amplitude),   b(c.snr),  c.saturated,
            c.valid,      c.sequence,     c.line,     b(c.peakPosition)};
}

// Same slots bit for bit (up to the one after the count: a full layer's last slot) and the same
// statistics bit for bit.
void expectSameLayer(const CloudStore& a, const CloudStore& b, std::uint32_t l) {
    const std::uint32_t n = a.pointCount(l);
    ASSERT_EQ(n, b.pointCount(l));
    for (std::uint32_t i = 0; i <= n && i < LAYER_CAPACITY; ++i)
        ASSERT_EQ(bitsOf(a.point(l, i)), bitsOf(b.point(l, i))) << "slot " << i;
    const PointLayer &r = a.layer(l), &s = b.layer(l);
    const auto stats = [](const PointLayer& x) {
        return std::array{x.sumX,
                          x.sumY,
                          x.sumZ,
                          double(x.minX),
                          double(x.maxX),
                          double(x.minY),
                          double(x.maxY),
                          double(x.minZ),
                          double(x.maxZ),
                          double(x.rangeSeenMin),
                          double(x.rangeSeenMax)};
    };
    for (std::size_t f = 0; f < 11; ++f)
        EXPECT_EQ(std::bit_cast<std::uint64_t>(stats(r)[f]),
                  std::bit_cast<std::uint64_t>(stats(s)[f]))
            << f;
}

TEST(LasFile, ImportGivesThePointsAndStatisticsOfTheOneByOneImport) {
    struct Case {
        const char* name;
        unsigned minor, format;
        std::uint16_t recordLength;
        std::size_t points, readFirst, shrinkTo; // records read before; records left in the file
        std::uint32_t prefilled;                 // points already in the layer
    };
    constexpr std::uint32_t kNearlyFull = CloudStore::MAX_LAYER_POINTS - 5;
    const Case cases[] = {
        {"format 3, several chunks", 2, 3, 34, 40000, 0, 0, 0},
        {"format 6 with extra bytes", 4, 6, 34, 40000, 0, 0, 0},
        {"format 0", 0, 0, 20, 70000, 0, 0, 0},
        {"after records read one by one", 2, 1, 28, 30000, 3, 0, 0},
        {"past the last countable slot", 2, 3, 34, 20, 0, 0, kNearlyFull},
        {"file shrank mid-record in the first chunk", 2, 3, 34, 40000, 0, 500, 0},
        {"file shrank mid-record in a later chunk", 2, 3, 34, 40000, 0, 25000, 0},
    };
    test::TempDir dir;
    NullSink quiet;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ForeignLas f = foreignWithPoints(c.minor, c.format, c.recordLength, c.points);
        test::writeBytes(dir / "in.las", f.bytes());
        auto bulk = std::make_unique<CloudStore>(), ref = std::make_unique<CloudStore>();
        LasFile a, b;
        ASSERT_TRUE(a.openRead(dir / "in.las", quiet) && b.openRead(dir / "in.las", quiet));
        if (c.shrinkTo)
            std::filesystem::resize_file(dir / "in.las",
                                         a.info().offsetToPoints + c.shrinkTo * c.recordLength + 7);
        for (CloudStore* s : {bulk.get(), ref.get()})
            s->setCurrentLayer(3), s->commit(3, c.prefilled);
        for (std::size_t i = 0; i < c.readFirst; ++i) {
            CloudPoint p, q;
            ASSERT_TRUE(a.readPoint(p) && b.readPoint(q));
        }
        const std::uint64_t expected = (c.shrinkTo ? c.shrinkTo : c.points) - c.readFirst;
        EXPECT_EQ(fillLayerFromLas(a, *bulk, 3), expected);
        EXPECT_EQ(fillOneByOne(b, *ref, 3), expected);
        EXPECT_EQ(bulk->pointCount(3),
                  std::min<std::uint64_t>(c.prefilled + expected, CloudStore::MAX_LAYER_POINTS));
        expectSameLayer(*bulk, *ref, 3);
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
    std::size_t seen = 0;
    bool whole = true;
    for (bool last = false; !last;) {
        last = done.load(); // a last pass after the import has returned sees every point
        seen = 0;
        store->forEachVisible([&](std::uint32_t, const CloudPoint& p) {
            whole = whole && decodedAsItsRecord(f, seen++, p);
        });
    }
    filler.join();
    EXPECT_TRUE(whole);
    EXPECT_EQ(imported, 60000u);
    EXPECT_EQ(seen, 60000u);
}

} // namespace
} // namespace quarv
