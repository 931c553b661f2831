// One scan line of a recording of any record kind read as whole arrays, for callers that want a
// line at a time rather than single pulses (the Python module). A line is a line record, the W
// stare positions of a line, or a bowtie sweep; reads go straight into the caller's arrays.
#pragma once

#include "core/scanfile/playback_file.hpp"

#include <cstdint>
#include <span>

namespace quarv {

class MessageSink;

// The array sizes of one line of the open file.
struct LineShape {
    RecordKind kind = RecordKind::Line;
    std::uint32_t lines = 0;   // lines the file holds completely (at most the header's L)
    std::uint32_t shots = 0;   // P pulses of a line record, W stare positions, 4W bowtie pulses
    std::uint32_t pulses = 1;  // pulses per stare position (P); 1 for the other kinds
    std::uint32_t samples = 0; // samples per pulse (N); 0 for peak files
    std::uint32_t angles = 0;  // angle readings: W per line or stare line, 4W per bowtie sweep
    std::size_t values() const { return std::size_t{shots} * pulses; }
};
LineShape lineShapeOf(const PlaybackFile& reader);

// Each read fills arrays of the shape's sizes and returns false, with a message in `sink`, when
// the line is not in the file, an array is too short or the file's kind has no such values
// (waveforms of a peak file, peaks of a waveform file).

// shots x pulses x samples counts.
bool readLineWaveforms(PlaybackFile& reader, std::uint32_t line, std::span<std::int16_t> out,
                       MessageSink& sink);
// shots x pulses horizontal positions (s): the digitiser's delay, or a peak record's second value.
bool readLineHorizontalPositions(PlaybackFile& reader, std::uint32_t line, std::span<double> out,
                                 MessageSink& sink);
// `angles` azimuth and elevation readings (volts, as stored); a line record's single elevation
// is repeated for each of its azimuths.
bool readLineAngles(PlaybackFile& reader, std::uint32_t line, std::span<float> azimuth,
                    std::span<float> elevation, MessageSink& sink);
// Peak files: shots x pulses of each of the four values a peak record stores per pulse (peak
// position in interpolated samples, horizontal position, amplitude, SNR).
bool readLinePeaks(PlaybackFile& reader, std::uint32_t line, std::span<double> position,
                   std::span<double> horPos, std::span<double> amplitude, std::span<double> snr,
                   MessageSink& sink);

} // namespace quarv
