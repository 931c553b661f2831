#include "core/cloud/las_file.hpp"

#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_export.hpp"
#include "core/config/bytes.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace quarv {

namespace {

// Records per write: a quarter megabyte, two such buffers stay in the cache while one is being
// encoded and the other written.
constexpr std::size_t kWriteChunkRecords = 12800;

} // namespace

LasFile::LasFile() = default;

LasFile::~LasFile() {
    writer_.abandon();
    if (in_) std::fclose(in_);
}

bool LasFile::create(const std::filesystem::path& path, const CloudBounds& bounds) {
    close();
    if (!writer_.open(path)) return false;
    path_ = path;
    // The header announces our scale; a reader that loaded a foreign file before must not
    // quantise with that file's.
    scale_ = {kLasScale, kLasScale, kLasScale};
    stamp_ = LasDate::today();
    header_ = encodeLasHeader(bounds, stamp_);
    const auto vlr = encodeLasProjectionRecord();
    buffer_.assign(kWriteChunkRecords * kLasRecordLength, 0);
    bufferUsed_ = 0;
    if (!writer_.write(header_.data(), header_.size()) || !writer_.write(vlr.data(), vlr.size())) {
        writer_.abandon();
        return false;
    }
    return true;
}

bool LasFile::writePoint(double x, double y, double z, float amplitude, bool edge, double scanAngle,
                         double userData) {
    if (!writer_.isOpen()) return false;
    if (bufferUsed_ + kLasRecordLength > buffer_.size() && !flushPoints()) return false;
    std::uint8_t* r = buffer_.data() + bufferUsed_;
    le::store<std::int32_t>(r, lasQuantise(x, scale_[0]));
    le::store<std::int32_t>(r + 4, lasQuantise(y, scale_[1]));
    le::store<std::int32_t>(r + 8, lasQuantise(z, scale_[2]));
    le::store<std::uint16_t>(r + 12, lasIntensity(amplitude, intensityScale_));
    // Return 1 of 1, scan direction flag set; the edge of flight line bit on request.
    r[14] = edge ? 0xC9 : 0x49;
    r[15] = 0; // classification
    r[16] = lasLowByteOfRounded(scanAngle);
    r[17] = lasLowByteOfRounded(userData);
    le::store<std::uint16_t>(r + 18, 1); // point source ID
    bufferUsed_ += kLasRecordLength;
    return true;
}

bool LasFile::writeRecords(const std::uint8_t* records, std::size_t bytes) {
    if (!writer_.isOpen()) return false;
    const bool ok = flushPoints();
    return writer_.write(records, bytes) && ok;
}

bool LasFile::flushPoints() {
    const bool ok = writer_.write(buffer_.data(), bufferUsed_);
    bufferUsed_ = 0;
    return ok;
}

bool LasFile::updateHeader(const CloudBounds& bounds) {
    if (!writer_.isOpen() || !flushPoints()) return false;
    header_ = encodeLasHeader(bounds, stamp_);
    std::FILE* f = writer_.stream();
    if (std::fseek(f, 0, SEEK_SET) != 0) return false;
    const bool ok = writer_.write(header_.data(), header_.size());
    return std::fseek(f, 0, SEEK_END) == 0 && ok;
}

bool LasFile::close() {
    bool ok = true;
    if (writer_.isOpen()) {
        ok = flushPoints();
        ok = writer_.commit() && ok;
    }
    if (in_) {
        std::fclose(in_);
        in_ = nullptr;
    }
    return ok;
}

namespace {

// Positions and amplitudes of visible points, gathered from the slots for encoding.
struct VisibleColumns {
    static constexpr std::size_t kBlock = 2048;
    std::array<float, kBlock> x, y, z, amplitude;
    std::size_t n = 0;

    // Appends the visible points of points[i] to points[end - 1] until the columns are full,
    // widening `box` (position and count) as CloudBounds::add would. Returns the next slot.
    std::uint32_t gather(const CloudPoint* points, std::uint32_t i, std::uint32_t end,
                         CloudBounds& box) {
        // The box in locals: the stores into the columns could otherwise alias it, and the
        // loop would keep it in memory.
        float minX = box.minX, maxX = box.maxX, minY = box.minY, maxY = box.maxY;
        float minZ = box.minZ, maxZ = box.maxZ;
        // Without a branch on the valid flag: every point is stored at k, which only a visible
        // point moves on, and a hidden point widens the box by the box's own values (no change).
        std::size_t k = n;
        for (; i < end && k < kBlock; ++i) {
            const CloudPoint& p = points[i];
            const bool visible = p.isValid();
            const float px = p.x, py = p.y, pz = p.z;
            x[k] = px, y[k] = py, z[k] = pz, amplitude[k] = p.amplitude;
            const float loX = visible ? px : minX, hiX = visible ? px : maxX;
            const float loY = visible ? py : minY, hiY = visible ? py : maxY;
            const float loZ = visible ? pz : minZ, hiZ = visible ? pz : maxZ;
            minX = loX < minX ? loX : minX;
            maxX = hiX > maxX ? hiX : maxX;
            minY = loY < minY ? loY : minY;
            maxY = hiY > maxY ? hiY : maxY;
            minZ = loZ < minZ ? loZ : minZ;
            maxZ = hiZ > maxZ ? hiZ : maxZ;
            k += visible ? 1 : 0;
        }
        box.minX = minX, box.maxX = maxX, box.minY = minY, box.maxY = maxY;
        box.minZ = minZ, box.maxZ = maxZ;
        box.count += static_cast<std::uint32_t>(k - n);
        n = k;
        return i;
    }
};

// Widens `into` by a box gathered after the points it covers, with the rule of CloudBounds::add:
// a tie keeps the earlier value (so of +0 and -0 the one met first), as one pass over all the
// points would.
void widen(CloudBounds& into, const CloudBounds& later) {
    if (later.minX < into.minX) into.minX = later.minX;
    if (later.maxX > into.maxX) into.maxX = later.maxX;
    if (later.minY < into.minY) into.minY = later.minY;
    if (later.maxY > into.maxY) into.maxY = later.maxY;
    if (later.minZ < into.minZ) into.minZ = later.minZ;
    if (later.maxZ > into.maxZ) into.maxZ = later.maxZ;
    into.count += later.count;
}

// The point records of an export, encoded by two threads and written in order. The slots are cut
// into chunks; each thread takes the next chunk, encodes its visible points into its own buffer
// and, when the chunks before it are out, writes the buffer itself and takes the next one. The
// copy into the file thus reads records still in the cache of the core that encoded them, and
// one thread's write overlaps the other's encoding.
class RecordExport {
public:
    RecordExport(const CloudStore& store, LasFile& las) : las_(las) {
        store.forEachLayerInUse([this](std::uint32_t, const CloudPoint* points, std::uint32_t n) {
            for (std::uint32_t first = 0; first < n; first += kChunkSlots)
                chunks_.push_back({points, first, std::min(n, first + kChunkSlots)});
        });
    }

