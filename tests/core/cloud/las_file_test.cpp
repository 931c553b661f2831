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
#include <thread>

namespace quarv {
namespace {

using test::addPoint;

void hexLines(test::Transcript& t, const std::uint8_t* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        t.out << "0123456789abcdef"[b[i] >> 4] << "0123456789abcdef"[b[i] & 15]
              << (i % 20 == 19 || i + 1 == n ? "\n" : " ");
}

// Our header for given bounds and date, the projection record, records as writePoint writes them
// at the edges of quantisation and intensity, and the intensity rule at other scales.
TEST(LasFile, OwnFormatTranscript) {
    test::Transcript t;
    CloudBounds bounds;
    for (float v : {-1.5f, 20.25f}) {
        CloudPoint p;
        p.x = v, p.y = 2 * v, p.z = -v, p.amplitude = v;
        bounds.add(p);
    }
    const auto header = encodeLasHeader(bounds, {45, 2026});
    const auto projection = encodeLasProjectionRecord();
    hexLines(t, header.data(), header.size());
    hexLines(t, projection.data(), projection.size());
    test::TempDir dir;
    LasFile las;
    ASSERT_TRUE(las.create(dir / "p.las", CloudBounds{}));
    las.setIntensityScale();
    const float xs[] = {1.0f, -1.0f, 0.0f, 0.25f, -0.000004f, 1e6f, -1e6f, 21474.836f};
    const float amplitudes[] = {437.5f, 875.0f, 900.0f, 0.0f, 874.99f, -1.0f, NAN, 1e30f};
    for (std::size_t i = 0; i < std::size(xs); ++i)
        ASSERT_TRUE(las.writePoint(xs[i], -xs[i], 2.0 * xs[i], amplitudes[i], false, 1.0, 1.0));
    ASSERT_TRUE(las.writePoint(0, 0, 0, 0, true, -3.0, 200.0) &&
                las.writePoint(0, 0, 0, 0, false, 2.5, 254.6));
    ASSERT_TRUE(las.close());
    const auto b = test::readBytes(dir / "p.las");
    ASSERT_EQ(b.size(), kLasPointOffset + 10 * kLasRecordLength);
    hexLines(t, b.data() + kLasPointOffset, b.size() - kLasPointOffset);
    t.put("other scales", lasIntensity(100.0f, 1000.0), lasIntensity(100.0f, 0.0));
    test::expectGolden("cloud_las_own.txt", t.str());
    std::tm local{};
    const std::time_t now = std::time(nullptr);
    localtime_r(&now, &local); // day 1 is the first of January
    EXPECT_EQ(std::pair(LasDate::today().dayOfYear, LasDate::today().year),
              std::pair(local.tm_yday + 1, local.tm_year + 1900));
}

// A LAS file as another tool would write it (any version, format, record length, scale, offset,
// gap before the records): coordinates and intensities over their whole range, 65535 and 65534
// frequent, angle words that change every record for the first thousand and rarely after.
struct ForeignLas {
    unsigned minor, format;
    std::uint16_t headerSize, recordLength;
    std::size_t gap, n;
    double scale[3] = {0.0025, -0.01, 1e-7}, offset[3] = {-50.0, 1000.0, -0.0};

    ForeignLas(unsigned minor_, unsigned format_, std::uint16_t length, std::size_t n_,
               std::size_t gap_ = 0)
        : minor(minor_), format(format_), headerSize(minor_ == 4 ? 375 : 227), recordLength(length),
          gap(gap_), n(n_) {}
    std::int32_t X(std::size_t i) const {
        return std::int32_t((i * 2654435761ull) % 4294967291ull - 2147483645);
    }
    std::int32_t Y(std::size_t i) const { return i % 3 == 0 ? 0 : 1000 - std::int32_t(i); }
    std::int32_t Z(std::size_t i) const { return std::int32_t(i * 977); }
    std::uint16_t intensity(std::size_t i) const {
        return std::uint16_t(i % 7 == 0 ? 65535 : i % 7 == 1 ? 65534 : i * 37 % 65536);
    }
    std::uint8_t rank(std::size_t i) const { return std::uint8_t(i < 1000 ? i : i / 4096); }
    std::uint16_t source(std::size_t i) const {
        return std::uint16_t(i % 5000 == 0 ? 0x8001 : i / 3000);
    }

