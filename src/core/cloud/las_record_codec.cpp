#include "core/cloud/las_record_codec.hpp"

#include "core/cloud/las_file.hpp"
#include "core/config/bytes.hpp"

#include <algorithm>
#include <cstddef>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarv {

namespace {

// The amplitude a record's intensity stands for: intensity / 65535 of full scale.
inline float amplitudeOf(std::uint16_t intensity) {
    return static_cast<float>(intensity / 65535.0 * kLasFullScaleAmplitude);
}

} // namespace

void lasQuantiseColumn(const float* v, std::size_t n, double scale, std::int32_t* out) {
    std::size_t i = 0;
    if (scale != kLasScale) {
        for (; i < n; ++i) out[i] = lasQuantise(v[i], scale);
        return;
    }
#if defined(__SSE2__)
    // Four values at a time, each as lasQuantiseOwnScale computes it: widened, multiplied and
    // rounded up by a half in double precision, then truncated. The truncation gives INT32_MIN
    // where the clamps of the scalar rule would apply (NaN, out of range, and the few values
    // whose truncation is INT32_MIN anyway); such groups, rare in a cloud, are redone one by one.
    const __m128d inverse = _mm_set1_pd(kLasInverseScale), half = _mm_set1_pd(0.5);
    const __m128i indefinite = _mm_set1_epi32(std::numeric_limits<std::int32_t>::min());
    for (; i + 4 <= n; i += 4) {
        const __m128 f = _mm_loadu_ps(v + i);
        const __m128d lo = _mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(f), inverse), half);
        const __m128d hi = _mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(f, f)), inverse), half);
        const __m128i q = _mm_unpacklo_epi64(_mm_cvttpd_epi32(lo), _mm_cvttpd_epi32(hi));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), q);
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(q, indefinite)) != 0) {
            for (std::size_t j = i; j < i + 4; ++j) out[j] = lasQuantiseOwnScale(v[j]);
        }
    }
#endif
    for (; i < n; ++i) out[i] = lasQuantiseOwnScale(v[i]);
}

// lasIntensity of n amplitudes.
void lasIntensityColumn(const float* amplitude, std::size_t n, double scale, std::uint16_t* out) {
    std::size_t i = 0;
#if defined(__SSE2__)
    // Four at a time: the truncation's INT32_MIN for NaN and out-of-range products has the low
    // 16 bits 0 that lasIntensity gives them, and saturated lanes are set to all ones.
    const __m128d factor = _mm_set1_pd(scale), top = _mm_set1_pd(65535.0);
    const __m128 full = _mm_set1_ps(static_cast<float>(kLasFullScaleAmplitude));
    for (; i + 4 <= n; i += 4) {
        const __m128 a = _mm_loadu_ps(amplitude + i);
        const __m128d lo = _mm_mul_pd(_mm_cvtps_pd(a), factor);
        const __m128d hi = _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(a, a)), factor);
        const __m128i t = _mm_unpacklo_epi64(_mm_cvttpd_epi32(lo), _mm_cvttpd_epi32(hi));
        // The 64-bit masks of the double comparisons narrowed to one 32-bit mask per lane.
        const __m128 above =
            _mm_shuffle_ps(_mm_castpd_ps(_mm_cmpgt_pd(lo, top)),
                           _mm_castpd_ps(_mm_cmpgt_pd(hi, top)), _MM_SHUFFLE(2, 0, 2, 0));
        const __m128i saturated = _mm_castps_si128(_mm_or_ps(above, _mm_cmpge_ps(a, full)));
        // The low 16 bits of each lane, sign-extended so that the signed pack keeps them.
        const __m128i low = _mm_srai_epi32(_mm_slli_epi32(_mm_or_si128(t, saturated), 16), 16);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(low, low));
    }
#endif
    for (; i < n; ++i) out[i] = lasIntensity(amplitude[i], scale);
}

