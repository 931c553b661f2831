// The object behind quarv.Recording: one reader of one file, used by one call at a time.
#pragma once

#include "core/app/message_sink.hpp"
#include "core/scanfile/line_arrays.hpp"
#include "core/scanfile/playback_file.hpp"
#include "core/waveform/shot.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace quarv::python {

class Recording {
public:
    explicit Recording(const std::filesystem::path& path);
    const std::string& path() const { return path_; }
    const LineShape& shape() const { return shape_; }
    PlaybackFile& reader() { return reader_; }
    RecordingSink& sink() { return sink_; }

    // Line index from Python (negative from the end); IndexError outside the file.
    std::uint32_t lineIndex(std::int64_t line) const;
    // Runs a read of the reader without the GIL; raises quarv.Error with its messages on false.
    void read(const std::function<bool()>& fn);
    // What the matched filter of this file is set up with (its window replaced as given).
    ShotSettings shotSettings(std::optional<double> rangeMin, std::optional<double> rangeMax);

private:
    std::string path_;
    RecordingSink sink_;
    PlaybackFile reader_;
    LineShape shape_;
    std::mutex mutex_;
};

} // namespace quarv::python
