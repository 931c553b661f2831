// 3DC cloud files: open, then the engine's rebuild of a layer from the file (the request a
// Process command on a ".3DC" name makes), checked against an independent walk over the line
// headers and point records: the rebuild makes exactly one point per record the file holds before
// the point total, a wrong marker or its end, and never reads more than the file holds.
#include "fuzz/fuzz_targets.hpp"

#include "core/app/message_sink.hpp"
#include "core/app/notifier.hpp"
#include "core/cloud/cloud_file.hpp"
#include "core/cloud/cloud_renderer.hpp"
#include "core/cloud/cloud_store.hpp"
#include "core/config/config_root.hpp"
#include "core/scan/scan_processor.hpp"

#include <algorithm>
#include <memory>

namespace quarv::fuzz {
namespace {

// One engine for the whole fuzzing run, as the workstation has one: its layers are reserved
// once and cost memory only as they fill.
struct Engine {
    NullSink sink;
    NullNotifier notifier;
    ConfigRoot root{scratchDir() / "engine-home"};
    std::unique_ptr<CloudStore> store = std::make_unique<CloudStore>();
    std::unique_ptr<CloudRenderer> renderer = std::make_unique<CloudRenderer>(*store);
    std::unique_ptr<ScanProcessor> processor =
        std::make_unique<ScanProcessor>(*store, *renderer, root, sink, notifier, 1);
};

Engine& engine() {
    static Engine e;
    return e;
}

// The records a rebuild can take: walked with a reader of its own.
std::uint64_t recordsInFile(const std::filesystem::path& path, std::size_t size) {
    NullSink sink;
    CloudFile file;
    require(file.open(path, sink), "a cloud file opens twice alike");
    const std::uint64_t total = file.cloudBlock().pointTotal;
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
            ++read;
        }
    }
    require(lineHeaders * kCloudLineHeaderSize + read * kCloudRecordSize <= size - kCloudHeaderSize,
            "the walk never reads more than the file holds");
    return read;
}

} // namespace

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
    const std::uint64_t records = recordsInFile(path, size);

    Engine& e = engine();
    e.processor->setLayer(0);
    require(e.processor->rebuildFromCloudFile(file), "the rebuild runs on an open file");
    const std::uint64_t expected = std::min<std::uint64_t>(records, CloudStore::MAX_LAYER_POINTS);
    require(e.store->pointCount(0) == expected, "one point per record the file holds");
    for (std::uint32_t i = 0; i < e.store->pointCount(0); ++i)
        require(e.store->point(0, i).sequence == i, "points numbered in file order");

    file.close();
    CloudRecord record{};
    require(!file.readPoint(record), "no record after close");
    return 0;
}

} // namespace quarv::fuzz