std::uint16_t lasIntensity(float amplitude, double intensityScale) {
    const double w = amplitude * intensityScale;
    // Low 16 bits of the truncated value: a negative amplitude wraps; NaN and values outside the
    // i32 range give 0, the low bits of truncToInt32's INT32_MIN. Selects, not branches, so that
    // the column loop of writePoints vectorises.
    const double t = (w > -2147483649.0 && w < 2147483648.0) ? w : 0.0;
    const auto low = static_cast<std::uint16_t>(
        static_cast<std::uint32_t>(static_cast<std::int32_t>(t)) & 0xFFFFu);
    // Amplitudes at or above full scale and values above 65535 after scaling saturate.
    return amplitude >= static_cast<float>(kLasFullScaleAmplitude) || w > 65535.0 ? 65535 : low;
}

void LasFile::encodeRecords(const float* x, const float* y, const float* z, const float* amplitude,
                            std::size_t n, bool edge, double scanAngle, double userData,
                            std::uint8_t* out) const {
    // Bytes 14 to 19 are the same in every record of the call: flags and classification 0, then
    // scan angle rank, user data and point source ID 1.
    const std::uint64_t flags = edge ? 0xC9 : 0x49;
    const std::uint32_t tail = lasLowByteOfRounded(scanAngle) |
                               static_cast<std::uint32_t>(lasLowByteOfRounded(userData)) << 8 |
                               std::uint32_t{1} << 16;
    // The columns are converted a block at a time into integer columns (vector code), then
    // interleaved into records.
    constexpr std::size_t kBlock = 512;
    std::array<std::int32_t, kBlock> qx, qy, qz;
    std::array<std::uint16_t, kBlock> qi;
    while (n > 0) {
        const std::size_t m = std::min(n, kBlock);
        lasQuantiseColumn(x, m, scale_[0], qx.data());
        lasQuantiseColumn(y, m, scale_[1], qy.data());
        lasQuantiseColumn(z, m, scale_[2], qz.data());
        lasIntensityColumn(amplitude, m, intensityScale_, qi.data());
        // A record as two 64-bit words and one 32-bit word, composed in registers.
        for (std::size_t i = 0; i < m; ++i, out += kLasRecordLength) {
            le::store<std::uint64_t>(out,
                                     static_cast<std::uint32_t>(qx[i]) |
                                         std::uint64_t{static_cast<std::uint32_t>(qy[i])} << 32);
            le::store<std::uint64_t>(out + 8, static_cast<std::uint32_t>(qz[i]) |
                                                  std::uint64_t{qi[i]} << 32 | flags << 48);
            le::store<std::uint32_t>(out + 16, tail);
        }
        x += m, y += m, z += m, amplitude += m;
        n -= m;
    }
}

LasRecordDecoder::LasRecordDecoder(const LasHeaderInfo& info)
    : scale_(info.scale), offset_(info.offset), rankAt_(info.pointFormat >= 6 ? 18 : 16),
      sourceAt_(info.pointFormat >= 6 ? 20 : 18) {}

inline float LasRecordDecoder::coordinate(const std::uint8_t* r, std::size_t axis) const {
    return static_cast<float>(le::i32(r + 4 * axis) * scale_[axis] + offset_[axis]);
}

// Our files carry the azimuth bytes in the scan angle rank (low) and user data (high), the
// elevation in the point source ID. The extended formats 6-10 keep user data at 17 but move the
// scan angle to a 16-bit field at 18 (its low byte stands in for the rank) and the source ID to 20.
inline std::int16_t LasRecordDecoder::azimuthWord(const std::uint8_t* r) const {
    return static_cast<std::int16_t>(r[rankAt_] | (r[17] << 8));
}

inline std::int16_t LasRecordDecoder::sourceWord(const std::uint8_t* r) const {
    return le::i16(r + sourceAt_);
}

inline void LasRecordDecoder::angles(const std::uint8_t* r) {
    const std::int16_t azimuth = azimuthWord(r), source = sourceWord(r);
    if (azimuth != lastAzimuthWord_) {
        lastAzimuthWord_ = azimuth;
        lastAzimuth_ = static_cast<float>(azimuth / 1485.0);
    }
    if (source != lastSourceWord_) {
        lastSourceWord_ = source;
        lastElevation_ = static_cast<float>(source / 1485.0);
    }
}

