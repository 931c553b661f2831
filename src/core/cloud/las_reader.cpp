#include "core/cloud/las_file.hpp"

#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_export.hpp"
#include "core/config/bytes.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace quarv {

namespace {

constexpr std::size_t kReadChunkBytes = 1 << 16;

std::string fileName(const std::filesystem::path& path) {
    return path.string();
}

} // namespace

bool LasFile::openRead(const std::filesystem::path& path, MessageSink& sink) {
    close();
    info_ = LasHeaderInfo{};
    header_.fill(0);
    recordsRead_ = recordsBuffered_ = 0;
    bufferUsed_ = bufferPos_ = 0;
    ended_ = false;

    std::error_code ec;
    const bool regular = std::filesystem::is_regular_file(path, ec);
    // Only a regular file is opened: opening a FIFO or a device can block for ever.
    if (!regular && !std::filesystem::exists(path, ec)) return false;
    std::FILE* f = regular ? std::fopen(path.c_str(), "rb") : nullptr;
    if (regular && !f) return false;
    const std::uintmax_t fileSize = regular ? std::filesystem::file_size(path, ec) : 0;
    auto refuse = [&](const std::string& why) {
        if (f) std::fclose(f);
        sink.report(
            formatMessage("ERROR: Loading LAS file, %s: %s", why.c_str(), fileName(path).c_str()));
        return false;
    };
    if (!regular || ec) return refuse("not a LAS file");

    std::array<std::uint8_t, kLasHeader14Size> head{};
    const std::size_t got = std::fread(head.data(), 1, head.size(), f);
    LasHeaderInfo info;
    std::string why;
    if (!decodeLasHeader(head.data(), got, fileSize, info, why)) return refuse(why);
    if (fseeko(f, static_cast<off_t>(info.offsetToPoints), SEEK_SET) != 0)
        return refuse("header does not match the file size");

    std::memcpy(header_.data(), head.data(), kLasHeaderSize);
    info_ = info;
    scale_ = info.scale;
    decoder_ = LasRecordDecoder(info);
    path_ = path;
    in_ = f;
    const std::size_t records = std::max<std::size_t>(1, kReadChunkBytes / info.recordLength);
    buffer_.resize(records * info.recordLength);
    return true;
}

bool LasFile::refill() {
    if (ended_) return false;
    const std::size_t length = info_.recordLength;
    const std::uint64_t left = info_.pointCount - recordsBuffered_;
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer_.size() / length));
    if (want == 0) return false;
    const std::size_t got = std::fread(buffer_.data(), 1, want * length, in_);
    // A file that shrank since it was opened ends at its last complete record.
    bufferUsed_ = got - got % length;
    bufferPos_ = 0;
    recordsBuffered_ += bufferUsed_ / length;
    return bufferUsed_ > 0;
}

bool LasFile::readPoint(CloudPoint& p) {
    if (!in_ || recordsRead_ >= info_.pointCount) return false;
    if (bufferPos_ >= bufferUsed_ && !refill()) return false;
    const std::uint8_t* r = buffer_.data() + bufferPos_;
    bufferPos_ += info_.recordLength;
    ++recordsRead_;
    decoder_.decode(r, p);
    return true;
}

std::size_t LasFile::readRecords(std::size_t count, std::uint8_t* out) {
    if (!in_ || recordsRead_ >= info_.pointCount) return 0;
    const std::size_t length = info_.recordLength;
    count =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, info_.pointCount - recordsRead_));
    const std::size_t fromBuffer = std::min(count, (bufferUsed_ - bufferPos_) / length);
    if (fromBuffer > 0) std::memcpy(out, buffer_.data() + bufferPos_, fromBuffer * length);
    bufferPos_ += fromBuffer * length;
    recordsRead_ += fromBuffer;
    std::size_t done = fromBuffer;
    if (done < count && !ended_) {
        const std::size_t want = (count - done) * length;
        const std::size_t got = std::fread(out + done * length, 1, want, in_);
        // As in refill: the file ends at its last complete record and stays ended.
        const std::size_t records = got / length;
        recordsRead_ += records;
        recordsBuffered_ += records;
        done += records;
        ended_ = got < want;
    }
    return done;
}

