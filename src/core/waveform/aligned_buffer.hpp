// Work buffers of the waveform processing: 64-byte aligned blocks with zeroed padding after the
// usable entries, so that vector loads and stores past the last entry stay inside the block.
// They replace the system's signal-library allocator; allocation can be redirected for tests.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace quarv {

// Returns `bytes` bytes aligned to 64 (releasable with std::free), or null.
using AllocateFn = void* (*)(std::size_t bytes, void* context);

// Entries after the usable ones that vector code may touch.
constexpr std::size_t BUFFER_PAD_ENTRIES = 256;
// Larger requests are refused as failed allocations. The sizes come from a file's header
// (samples x interpolation factor), every processor holds eight such buffers and a run has up to
// six processors (dialog, engine, four workers), each buffer zeroed in full: at 2^21 entries a
// hostile header costs at most about 400 MB, while 65535 samples still interpolate 32 times.
constexpr std::size_t BUFFER_MAX_ENTRIES = std::size_t(1) << 21;

void* defaultAllocate(std::size_t bytes, void* context);

template <typename T> class AlignedBuffer {
public:
    // Releases the old block, then obtains `count` zeroed entries. On failure the buffer is left
    // empty and false is returned.
    bool allocate(std::size_t count, AllocateFn allocate, void* context) {
        block_.reset();
        size_ = 0;
        if (count > BUFFER_MAX_ENTRIES) return false;
        std::size_t bytes = (count + BUFFER_PAD_ENTRIES) * sizeof(T);
        bytes = (bytes + 63) / 64 * 64;
        void* p = (allocate ? allocate : defaultAllocate)(bytes, context);
        if (!p) return false;
        std::memset(p, 0, bytes);
        block_.reset(static_cast<T*>(p));
        size_ = count;
        return true;
    }
    T* data() { return block_.get(); }
    const T* data() const { return block_.get(); }
    std::size_t size() const { return size_; }

private:
    struct Free {
        void operator()(T* p) const { std::free(p); }
    };
    std::unique_ptr<T, Free> block_;
    std::size_t size_ = 0;
};

} // namespace quarv
