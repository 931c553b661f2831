#include "core/scan/neighbour_filters.hpp"

#include "core/app/notifier.hpp"

#include <cmath>

namespace quarv {

namespace {
constexpr double kMissing = 1e9;     // distance of a missing or hidden neighbour
constexpr float kFlatSpan = 0.0001f; // adjacent line spanning no azimuth: start at its first point
constexpr auto kProgressPeriod = std::chrono::seconds(2);
} // namespace

NeighbourFilters::NeighbourFilters(CloudStore& store, Notifier& notifier)
    : store_(store), notifier_(notifier) {}

void NeighbourFilters::buildLineTable(std::uint32_t layer, std::uint32_t lines) {
    timer_ = std::chrono::steady_clock::now();
    progressBase_ = 1;
    notifier_.progress(1);
    lines_ = lines;
    // Entries 0 .. lines are the table; one more keeps "the line after the next" of the last
    // line inside the array.
    lineStart_.assign(static_cast<std::size_t>(lines) + 2, 0);
    count_ = store_.pointCount(layer);
    if (count_ == 0) return;
    std::uint32_t previous = store_.point(layer, 0).line;
    for (std::int64_t i = 0; i < count_; ++i) {
        const std::uint32_t line = store_.point(layer, static_cast<std::uint32_t>(i)).line;
        if (line != previous && line < lines) {
            lineStart_[line] = static_cast<std::uint32_t>(i);
            previous = line;
        }
    }
}

double NeighbourFilters::neighbourDistance(std::uint32_t layer, std::int64_t a,
                                           std::int64_t b) const {
    if (a < 0 || b < 0 || a >= count_ || b >= count_) return kMissing;
    const CloudPoint& p = store_.point(layer, static_cast<std::uint32_t>(a));
    const CloudPoint& q = store_.point(layer, static_cast<std::uint32_t>(b));
    if (!p.isValid() || !q.isValid()) return kMissing;
    const double dx = static_cast<double>(p.x) - q.x;
    const double dy = static_cast<double>(p.y) - q.y;
    const double dz = static_cast<double>(p.z) - q.z;
    const float squared = static_cast<float>(dx * dx + dy * dy + dz * dz);
    return std::sqrt(static_cast<double>(squared));
}

NeighbourFilters::Pair NeighbourFilters::findCrossLineNeighbours(std::uint32_t layer, float t,
                                                                 std::uint32_t adjacent,
                                                                 std::int64_t& hint) const {
    if (static_cast<std::size_t>(adjacent) + 1 >= lineStart_.size()) return {};
    const std::int64_t lo = start(adjacent);
    const std::int64_t hi = start(adjacent + 1);
    const auto azimuthAt = [&](std::int64_t i) {
        return store_.point(layer, static_cast<std::uint32_t>(i)).azimuth;
    };
    const auto exists = [&](std::int64_t i) { return i >= 0 && i < count_; };

    std::int64_t from = 0;
    if (hint >= 0 && exists(hint)) {
        from = store_.point(layer, static_cast<std::uint32_t>(hint)).sequence;
    } else {
        if (!exists(lo) || !exists(hi)) return {};
        const float e0 = azimuthAt(lo);
        const float e1 = azimuthAt(hi);
        const float lower = e0 < e1 ? e0 : e1;
        const float upper = e0 < e1 ? e1 : e0;
        if (!(t >= lower && t <= upper)) return {};
        from = lo;
        if (std::fabs(e1 - e0) > kFlatSpan) {
            const float share = std::fabs((t - e0) / (e1 - e0));
            from = lo + static_cast<std::int64_t>(static_cast<double>(share) *
                                                  static_cast<double>(hi - lo));
        }
    }
    if (from < lo || from >= hi) return {};

    const auto brackets = [&](std::int64_t a, std::int64_t b) {
        if (!exists(a) || !exists(b)) return false;
        const float ta = azimuthAt(a), tb = azimuthAt(b);
        return (ta <= t && tb >= t) || (ta >= t && tb <= t);
    };
    // Alternately one step up and one step down from the start until a bracketing pair turns
    // up or both directions have left the line.
    std::int64_t up = from, down = from;
    for (;;) {
        bool searched = false;
        if (up < hi) {
            searched = true;
            if (brackets(up, up + 1)) {
                hint = up + 1;
                return {up, up + 1};
            }
            ++up;
        }
        if (down >= lo) {
            searched = true;
            if (brackets(down, down - 1)) {
                hint = down - 1;
                return {down, down - 1};
            }
            --down;
        }
        if (!searched) return {};
    }
}

int NeighbourFilters::crossNear(std::uint32_t layer, std::int64_t j, std::uint32_t adjacent,
                                std::int64_t& hint, double d) const {
    const float t = store_.point(layer, static_cast<std::uint32_t>(j)).azimuth;
    const Pair pair = findCrossLineNeighbours(layer, t, adjacent, hint);
    if (!pair.found()) return 0;
    return (near(layer, j, pair.first, d) ? 1 : 0) + (near(layer, j, pair.second, d) ? 1 : 0);
}

void NeighbourFilters::lineProgress(std::uint32_t line, int steps) {
    const auto now = std::chrono::steady_clock::now();
    if (now - timer_ <= kProgressPeriod) return;
    timer_ = now;
    const double perStep = static_cast<double>(lines_) / steps;
    notifier_.progress(progressBase_ + static_cast<int>(line / perStep));
    notifier_.cloudChanged();
}

void NeighbourFilters::isolatedPointFilter(std::uint32_t layer) {
    if (lineStart_.size() < static_cast<std::size_t>(lines_) + 2) return;
    const double d = store_.layer(layer).filterDistance;
    count_ = store_.pointCount(layer);
    const auto valid = [&](std::int64_t i) {
        return i >= 0 && i < count_ && store_.point(layer, static_cast<std::uint32_t>(i)).isValid();
    };
    const auto hide = [&](std::int64_t i) {
        store_.point(layer, static_cast<std::uint32_t>(i)).storeValid(0);
    };

    for (std::uint32_t line = 0; line < lines_ && !stopping(); ++line) {
        lineProgress(line, 30);
        const std::int64_t lo = start(line), hi = start(line + 1);
        if (!(hi > lo)) continue;
        std::int64_t hintBefore = -1, hintAfter = -1; // hints are per line
        const bool first = line == 0;
        const bool last = !first && line + 1 == lines_;
        for (std::int64_t j = lo + 1; j < hi - 1; ++j) {
            if (!valid(j)) continue;
            bool keep = false;
            if (first) {
                keep = near(layer, j, j - 1, d) || near(layer, j, j + 1, d) ||
                       crossNear(layer, j, line + 1, hintAfter, d) > 0;
            } else if (last) {
                keep = near(layer, j, j - 1, d) || near(layer, j, j + 1, d) ||
                       crossNear(layer, j, line - 1, hintBefore, d) > 0;
            } else {
                keep = crossNear(layer, j, line - 1, hintBefore, d) > 0 ||
                       near(layer, j, j - 1, d) || near(layer, j, j + 1, d) ||
                       crossNear(layer, j, line + 1, hintAfter, d) > 0;
            }
            if (!keep) hide(j);
        }
    }
    if (!stopping()) testLineEnds(layer, d);
    progressBase_ += 30;
    notifier_.cloudChanged();
}

// The first and last points of the lines, which the pass above leaves out, each tested against
// its own short list of candidates (indices outside the layer count as missing).
void NeighbourFilters::testLineEnds(std::uint32_t layer, double d) {
    const auto test = [&](std::int64_t p, std::initializer_list<std::int64_t> candidates) {
        if (p < 0 || p >= count_) return;
        CloudPoint& point = store_.point(layer, static_cast<std::uint32_t>(p));
        if (!point.isValid()) return;
        for (std::int64_t c : candidates)
            if (near(layer, p, c, d)) return;
        point.storeValid(0);
    };
    const std::int64_t lines = lines_;
    const auto first = [&](std::int64_t line) -> std::int64_t {
        return line >= 0 && line <= lines ? start(static_cast<std::uint32_t>(line)) : -1;
    };

    std::int64_t p = first(0);
    test(p, {p + 1, first(2), first(2) + 1});
    p = first(1);
    test(p, {p - 2, p - 1, p + 1});
    p = count_ - 1;
    test(p, {p - 1, first(lines - 2), first(lines - 2) + 1});
    p = first(lines - 1);
    test(p, {p + 1, p - 2, p - 1});
    for (std::int64_t line = 1; line <= lines - 2; ++line) {
        p = first(line + 1) - 1;
        test(p,
             {p - 1, first(line - 1), first(line - 1) + 1, first(line + 1), first(line + 1) + 1});
    }
    for (std::int64_t line = 1; line <= lines - 3; ++line) {
        p = first(line);
        test(p, {p + 1, p - 2, p - 1, first(line + 2), first(line + 2) + 1});
    }
}

void NeighbourFilters::neighbourCountFilter(std::uint32_t layer) {
    if (lineStart_.size() < static_cast<std::size_t>(lines_) + 2) return;
    const double d = store_.layer(layer).filterDistance;
    count_ = store_.pointCount(layer);
    for (std::uint32_t line = 0; line < lines_ && !stopping(); ++line) {
        lineProgress(line, 40);
        const std::int64_t lo = start(line), hi = start(line + 1);
        std::int64_t hintBefore = -1, hintAfter = -1;
        const bool first = line == 0;
        const bool last = !first && line + 1 == lines_;
        for (std::int64_t j = lo + 2; j < hi - 2; ++j) {
            CloudPoint& point = store_.point(layer, static_cast<std::uint32_t>(j));
            if (!point.isValid()) continue;
            int nearCount = 0;
            for (std::int64_t k : {j - 2, j - 1, j + 1, j + 2}) nearCount += near(layer, j, k, d);
            if (!first) nearCount += crossNear(layer, j, line - 1, hintBefore, d);
            if (!last) nearCount += crossNear(layer, j, line + 1, hintAfter, d);
            point.storeValid(nearCount >= 2 ? 1 : 0);
        }
    }
    notifier_.progress(0);
    notifier_.cloudChanged();
}

} // namespace quarv
