// LAS files, ours and those of other tools: the header checks of openRead, then every announced
// record. A header the reader accepts must describe records that are all in the file.
#include "fuzz/fuzz_targets.hpp"

#include "core/app/message_sink.hpp"
#include "core/cloud/las_file.hpp"

#include <cmath>

namespace quarv::fuzz {

int lasFile(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path path = writeScratch("input.las", data, size);
    RecordingSink sink;
    LasFile las;
    if (!las.openRead(path, sink)) {
        require(sink.messages().size() == 1, "a refused LAS file is reported once");
        CloudPoint p;
        require(!las.readPoint(p), "no record from a refused file");
        return 0;
    }
    const LasHeaderInfo& info = las.info();
    require(info.recordLength >= lasMinimumRecordLength(info.pointFormat),
            "an accepted record length holds its point format");
    require(info.offsetToPoints <= size &&
                info.pointCount <= (size - info.offsetToPoints) / info.recordLength,
            "an accepted header announces no more records than the file holds");

    CloudPoint p;
    std::uint64_t read = 0;
    while (las.readPoint(p)) {
        require(p.valid == 1 && p.range == 0.0f, "a LAS record reads as a valid point, range 0");
        require(p.amplitude >= 0.0f && p.amplitude <= 875.0f, "amplitude within full scale");
        ++read;
    }
    require(read == las.pointRecordCount(), "every announced record is read, no more");
    require(las.pointsRead() == read, "pointsRead counts the records returned");
    require(!las.readPoint(p), "no record after the last");
    las.close();
    return 0;
}

} // namespace quarv::fuzz
