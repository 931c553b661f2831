// quarv-cli shot FILE --record K --pulse P [--range-min M] [--range-max M] [--home DIR]: processes
// one waveform of a recording the way the processing graphs dialog does and prints the numbers
// of every step as one JSON object on one line. K is the record index in the file (stare files:
// line x W + column), P the pulse within the record. The range options replace the search window
// of the file's processing record. Errors go to stderr: exit 1 for a file or record that cannot
// be processed, 2 for a usage error.
#include "core/waveform/shot.hpp"
#include "cli/commands.hpp"
#include "core/app/message_sink.hpp"
#include "core/config/config_root.hpp"
#include "core/scanfile/playback_file.hpp"
#include "core/waveform/waveform_processor.hpp"

#include <cmath>
#include <cstdio>
#include <memory>

namespace quarv::cli {
namespace {

constexpr const char* kUsage =
    "FILE --record K --pulse P [--range-min M] [--range-max M] [--home DIR]   process one "
    "waveform, print its numbers as JSON";

int usage(const std::string& problem) {
    if (!problem.empty()) std::fprintf(stderr, "quarv-cli shot: %s\n", problem.c_str());
    std::fprintf(stderr, "usage: quarv-cli shot %s\n", kUsage);
    return 2;
}

// A whole, non-negative number below `limit`.
bool wholeNumber(const std::optional<double>& v, double limit) {
    return v && *v >= 0 && *v < limit && std::floor(*v) == *v;
}

int runShot(int argc, char** argv) {
    const Args args(argc, argv, {});
    const auto record = args.number("record");
    const auto pulse = args.number("pulse");
    ShotRequest request;
    request.rangeMin = args.number("range-min");
    request.rangeMax = args.number("range-max");
    if (!args.error().empty()) return usage(args.error());
    if (args.positional().size() != 1) return usage("one recording expected");
    if (!wholeNumber(record, 18446744073709551616.0)) return usage("--record K needed");
    if (!wholeNumber(pulse, 4294967296.0)) return usage("--pulse P needed");
    request.record = static_cast<std::uint64_t>(*record);
    request.pulse = static_cast<std::uint32_t>(*pulse);

    StderrSink sink;
    const auto home = args.value("home");
    const ConfigRoot root = home ? ConfigRoot(*home) : ConfigRoot::fromEnvironment();
    if (!root.ensureCreated(sink)) return 1;
    PlaybackFile reader(sink);
    if (!reader.open(args.positional()[0])) return 1;
    auto processor = std::make_unique<WaveformProcessor>(root, sink);
    ShotResult result;
    if (!processShot(reader, *processor, request, result, sink)) return 1;
    std::printf("%s\n", shotJson(result).c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
}

const Registration kShot({"shot", kUsage, runShot});

} // namespace
} // namespace quarv::cli
