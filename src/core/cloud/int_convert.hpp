// Float-to-integer conversions with the results the file formats and colour indices rely on,
// defined for every input (no undefined behaviour on NaN or overflow).
#pragma once

#include <cstdint>
#include <limits>

namespace quarv {

// The integer a 32-bit truncating conversion gives, with the processor's "integer indefinite"
// (INT32_MIN) for NaN and values outside the i32 range instead of undefined behaviour.
inline std::int32_t truncToInt32(double v) {
    // The range check is written so that NaN fails it.
    if (!(v > -2147483649.0 && v < 2147483648.0)) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

} // namespace quarv