inline void LasRecordDecoder::put(const std::uint8_t* r, CloudPoint& p, float x, float y, float z,
                                  float range, float amplitude) {
    angles(r);
    const std::uint16_t intensity = le::u16(r + 12);
    p.x = x;
    p.y = y;
    p.z = z;
    p.color = Rgb{};
    p.azimuth = lastAzimuth_;
    p.elevation = lastElevation_;
    p.range = range;
    p.amplitude = amplitude;
    p.snr = static_cast<float>(intensity);
    p.saturated = intensity > 65534 ? 1 : 0;
    p.valid = 1;
    p.sequence = 0;
    p.line = 0;
    p.peakPosition = 0.0f;
}

void LasRecordDecoder::decode(const std::uint8_t* r, CloudPoint& p) {
    put(r, p, coordinate(r, 0), coordinate(r, 1), coordinate(r, 2), 0.0f,
        amplitudeOf(le::u16(r + 12)));
}

void LasRecordDecoder::decodeWithRange(const std::uint8_t* records, std::size_t length,
                                       std::size_t n, CloudPoint* out) {
    std::size_t i = 0;
#if defined(__SSE2__)
    // Four records at a time, each value computed as the scalar rules below compute it (the same
    // double-precision operations in the same order), the points written as three 16-byte stores
    // and one 4-byte store each.
    const __m128d scaleX = _mm_set1_pd(scale_[0]), scaleY = _mm_set1_pd(scale_[1]);
    const __m128d scaleZ = _mm_set1_pd(scale_[2]), offsetX = _mm_set1_pd(offset_[0]);
    const __m128d offsetY = _mm_set1_pd(offset_[1]), offsetZ = _mm_set1_pd(offset_[2]);
    const __m128d fullCount = _mm_set1_pd(65535.0);
    const __m128d fullScale = _mm_set1_pd(kLasFullScaleAmplitude);
    const __m128i low16 = _mm_set1_epi32(0xFFFF), saturatedCount = _mm_set1_epi32(65535);
    const __m128i saturatedBit = _mm_set1_epi32(0x0001), validBit = _mm_set1_epi32(0x0100);
    // Four int32 lanes as two pairs of doubles, scaled and offset, narrowed back to four floats.
    const auto coordinates = [](__m128i v, __m128d scale, __m128d offset) {
        const __m128d lo = _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(v), scale), offset);
        const __m128d hi =
            _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(v, 8)), scale), offset);
        return _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi));
    };
    const auto squares = [](__m128d x, __m128d y, __m128d z) {
        return _mm_add_pd(_mm_add_pd(_mm_mul_pd(x, x), _mm_mul_pd(y, y)), _mm_mul_pd(z, z));
    };
    for (; i + 4 <= n; i += 4, records += 4 * length) {
        // Bytes 0-15 of every point format: X, Y, Z, intensity and two more bytes. Transposed,
        // one register per field.
        const std::uint8_t* r = records;
        __m128 f0 = _mm_loadu_ps(reinterpret_cast<const float*>(r));
        __m128 f1 = _mm_loadu_ps(reinterpret_cast<const float*>(r + length));
        __m128 f2 = _mm_loadu_ps(reinterpret_cast<const float*>(r + 2 * length));
        __m128 f3 = _mm_loadu_ps(reinterpret_cast<const float*>(r + 3 * length));
        _MM_TRANSPOSE4_PS(f0, f1, f2, f3);
        __m128 x = coordinates(_mm_castps_si128(f0), scaleX, offsetX);
        __m128 y = coordinates(_mm_castps_si128(f1), scaleY, offsetY);
        __m128 z = coordinates(_mm_castps_si128(f2), scaleZ, offsetZ);
        const __m128i intensity = _mm_and_si128(_mm_castps_si128(f3), low16);
        const __m128d rangeLo =
            _mm_sqrt_pd(squares(_mm_cvtps_pd(x), _mm_cvtps_pd(y), _mm_cvtps_pd(z)));
        const __m128d rangeHi = _mm_sqrt_pd(squares(_mm_cvtps_pd(_mm_movehl_ps(x, x)),
                                                    _mm_cvtps_pd(_mm_movehl_ps(y, y)),
                                                    _mm_cvtps_pd(_mm_movehl_ps(z, z))));
        __m128 range = _mm_movelh_ps(_mm_cvtpd_ps(rangeLo), _mm_cvtpd_ps(rangeHi));
        const __m128d amplitudeLo =
            _mm_mul_pd(_mm_div_pd(_mm_cvtepi32_pd(intensity), fullCount), fullScale);
        const __m128d amplitudeHi = _mm_mul_pd(
            _mm_div_pd(_mm_cvtepi32_pd(_mm_srli_si128(intensity, 8)), fullCount), fullScale);
        __m128 amplitude = _mm_movelh_ps(_mm_cvtpd_ps(amplitudeLo), _mm_cvtpd_ps(amplitudeHi));
        const __m128 snr = _mm_cvtepi32_ps(intensity);
        // The angle words rarely change (never in our files): then the last angles serve all
        // four points, straight from registers.
        bool unchanged = true;
        for (std::size_t j = 0; j < 4; ++j) unchanged = unchanged & anglesAsBefore(r + j * length);
        __m128 az = _mm_set1_ps(lastAzimuth_), el = _mm_set1_ps(lastElevation_);
        if (!unchanged) {
            float azimuth[4], elevation[4];
            for (std::size_t j = 0; j < 4; ++j) {
                angles(r + j * length);
                azimuth[j] = lastAzimuth_;
                elevation[j] = lastElevation_;
            }
            az = _mm_setr_ps(azimuth[0], azimuth[1], azimuth[2], azimuth[3]);
            el = _mm_setr_ps(elevation[0], elevation[1], elevation[2], elevation[3]);
        }
        // Back to one register per point: x, y, z, colour and pad 0 / azimuth, elevation, range,
        // amplitude / snr, saturated and valid bytes, sequence 0, line 0.
        __m128 pad = _mm_setzero_ps();
        _MM_TRANSPOSE4_PS(x, y, z, pad);
        _MM_TRANSPOSE4_PS(az, el, range, amplitude);
        const __m128i flags = _mm_or_si128(
            validBit, _mm_and_si128(_mm_cmpeq_epi32(intensity, saturatedCount), saturatedBit));
        const __m128i lo = _mm_unpacklo_epi32(_mm_castps_si128(snr), flags);
        const __m128i hi = _mm_unpackhi_epi32(_mm_castps_si128(snr), flags);
        const __m128 first[4] = {x, y, z, pad};
        const __m128 second[4] = {az, el, range, amplitude};
        const __m128i third[4] = {_mm_move_epi64(lo), _mm_srli_si128(lo, 8), _mm_move_epi64(hi),
                                  _mm_srli_si128(hi, 8)};
        for (std::size_t j = 0; j < 4; ++j) {
            auto* p = reinterpret_cast<std::uint8_t*>(out + i + j);
            _mm_storeu_ps(reinterpret_cast<float*>(p), first[j]);
            _mm_storeu_ps(reinterpret_cast<float*>(p + 16), second[j]);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 32), third[j]);
            out[i + j].peakPosition = 0.0f;
        }
    }
#endif
    for (; i < n; ++i, records += length) {
        const float x = coordinate(records, 0), y = coordinate(records, 1);
        const float z = coordinate(records, 2);
        put(records, out[i], x, y, z, lasRangeOf(x, y, z), amplitudeOf(le::u16(records + 12)));
    }
}

#if defined(__SSE2__)
static_assert(sizeof(CloudPoint) == 52 && offsetof(CloudPoint, x) == 0 &&
                  offsetof(CloudPoint, y) == 4 && offsetof(CloudPoint, z) == 8 &&
                  offsetof(CloudPoint, color) == 12 && offsetof(CloudPoint, azimuth) == 16 &&
                  offsetof(CloudPoint, elevation) == 20 && offsetof(CloudPoint, range) == 24 &&
                  offsetof(CloudPoint, amplitude) == 28 && offsetof(CloudPoint, snr) == 32 &&
                  offsetof(CloudPoint, saturated) == 36 && offsetof(CloudPoint, valid) == 37 &&
                  offsetof(CloudPoint, sequence) == 40 && offsetof(CloudPoint, line) == 44 &&
                  offsetof(CloudPoint, peakPosition) == 48,
              "the vector stores of decodeWithRange follow this layout");
#endif

} // namespace quarv
