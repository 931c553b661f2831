#include "cli/processing_options.hpp"

#include "core/cloud/cloud_point.hpp"

#include <cmath>
#include <cstdio>

namespace quarv::cli {

const char* const kProcessingUsage =
    "[--home DIR] [--layer L] [--range-min M] [--range-max M] [--snr-min S]\n"
    "             [--filter-distance D] [--no-filter] [--show-saturated] [--returns N]\n"
    "             [--show-returns all|first|last|strongest]";

std::vector<std::string> processingFlags(std::vector<std::string> own) {
    own.insert(own.end(), {"no-filter", "show-saturated"});
    return own;
}

bool parseProcessingOptions(const Args& args, ProcessingOptions& out, std::string& problem) {
    const auto layer = args.number("layer");
    const auto rangeMin = args.number("range-min");
    const auto rangeMax = args.number("range-max");
    const auto snrMin = args.number("snr-min");
    const auto distance = args.number("filter-distance");
    const auto returns = args.number("returns");
    const auto shown = args.value("show-returns");
    if (!args.error().empty()) {
        problem = args.error();
        return false;
    }
    if (returns &&
        !(*returns >= 1 && *returns <= kMaxReturns && *returns == std::floor(*returns))) {
        problem = "--returns must be 1 to 4";
        return false;
    }
    const char* const kShown[] = {"all", "first", "last", "strongest"};
    std::optional<std::uint8_t> shownIndex;
    for (std::uint8_t i = 0; shown && i < 4; ++i)
        if (*shown == kShown[i]) shownIndex = i;
    if (shown && !shownIndex) {
        problem = "--show-returns must be all, first, last or strongest";
        return false;
    }
    const double layerValue = layer.value_or(0.0);
    if (layerValue < 0 || layerValue >= LAYER_COUNT || layerValue != std::floor(layerValue)) {
        problem = "--layer must be 0 to 4";
        return false;
    }
    out.layer = static_cast<std::uint32_t>(layerValue);
    const auto home = args.value("home");
    out.root = home ? ConfigRoot(*home) : ConfigRoot::fromEnvironment();
    LayerOverrides& o = out.overrides;
    if (rangeMin) o.rangeMin = static_cast<float>(*rangeMin);
    if (rangeMax) o.rangeMax = static_cast<float>(*rangeMax);
    if (snrMin) o.snrMin = static_cast<float>(*snrMin);
    o.filterDistance = distance;
    o.noFilter = args.flag("no-filter");
    o.showSaturated = args.flag("show-saturated");
    if (returns) o.returns = static_cast<std::uint8_t>(*returns);
    o.returnsShown = shownIndex;
    return true;
}

std::string ProcessingOptions::settingsText() const {
    // %a: the exact binary value, so two spellings of one number agree and no two values do.
    const auto number = [](const char* name, auto value) {
        char line[96] = "";
        if (value) std::snprintf(line, sizeof line, "%s %a\n", name, double(*value));
        return std::string(line);
    };
    const LayerOverrides& o = overrides;
    return "layer " + std::to_string(layer) + "\n" + number("range-min", o.rangeMin) +
           number("range-max", o.rangeMax) + number("snr-min", o.snrMin) +
           number("filter-distance", o.filterDistance) + (o.noFilter ? "no-filter\n" : "") +
           (o.showSaturated ? "show-saturated\n" : "") + number("returns", o.returns) +
           number("show-returns", o.returnsShown);
}

} // namespace quarv::cli