    // False once a write failed. `bounds` receives the box of the points written.
    bool run(CloudBounds& bounds) {
        std::thread helper;
        if (chunks_.size() > 1) {
            try {
                helper = std::thread([this] {
                    try {
                        work();
                    } catch (const std::bad_alloc&) {
                        // Refused its buffers before taking a chunk: the caller does them all.
                    }
                });
            } catch (const std::system_error&) {
                // No second thread to be had: this one does all the chunks.
            }
        }
        work();
        if (helper.joinable()) helper.join();
        bounds = bounds_;
        return !failed_;
    }

private:
    // Slots per chunk: the records of a chunk (a quarter megabyte at most) stay in the cache
    // between their encoding and their copy into the file.
    static constexpr std::uint32_t kChunkSlots = 12800;

    struct Chunk {
        const CloudPoint* points;
        std::uint32_t first, end;
    };

    // Takes, encodes and writes chunks until none is left. Allocates only before taking the
    // first, so that a refused allocation leaves no chunk without its turn.
    void work() {
        auto columns = std::make_unique<VisibleColumns>();
        std::vector<std::uint8_t> records(std::size_t{kChunkSlots} * kLasRecordLength);
        for (;;) {
            if (stopped_.load(std::memory_order_relaxed)) return;
            const std::size_t k = next_.fetch_add(1, std::memory_order_relaxed);
            if (k >= chunks_.size()) return;
            const Chunk& chunk = chunks_[k];
            CloudBounds box;
            std::size_t bytes = 0;
            for (std::uint32_t i = chunk.first; i < chunk.end;) {
                i = columns->gather(chunk.points, i, chunk.end, box);
                if (columns->n == VisibleColumns::kBlock || i == chunk.end) {
                    VisibleColumns& c = *columns;
                    las_.encodeRecords(c.x.data(), c.y.data(), c.z.data(), c.amplitude.data(), c.n,
                                       false, 1.0, 1.0, records.data() + bytes);
                    bytes += c.n * kLasRecordLength;
                    c.n = 0;
                }
            }
            std::unique_lock lock(mutex_);
            turn_.wait(lock, [&] { return written_ == k; });
            // The chunks before this one are out: the file is this thread's until written_
            // moves on. A failed write leaves the remaining chunks unwritten.
            if (!failed_) {
                lock.unlock();
                const bool ok = las_.writeRecords(records.data(), bytes);
                lock.lock();
                failed_ = !ok;
                widen(bounds_, box);
                // Chunks already taken still pass their turn; no further one is encoded.
                if (!ok) stopped_.store(true, std::memory_order_relaxed);
            }
            ++written_;
            turn_.notify_all();
        }
    }

    LasFile& las_;
    std::vector<Chunk> chunks_;
    std::atomic<std::size_t> next_{0}; // the next chunk to take
    std::atomic<bool> stopped_{false}; // a write failed
    std::mutex mutex_;
    std::condition_variable turn_;
    std::size_t written_ = 0; // chunks written (or skipped after a failure)
    bool failed_ = false;
    CloudBounds bounds_;
};

} // namespace

// One full layer is 2.25 M records: they are encoded a block at a time (encodeRecords) on two
// threads, never one call per point.
bool exportLas(const CloudStore& store, const std::filesystem::path& path, MessageSink& sink) {
    auto fail = [&] {
        sink.report(formatMessage("ERROR writing LAS file: %s", path.c_str()));
        return false;
    };
    LasFile las;
    // The header is written first with no point and rewritten once the points are out, so the
    // points are enumerated once and the header always matches the records.
    if (!las.create(path, CloudBounds{})) return fail();
    las.setIntensityScale();
    CloudBounds written;
    bool ok = RecordExport(store, las).run(written);
    ok = ok && las.updateHeader(written);
    if (!ok || !las.close()) return fail();
    return true;
}

} // namespace quarv
