// Little-endian field access on byte images. Every on-disk record of the system is decoded and
// encoded through these helpers, never by casting a struct over file bytes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quarv::le {

template <typename T> inline T load(const std::uint8_t* p) {
    static_assert(std::is_trivially_copyable_v<T>);
    T v;
    std::memcpy(&v, p, sizeof(T));
    if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) {
        auto* b = reinterpret_cast<std::uint8_t*>(&v);
        for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(b[i], b[sizeof(T) - 1 - i]);
    }
    return v;
}

template <typename T> inline void store(std::uint8_t* p, T v) {
    static_assert(std::is_trivially_copyable_v<T>);
    if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) {
        auto* b = reinterpret_cast<std::uint8_t*>(&v);
        for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(b[i], b[sizeof(T) - 1 - i]);
    }
    std::memcpy(p, &v, sizeof(T));
}

inline std::uint16_t u16(const std::uint8_t* p) {
    return load<std::uint16_t>(p);
}
inline std::int16_t i16(const std::uint8_t* p) {
    return load<std::int16_t>(p);
}
inline std::uint32_t u32(const std::uint8_t* p) {
    return load<std::uint32_t>(p);
}
inline std::int32_t i32(const std::uint8_t* p) {
    return load<std::int32_t>(p);
}
inline float f32(const std::uint8_t* p) {
    return load<float>(p);
}
inline double f64(const std::uint8_t* p) {
    return load<double>(p);
}

} // namespace quarv::le
