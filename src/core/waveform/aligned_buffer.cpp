#include "core/waveform/aligned_buffer.hpp"

namespace quarv {

void* defaultAllocate(std::size_t bytes, void*) {
    return std::aligned_alloc(64, bytes);
}

} // namespace quarv
