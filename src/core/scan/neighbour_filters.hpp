// The clutter filters that clean a layer after a run: a table of where each scan line starts in
// the layer, an isolated-point pass and a neighbour-count pass. A point's neighbours are the
// points next to it on its own line and, on the adjacent lines, the two points whose azimuth
// angles bracket its own. Both passes clear valid flags in place in index order, so a point
// cleared earlier in a pass no longer counts as a neighbour for the points after it.
#pragma once

#include "core/cloud/cloud_store.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

namespace quarv {

class Notifier;

class NeighbourFilters {
public:
    NeighbourFilters(CloudStore& store, Notifier& notifier);

    // Restarts the progress timer, progress 1, then records the index of the first point of
    // each line below `lines` (lines that never start keep 0, as does the end entry).
    void buildLineTable(std::uint32_t layer, std::uint32_t lines);
    // Keeps a valid point only when some candidate neighbour lies closer than the layer's
    // filter distance; progress over 30 steps.
    void isolatedPointFilter(std::uint32_t layer);
    // Keeps a valid point only when at least two of its candidate neighbours are near; progress
    // over 40 steps, then 0.
    void neighbourCountFilter(std::uint32_t layer);

    // Pair of point indices on an adjacent line bracketing an azimuth angle; -1 when none.
    struct Pair {
        std::int64_t first = -1, second = -1;
        bool found() const { return first >= 0; }
    };
    // The two points of line `adjacent` whose azimuth angles bracket `azimuth`. `hint` is the
    // second point found for the previous point of the same line (-1 when there is none) and is
    // updated when a pair is found.
    Pair findCrossLineNeighbours(std::uint32_t layer, float azimuth, std::uint32_t adjacent,
                                 std::int64_t& hint) const;

    // Euclidean distance of two slots, or 1e9 when either is missing or not valid. The squared
    // sum is rounded to f32 before the square root, as the filters have always compared it.
    double neighbourDistance(std::uint32_t layer, std::int64_t a, std::int64_t b) const;

    const std::vector<std::uint32_t>& lineStart() const { return lineStart_; }
    std::uint32_t lines() const { return lines_; }
    // Checked once per line: a set flag ends the pass early (shutdown).
    void setStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }

private:
    bool near(std::uint32_t layer, std::int64_t a, std::int64_t b, double d) const {
        return neighbourDistance(layer, a, b) < d;
    }
    int crossNear(std::uint32_t layer, std::int64_t j, std::uint32_t adjacent, std::int64_t& hint,
                  double d) const;
    std::int64_t start(std::uint32_t line) const { return lineStart_[line]; }
    void lineProgress(std::uint32_t line, int steps);
    bool stopping() const { return stop_ && stop_->load(std::memory_order_relaxed); }
    void testLineEnds(std::uint32_t layer, double d);

    CloudStore& store_;
    Notifier& notifier_;
    std::vector<std::uint32_t> lineStart_;
    std::uint32_t lines_ = 0;
    std::int64_t count_ = 0; // points of the layer when the pass began
    int progressBase_ = 0;
    std::chrono::steady_clock::time_point timer_{};
    const std::atomic<bool>* stop_ = nullptr;
};

} // namespace quarv
