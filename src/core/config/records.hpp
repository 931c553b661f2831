// The scanner's fixed-size configuration records as they travel inside every recording header:
// byte images copied whole, with typed little-endian accessors for the fields the system reads.
#pragma once

#include "core/config/bytes.hpp"

#include <array>
#include <cstdint>
#include <string>

namespace quarv {

template <std::size_t N> struct ByteRecord {
    static constexpr std::size_t kSize = N;
    std::array<std::uint8_t, N> bytes{};

    std::uint8_t* data() { return bytes.data(); }
    const std::uint8_t* data() const { return bytes.data(); }
    bool operator==(const ByteRecord&) const = default;

protected:
    template <typename T> T get(std::size_t off) const { return le::load<T>(bytes.data() + off); }
    template <typename T> void put(std::size_t off, T v) { le::store<T>(bytes.data() + off, v); }
    // Fixed-width NUL-terminated text inside the record; a field without terminator is cut at
    // its width.
    std::string text(std::size_t off, std::size_t width) const;
    void setText(std::size_t off, std::size_t width, const std::string& s);
};

#define QUARV_FIELD(Type, name, Setter, off)                                                       \
    Type name() const {                                                                            \
        return get<Type>(off);                                                                     \
    }                                                                                              \
    void Setter(Type v) {                                                                          \
        put<Type>(off, v);                                                                         \
    }

struct ScannerCfg : ByteRecord<27> {
    QUARV_FIELD(std::uint16_t, shotsPerLine, setShotsPerLine, 0)
    QUARV_FIELD(std::uint16_t, pulsesPerPosition, setPulsesPerPosition, 2)
    QUARV_FIELD(std::uint16_t, lines, setLines, 4)
    QUARV_FIELD(float, azStartOpt, setAzStartOpt, 8)
    QUARV_FIELD(float, azStopOpt, setAzStopOpt, 12)
    QUARV_FIELD(float, elStartOpt, setElStartOpt, 16)
    QUARV_FIELD(float, elStopOpt, setElStopOpt, 20)
    QUARV_FIELD(std::uint8_t, scanType, setScanType, 24)
};

struct DigitizerCfg : ByteRecord<39> {
    QUARV_FIELD(std::uint16_t, samplesPerPulse, setSamplesPerPulse, 0)
    QUARV_FIELD(std::uint16_t, pulsesPerRecord, setPulsesPerRecord, 2)
    QUARV_FIELD(float, temperatureC, setTemperatureC, 34)
    QUARV_FIELD(std::uint8_t, gainCode, setGainCode, 38)
};

struct ProcessingCfg : ByteRecord<72> {
    QUARV_FIELD(double, refractiveIndex, setRefractiveIndex, 0)
    QUARV_FIELD(double, snrThreshold, setSnrThreshold, 8)
    QUARV_FIELD(double, interpolation, setInterpolation, 16)
    QUARV_FIELD(double, ctdTemperatureC, setCtdTemperatureC, 32)
    QUARV_FIELD(double, ctdSalinityPsu, setCtdSalinityPsu, 40)
    QUARV_FIELD(double, ctdPressureDbar, setCtdPressureDbar, 48)
    QUARV_FIELD(double, rangeMin, setRangeMin, 56)
    QUARV_FIELD(double, rangeMax, setRangeMax, 64)
};

struct EnvCfg : ByteRecord<226> {
    std::string scanPos() const { return text(0, 24); }
    void setScanPos(const std::string& s) { setText(0, 24, s); }
    QUARV_FIELD(std::uint8_t, scanNum, setScanNum, 24)
    std::string job() const { return text(25, 48); }
    void setJob(const std::string& s) { setText(25, 48, s); }
    std::string note() const { return text(73, 129); }
    void setNote(const std::string& s) { setText(73, 129, s); }
    std::string sensor() const { return text(202, 24); }
    void setSensor(const std::string& s) { setText(202, 24, s); }
};

struct PanTiltCfg : ByteRecord<16> {
    QUARV_FIELD(double, panAngle, setPanAngle, 0)
    QUARV_FIELD(double, tiltAngle, setTiltAngle, 8)
};

struct CalibrationCfg : ByteRecord<120> {
    QUARV_FIELD(float, timeOffsetNs, setTimeOffsetNs, 0)
    QUARV_FIELD(float, timeScale, setTimeScale, 4)
    QUARV_FIELD(float, azVoltToDegNeg, setAzVoltToDegNeg, 8)
    QUARV_FIELD(float, azVoltToDegPos, setAzVoltToDegPos, 12)
    QUARV_FIELD(float, elVoltToDegNeg, setElVoltToDegNeg, 16)
    QUARV_FIELD(float, elVoltToDegPos, setElVoltToDegPos, 20)
    QUARV_FIELD(double, tempCoefC2, setTempCoefC2, 32)
    QUARV_FIELD(double, tempCoefC1, setTempCoefC1, 40)
    QUARV_FIELD(double, tempCoefC0, setTempCoefC0, 48)
    QUARV_FIELD(float, xOffsetM, setXOffsetM, 60)
    QUARV_FIELD(float, yOffsetM, setYOffsetM, 64)
    QUARV_FIELD(float, zOffsetM, setZOffsetM, 68)
    QUARV_FIELD(float, frontGlassOffsetM, setFrontGlassOffsetM, 76)
};

// The attitude block of the recording header: pitch and roll are shown, and applied only by
// the survey export's levelling (core/geo/attitude.hpp).
struct AttitudeBlock : ByteRecord<24> {
    QUARV_FIELD(double, pitchAngle, setPitchAngle, 0)
    QUARV_FIELD(double, rollAngle, setRollAngle, 8)
};

#undef QUARV_FIELD

template <std::size_t N> std::string ByteRecord<N>::text(std::size_t off, std::size_t width) const {
    std::size_t len = 0;
    while (len < width && bytes[off + len] != 0) ++len;
    return std::string(reinterpret_cast<const char*>(bytes.data() + off), len);
}

template <std::size_t N>
void ByteRecord<N>::setText(std::size_t off, std::size_t width, const std::string& s) {
    for (std::size_t i = 0; i < width; ++i) bytes[off + i] = 0;
    const std::size_t n = s.size() < width - 1 ? s.size() : width - 1;
    for (std::size_t i = 0; i < n; ++i) bytes[off + i] = static_cast<std::uint8_t>(s[i]);
}

} // namespace quarv