std::size_t LasFile::readRecordsAt(std::uint64_t first, std::size_t count,
                                   std::uint8_t* out) const {
    if (!in_ || first >= info_.pointCount) return 0;
    const std::size_t length = info_.recordLength;
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, info_.pointCount - first));
    const int fd = ::fileno(in_);
    // Below the file size checked by openRead: the offsets cannot overflow.
    auto at = static_cast<off_t>(info_.offsetToPoints + first * length);
    const std::size_t want = count * length;
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n = ::pread(fd, out + got, want - got, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break; // end of a file that shrank, or a read error: ends here
        got += static_cast<std::size_t>(n);
        at += n;
    }
    return got / length;
}

void LasFile::continueAt(std::uint64_t next, bool ended) {
    if (!in_) return;
    recordsRead_ = recordsBuffered_ = std::min(next, info_.pointCount);
    bufferUsed_ = bufferPos_ = 0;
    const auto at = static_cast<off_t>(info_.offsetToPoints + recordsRead_ * info_.recordLength);
    ended_ = ended || fseeko(in_, at, SEEK_SET) != 0;
}

namespace {

// The records of a layer import are decoded in chunks of about this many bytes: a chunk's records
// and the points made of them stay in the cache until the statistics pass has read them.
constexpr std::size_t kImportChunkBytes = 1 << 18;
// Threads decoding at once, the calling thread included. Beyond that the sequential statistics
// pass and the memory bandwidth limit the import.
constexpr unsigned kMaxImportThreads = 4;

// A bulk import of the `count` records from record `first` on (where readPoint stands) into the
// slots from nextSlot on. Chunks are claimed in order by the calling thread and any helpers, each
// read with positioned reads (the first through the stream) and decoded straight into its slots;
// the calling thread adds the statistics of the decoded chunks in slot order and publishes each
// chunk with one commit, so readers on other threads only ever see complete points and the sums are
// those of a sequential pass.
class LayerImport {
public:
    LayerImport(LasFile& las, CloudStore& store, std::uint32_t layer, std::uint64_t first,
                std::uint64_t count)
        : las_(las), store_(store), layer_(layer), slots_(&store.nextSlot(layer)), first_(first),
          count_(count), length_(las.info().recordLength),
          chunkRecords_(std::max<std::size_t>(1, kImportChunkBytes / length_)),
          chunks_(static_cast<std::size_t>((count + chunkRecords_ - 1) / chunkRecords_)),
          decoded_(std::make_unique<std::atomic<std::uint32_t>[]>(chunks_)) {}

    // Returns the records imported; `ended` when the file ended before `count` records.
    std::uint64_t run(bool& ended) {
        // The first chunk is read here, before any helper starts, through the stream readPoint
        // reads from: the import begins exactly where readPoint would have continued, with the
        // records it already fetched (and what the stream holds of a file that has since shrunk).
        Decoding own(*this);
        own.decodeNext();
        std::vector<std::thread> helpers;
        const unsigned threads =
            std::min(std::max(1u, std::thread::hardware_concurrency()), kMaxImportThreads);
        // A helper only pays off when there are chunks for it to take.
        for (unsigned t = 1; t < threads && chunks_ >= 2 * threads; ++t) {
            try {
                helpers.emplace_back([this] {
                    try {
                        Decoding d(*this); // allocates before it takes a chunk
                        while (d.decodeNext()) {
                        }
                    } catch (const std::bad_alloc&) {
                        // No buffer for this helper: the others take its share.
                    }
                });
            } catch (const std::system_error&) {
                break; // no thread to be had: fewer helpers
            }
        }
        std::uint64_t imported = 0;
        ended = false;
        for (std::size_t next = 0; next < chunks_ && !ended;) {
            const std::uint32_t state = decoded_[next].load(std::memory_order_acquire);
            if (state == 0) {
                // Not decoded yet: decode a chunk here, or wait for the helper decoding it.
                if (!own.decodeNext()) decoded_[next].wait(0, std::memory_order_acquire);
                continue;
            }
            const std::uint32_t n = state - 1;
            store_.addStatistics(layer_, slots_ + next * chunkRecords_, n);
            store_.commit(layer_, n);
            imported += n;
            ended = n < recordsOf(next);
            ++next;
        }
        // An early end leaves the chunks after it to no one.
        stop_.store(true, std::memory_order_relaxed);
        for (std::thread& h : helpers) h.join();
        return imported;
    }

private:
    std::size_t recordsOf(std::size_t chunk) const {
        return static_cast<std::size_t>(
            std::min<std::uint64_t>(chunkRecords_, count_ - std::uint64_t{chunk} * chunkRecords_));
    }

