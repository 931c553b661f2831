// Large zero-filled arrays taken straight from the system, for the point layers and the buffers
// sized to a full layer.
#pragma once

#include <cstddef>
#include <utility>

namespace quarv {

// Untouched anonymous pages: reserving the block costs nothing, each page is zero-filled by the
// kernel when first written. The block is aligned to 2 MB and offered to the kernel for huge
// pages, so that filling a 117 MB layer takes some sixty faults instead of tens of thousands of
// 4 KB ones (several hundred milliseconds on a virtual machine); where huge pages are not to be
// had the block works the same with small pages.
class ZeroedPages {
public:
    ZeroedPages() = default;
    // Empty (data() null) if the system refuses the address space.
    explicit ZeroedPages(std::size_t bytes);
    ~ZeroedPages() { release(); }
    ZeroedPages(ZeroedPages&& other) noexcept { *this = std::move(other); }
    ZeroedPages& operator=(ZeroedPages&& other) noexcept;
    ZeroedPages(const ZeroedPages&) = delete;
    ZeroedPages& operator=(const ZeroedPages&) = delete;

    void* data() const { return data_; }
    template <typename T> T* as() const { return static_cast<T*>(data_); }

private:
    void release();

    void* mapping_ = nullptr;
    std::size_t mappingBytes_ = 0;
    void* data_ = nullptr;
};

} // namespace quarv