    std::vector<std::uint8_t> bytes() const {
        std::vector<std::uint8_t> b(headerSize + gap, 0x11);
        std::fill_n(b.begin(), headerSize, 0);
        std::memcpy(b.data(), "LASF", 4);
        b[24] = 1, b[25] = std::uint8_t(minor), b[104] = std::uint8_t(format);
        le::store<std::uint16_t>(b.data() + 94, headerSize);
        le::store<std::uint32_t>(b.data() + 96, std::uint32_t(headerSize + gap));
        le::store<std::uint16_t>(b.data() + 105, recordLength);
        le::store<std::uint32_t>(b.data() + 107, minor == 4 ? 0 : std::uint32_t(n));
        for (int a = 0; a < 3; ++a) {
            le::store<double>(b.data() + 131 + 8 * a, scale[a]);
            le::store<double>(b.data() + 155 + 8 * a, offset[a]);
        }
        if (minor == 4) le::store<std::uint64_t>(b.data() + 247, n); // formats 6-10: 64-bit only
        for (std::size_t i = 0; i < n; ++i) {
            std::vector<std::uint8_t> r(recordLength, 0xEE); // unread fields hold noise
            for (int a = 0; a < 3; ++a)
                le::store<std::int32_t>(r.data() + 4 * a, a == 0 ? X(i) : a == 1 ? Y(i) : Z(i));
            le::store<std::uint16_t>(r.data() + 12, intensity(i));
            const bool wide = format >= 6; // user data at 17, i16 scan angle at 18, source at 20
            r[17] = std::uint8_t(255 - rank(i)), r[wide ? 18 : 16] = rank(i), r[19] = 0;
            le::store<std::uint16_t>(r.data() + (wide ? 20 : 18), source(i));
            b.insert(b.end(), r.begin(), r.end());
        }
        return b;
    }
    // Record i as the reader must decode it.
    bool decoded(std::size_t i, const CloudPoint& p) const {
        return p.x == float(X(i) * scale[0] + offset[0]) &&
               p.y == float(Y(i) * scale[1] + offset[1]) &&
               p.z == float(Z(i) * scale[2] + offset[2]) && p.snr == float(intensity(i)) &&
               p.amplitude == float(intensity(i) / 65535.0 * 875.0) &&
               p.saturated == (intensity(i) == 65535) &&
               p.azimuth == float(std::int16_t(rank(i) | (255 - rank(i)) << 8) / 1485.0) &&
               p.elevation == float(std::int16_t(source(i)) / 1485.0);
    }
};

TEST(LasFile, HostileHeadersAreRefusedWithAMessageAndNothingRead) {
    using Spoil = std::function<void(std::vector<std::uint8_t>&)>;
    auto set = [](std::size_t at, auto v) -> Spoil {
        return [=](auto& b) { le::store(b.data() + at, v); };
    };
    const std::string size = "header does not match the file size";
    const std::pair<Spoil, std::string> cases[] = {
        {[](auto& b) { b[25] = 5; }, "unsupported version 1.5"},
        {[](auto& b) { b[104] = 11; }, "unsupported point format 11"},
        {set(105, std::uint16_t(33)), "point record length 33 too short for format 3"},
        {set(96, 100u), size}, // the records would start inside the header
        {set(107, 4u), size},  // one record more than the file holds
        {[](auto& b) { b.pop_back(); }, size},
        {set(171, double(NAN)), "invalid scale or offset"},
    };
    test::TempDir dir;
    const auto file = dir / "bad.las";
    for (const auto& [spoil, message] : cases) {
        auto bytes = ForeignLas(2, 3, 34, 3).bytes();
        spoil(bytes);
        test::writeBytes(file, bytes);
        LasFile las;
        RecordingSink sink;
        CloudPoint p;
        EXPECT_FALSE(las.openRead(file, sink) || las.readPoint(p)) << message;
        EXPECT_EQ(sink.messages(), std::vector<std::string>{"ERROR: Loading LAS file, " + message +
                                                            ": " + file.string()});
    }
    LasFile las;
    RecordingSink sink; // a missing file is no message; nothing is open for writing
    EXPECT_FALSE(las.openRead(dir / "absent.las", sink) || las.writePoint(0, 0, 0, 0, 0, 1, 1));
    EXPECT_TRUE(sink.messages().empty());
}

// The export (chunks encoded on two threads) is the bytes of writePoint over the same points with
// the header of CloudBounds::add: for edges of quantisation and intensity in layers 0 and 2 around
// unused layer 1, and for zeros of both signs alternating between chunks (layer 3 alone).
TEST(LasFile, ExportBytesAreThoseOfThePointByPointWriter) {
    const float edges[] = {0.0f,       -0.0f,       1e6f,        -1e6f,      NAN,       INFINITY,
                           -INFINITY,  21474.836f,  1e-7f,       -0.000004f, 0.000005f, -0.000015f,
                           2147483.5f, -2147483.5f, 2147483.75f, 3e6f};
    const float amplitudes[] = {0.0f, 437.5f,  875.0f, 900.0f,    -1.0f,
                                NAN,  874.99f, 1e30f,  -INFINITY, 1e-30f};
    CloudStore store;
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
    store.setCurrentLayer(3);
    for (int i = 0; i < 60000; ++i) {
        const float zero = (i / 7000) % 2 == 0 ? 0.0f : -0.0f;
        addPoint(store, 3, {.x = zero, .y = -zero, .z = i < 100 ? -0.0f : 0.0f});
    }
    test::TempDir dir;
    NullSink quiet;
    for (const bool zeros : {false, true}) {
        for (const std::uint32_t l : {0u, 1u, 2u, 3u})
            store.layer(l).inUse = l != 1 && zeros == (l == 3);
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
        EXPECT_TRUE(test::readBytes(dir / "bulk.las") == test::readBytes(dir / "ref.las"));
    }
}

// The bulk import (chunks decoded on helper threads, a reader watching) against readPoint with the
// pipeline's calls one record at a time: the same slots (up to the one after the count: a full
// layer's last) and statistics bit for bit, and every point as its record says.
TEST(LasFileConcurrency, ImportMatchesItsRecordsAndTheOneByOneImportWhileRead) {
    struct Case {
        const char* name;
        unsigned minor, format;
        std::uint16_t length;
        std::size_t points, gap, readFirst,
            shrinkTo;            // records read before; records left in the file
        std::uint32_t prefilled; // points already in the layer
    };
    const Case cases[] = {
        {"1.2 format 3 with padding", 2, 3, 34, 40000, 2, 0, 0, 0},
        {"1.4 format 6 with records and extra bytes", 4, 6, 34, 40000, 94, 0, 0, 0},
        {"1.0 format 0", 0, 0, 20, 70000, 0, 0, 0, 0},
        {"1.3 format 1 after records read one by one", 3, 1, 28, 30000, 54, 3, 0, 0},
        {"past the last countable slot", 2, 3, 34, 20, 0, 0, 0, CloudStore::MAX_LAYER_POINTS - 5},
        {"file shrank in the first chunk", 2, 3, 34, 40000, 0, 0, 500, 0},
        {"file shrank in a later chunk", 2, 3, 34, 40000, 0, 0, 25000, 0},
    };
    test::TempDir dir;
    NullSink quiet;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ForeignLas f(c.minor, c.format, c.length, c.points, c.gap);
        test::writeBytes(dir / "in.las", f.bytes());
        auto bulk = std::make_unique<CloudStore>(), ref = std::make_unique<CloudStore>();
        LasFile a, b;
        ASSERT_TRUE(a.openRead(dir / "in.las", quiet) && b.openRead(dir / "in.las", quiet));
        if (c.shrinkTo)
            std::filesystem::resize_file(dir / "in.las",
                                         a.info().offsetToPoints + c.shrinkTo * c.length + 7);
        for (CloudStore* s : {bulk.get(), ref.get()})
            s->setCurrentLayer(3), s->commit(3, c.prefilled);
        CloudPoint p;
        for (std::size_t i = 0; i < c.readFirst; ++i) ASSERT_TRUE(a.readPoint(p) && b.readPoint(p));
        const std::uint64_t expected = (c.shrinkTo ? c.shrinkTo : c.points) - c.readFirst;
        // The bulk import fills the layer while this thread reads it: every point it sees is whole.
        std::atomic<bool> done{false};
        std::uint64_t imported = 0;
        std::thread filler([&] {
            imported = fillLayerFromLas(a, *bulk, 3);
            done.store(true);
        });
        bool whole = true;
        for (bool last = false; !last;) {
            last = done.load(); // a last pass after the import has returned sees every point
            std::size_t seen = c.readFirst;
            bulk->forEachVisible(
                [&](std::uint32_t, const CloudPoint& q) { whole = whole && f.decoded(seen++, q); });
        }
        filler.join();
        EXPECT_TRUE(whole);
        EXPECT_EQ(imported, expected);
        for (std::uint64_t i = c.readFirst; i < c.points; ++i) { // the one-by-one import
            CloudPoint& slot = ref->nextSlot(3);
            slot.sequence = 77, slot.line = 5; // cleared by the read
            if (!b.readPoint(slot)) break;
            slot.range = float(std::sqrt(double(slot.x) * slot.x + double(slot.y) * slot.y +
                                         double(slot.z) * slot.z));
            slot.valid = 1;
            ref->addStatistics(3, slot.saturated != 0, slot.range, slot.amplitude, slot.snr, slot);
            ref->commit(3);
        }
        ref->nextSlot(3).sequence = 0, ref->nextSlot(3).line = 0; // the slot a failed read left
        const std::uint32_t n = bulk->pointCount(3);
        ASSERT_EQ(n, std::min<std::uint64_t>(c.prefilled + expected, CloudStore::MAX_LAYER_POINTS));
        ASSERT_EQ(ref->pointCount(3), n);
        for (std::uint32_t i = 0; i <= n && i < LAYER_CAPACITY; ++i)
            ASSERT_EQ(std::memcmp(&bulk->point(3, i), &ref->point(3, i), sizeof(CloudPoint)), 0)
                << "slot " << i;
        EXPECT_EQ(std::memcmp(&bulk->layer(3).sumX, &ref->layer(3).sumX, // sums, extent, ranges
                              offsetof(PointLayer, rangeMin) - offsetof(PointLayer, sumX)),
                  0);
        EXPECT_FALSE(a.readPoint(p)); // the end stays the end
    }
}

} // namespace
} // namespace quarv