    // One thread's share of the decoding: its own record buffer and decoder.
    class Decoding {
    public:
        explicit Decoding(LayerImport& job)
            : job_(job), raw_(job.chunkRecords_ * job.length_), decoder_(job.las_.info()) {}

        // Claims, reads and decodes the next chunk. False when none is left.
        bool decodeNext() {
            if (job_.stop_.load(std::memory_order_relaxed)) return false;
            const std::size_t chunk = job_.nextChunk_.fetch_add(1, std::memory_order_relaxed);
            if (chunk >= job_.chunks_) return false;
            const std::size_t want = job_.recordsOf(chunk);
            const std::uint64_t at = std::uint64_t{chunk} * job_.chunkRecords_;
            const std::size_t got =
                chunk == 0 ? job_.las_.readRecords(want, raw_.data())
                           : job_.las_.readRecordsAt(job_.first_ + at, want, raw_.data());
            decoder_.decodeWithRange(raw_.data(), job_.length_, got, job_.slots_ + at);
            // A short chunk ends the import: no one needs the chunks after it.
            if (got < want) job_.stop_.store(true, std::memory_order_relaxed);
            // Release: the points happen-before the publishing thread's acquire of the state.
            job_.decoded_[chunk].store(static_cast<std::uint32_t>(got) + 1,
                                       std::memory_order_release);
            job_.decoded_[chunk].notify_all();
            return true;
        }

    private:
        LayerImport& job_;
        std::vector<std::uint8_t> raw_;
        LasRecordDecoder decoder_;
    };

    LasFile& las_; // the helpers only use its positioned reads
    CloudStore& store_;
    const std::uint32_t layer_;
    CloudPoint* const slots_;
    const std::uint64_t first_, count_;
    const std::size_t length_, chunkRecords_, chunks_;
    // Per chunk: 0 until decoded, then the records decoded + 1.
    std::unique_ptr<std::atomic<std::uint32_t>[]> decoded_;
    std::atomic<std::size_t> nextChunk_{0};
    std::atomic<bool> stop_{false};
};

} // namespace

std::uint64_t fillLayerFromLas(LasFile& las, CloudStore& store, std::uint32_t l) {
    std::uint64_t read = 0;
    const std::uint64_t total = las.pointRecordCount();
    // The records that fit the layer's countable slots are imported in bulk.
    if (las.isReading() && las.pointsRead() < total) {
        const std::uint64_t first = las.pointsRead();
        const std::uint64_t count = std::min<std::uint64_t>(total - first, store.room(l));
        if (count > 0) {
            // Imported points come from no recording: their side records say nothing.
            if (store.layer(l).extras) std::fill_n(&store.nextExtra(l), count, PointExtra{});
            bool ended = false;
            read = LayerImport(las, store, l, first, count).run(ended);
            las.continueAt(first + read, ended);
        }
    }
    // The rest one at a time: records past the last countable slot each replace the point in
    // the last slot (they still count in the statistics), and a layer without slots fills the
    // store's scratch point.
    while (read < total) {
        CloudPoint& slot = store.nextSlot(l);
        if (!las.readPoint(slot)) break;
        slot.range = lasRangeOf(slot.x, slot.y, slot.z);
        slot.valid = 1;
        store.nextExtra(l) = PointExtra{};
        store.addStatistics(l, slot.saturated != 0, slot.range, slot.amplitude, slot.snr, slot);
        store.commit(l);
        ++read;
    }
    return read;
}

} // namespace quarv
