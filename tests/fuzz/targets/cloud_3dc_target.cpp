// 3DC cloud files: open, then the rebuild's loop over line headers and point records until the
// file's point total is reached, a marker does not match or the file ends, each record decoded
// and placed through the scan geometry of the file's own header.
#include "fuzz/fuzz_targets.hpp"

#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_file.hpp"
#include "core/scan/geometry.hpp"

#include <cmath>

namespace quarv::fuzz {

int cloudFile3dc(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path path = writeScratch("input.3DC", data, size);
    RecordingSink sink;
    CloudFile file;
    if (!file.open(path, sink)) {
        require(!file.isOpen(), "a refused cloud file is closed");
        require(sink.messages().size() == 1, "a refused cloud file is reported once");
        CloudLineHeader line;
        require(!file.readLineHeader(line), "no line header without an open file");
        return 0;
    }
    require(size >= kCloudHeaderSize, "an opened cloud file holds its whole header");

    const CloudFileHeader& h = file.header();
    const double nWater = h.processing.refractiveIndex();
    const MountRotation mount = MountRotation::fromPanTilt(h.panTilt);
    const std::uint64_t total = file.cloudBlock().pointTotal;
    const std::uint64_t bytesAfterHeader = size - kCloudHeaderSize;
    std::uint64_t read = 0, lineHeaders = 0;
    bool ended = false;
    while (read < total && !ended) {
        CloudLineHeader line;
        if (!file.readLineHeader(line)) break;
        ++lineHeaders;
        for (std::uint32_t i = 0; i < line.recordCount; ++i) {
            CloudRecord record{};
            if (!file.readPoint(record)) {
                ended = true;
                break;
            }
            CloudPoint p;
            file.decode(record, p);
            // The whole metres are a signed byte: -128 is not written by us but can be read.
            require(p.range >= -128.0f && p.range <= 128.0f, "a decoded range is within +-128 m");
            const double elDeg = elevationDegrees(line.elevationReading, h.calibration);
            const BeamPath beam = traceBeam(p.azimuth, elDeg, h.calibration, nWater);
            p.range = static_cast<float>(placePoint(p, beam, p.range, h.calibration, mount));
            ++read;
        }
    }
    require(lineHeaders * kCloudLineHeaderSize + read * kCloudRecordSize <= bytesAfterHeader,
            "the rebuild never reads more than the file holds");
    file.close();
    CloudRecord record{};
    require(!file.readPoint(record), "no record after close");
    return 0;
}

} // namespace quarv::fuzz
