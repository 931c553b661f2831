#include "core/cloud/zeroed_pages.hpp"

#include <cstdint>
#include <sys/mman.h>

namespace quarv {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
} // namespace

ZeroedPages::ZeroedPages(std::size_t bytes) {
    if (bytes == 0 || bytes > SIZE_MAX - kHugePage) return;
    // One huge page more than asked, so that an aligned block of `bytes` fits inside; the unused
    // head and tail only hold address space, never memory.
    const std::size_t length = bytes + kHugePage;
    void* m = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) return;
    mapping_ = m;
    mappingBytes_ = length;
    const auto base = reinterpret_cast<std::uintptr_t>(m);
    const std::uintptr_t aligned = (base + kHugePage - 1) & ~std::uintptr_t{kHugePage - 1};
    data_ = reinterpret_cast<void*>(aligned);
#if defined(MADV_HUGEPAGE)
    // Advice only: refused (huge pages disabled), the block simply keeps small pages.
    ::madvise(data_, bytes, MADV_HUGEPAGE);
#endif
}

ZeroedPages& ZeroedPages::operator=(ZeroedPages&& other) noexcept {
    if (this != &other) {
        release();
        mapping_ = std::exchange(other.mapping_, nullptr);
        mappingBytes_ = std::exchange(other.mappingBytes_, 0);
        data_ = std::exchange(other.data_, nullptr);
    }
    return *this;
}

void ZeroedPages::release() {
    if (mapping_) ::munmap(mapping_, mappingBytes_);
    mapping_ = data_ = nullptr;
    mappingBytes_ = 0;
}

} // namespace quarv
