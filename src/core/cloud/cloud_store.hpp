// The in-memory point store: five layers of LAYER_CAPACITY preallocated slots with their settings
// and running statistics. The processing thread fills the current layer slot by slot; the view
// and the exports read the committed slots of every layer in use at the same time, without a
// lock: a slot is written completely before `commit` publishes it with a release store of the
// layer's count, and readers load the count with acquire and stop there.
#pragma once

#include "core/cloud/cloud_point.hpp"
#include "core/cloud/zeroed_pages.hpp"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace quarv {

// Position sums and bounds of the visible points of the layers in use.
struct CloudBounds {
    // The f32 values nearest to +-9e12: what a header reports when no point is visible.
    static constexpr float kStart = 9000000159744.0f;
    float minX = kStart, maxX = -kStart;
    float minY = kStart, maxY = -kStart;
    float minZ = kStart, maxZ = -kStart;
    double minAmplitude = kStart, maxAmplitude = -kStart;
    std::uint32_t count = 0;

    void add(const CloudPoint& p) {
        if (p.x < minX) minX = p.x;
        if (p.x > maxX) maxX = p.x;
        if (p.y < minY) minY = p.y;
        if (p.y > maxY) maxY = p.y;
        if (p.z < minZ) minZ = p.z;
        if (p.z > maxZ) maxZ = p.z;
        const double a = p.amplitude;
        if (a < minAmplitude) minAmplitude = a;
        if (a > maxAmplitude) maxAmplitude = a;
        ++count;
    }
};

class CloudStore {
public:
    // The last slot is never counted: once a layer holds MAX_LAYER_POINTS points every further
    // point is written into slot MAX_LAYER_POINTS and replaces the point there.
    static constexpr std::uint32_t MAX_LAYER_POINTS = LAYER_CAPACITY - 1;

    // Allocates the five point arrays. The memory comes zero-filled from the system and is only
    // touched as slots are written, so an unused layer costs no start-up time (an all-zero
    // CloudPoint is a constructed slot: colour 0, 0, 0).
    CloudStore();
    CloudStore(const CloudStore&) = delete;
    CloudStore& operator=(const CloudStore&) = delete;

    // False if a point array could not be allocated; such a layer never holds a point.
    bool allocated() const;

    std::uint32_t current() const { return current_.load(std::memory_order_relaxed); }

    PointLayer& layer(std::uint32_t l) { return layers_[l]; }
    const PointLayer& layer(std::uint32_t l) const { return layers_[l]; }
    // The five records in layer order, for the layer list reader and writer.
    PointLayer* layers() { return layers_.data(); }
    const PointLayer* layers() const { return layers_.data(); }

    // Slot i of layer l. Callers keep i below pointCount(l), or at it for the slot being filled.
    CloudPoint& point(std::uint32_t l, std::uint32_t i) { return layers_[l].points[i]; }
    const CloudPoint& point(std::uint32_t l, std::uint32_t i) const { return layers_[l].points[i]; }
    // The side record of slot i of layer l (same rules as point()).
    PointExtra& extra(std::uint32_t l, std::uint32_t i) { return layers_[l].extras[i]; }
    const PointExtra& extra(std::uint32_t l, std::uint32_t i) const { return layers_[l].extras[i]; }

    // Committed points of layer l; every slot below it is completely written.
    std::uint32_t pointCount(std::uint32_t l) const {
        return counts_[l].load(std::memory_order_acquire);
    }

    // Makes l current (indices above 4 select layer 4), empties it and marks it in use.
    void setCurrentLayer(std::uint32_t l);
    // Empties layer l and resets its bounding box, observed range extent and sums.
    void resetLayer(std::uint32_t l);
    void resetAll();

    // The side record of a committed slot given by its address (a picked point), or null when
    // the address is no committed slot of any layer.
    const PointExtra* extraOf(const CloudPoint* p) const {
        for (std::uint32_t l = 0; l < LAYER_COUNT; ++l) {
            const PointLayer& r = layers_[l];
            if (r.points && p >= r.points && p < r.points + pointCount(l))
                return &r.extras[p - r.points];
        }
        return nullptr;
    }

    // The slot to fill next in layer l (slot pointCount(l)).
    CloudPoint& nextSlot(std::uint32_t l);
    // The side record of that slot; written before commit like the slot itself.
    PointExtra& nextExtra(std::uint32_t l);
    // Slots that can still be filled and counted after pointCount(l): nextSlot(l) and the ones
    // after it in memory. 0 for a full layer or one whose array is missing.
    std::uint32_t room(std::uint32_t l) const {
        if (!layers_[l].points) return 0;
        return MAX_LAYER_POINTS - counts_[l].load(std::memory_order_relaxed);
    }

    // Widens the bounding box, sums and observed range extent by a valid point. The saturated,
    // amplitude and snr arguments are part of the pipeline's call and are not used.
    void addStatistics(std::uint32_t l, bool saturated, float range, float amplitude, float snr,
                       const CloudPoint& p) {
        (void)saturated, (void)amplitude, (void)snr;
        widenStatistics(layers_[l], range, p);
    }
    // The same for n points in order, each with its own range: the sums are added in the order
    // of the points, so the result is bit for bit that of n single calls.
    void addStatistics(std::uint32_t l, const CloudPoint* points, std::size_t n) {
        PointLayer& r = layers_[l];
        // Working copies in locals that the loop keeps in registers (r could alias the points).
        Statistics s{r.sumX, r.sumY, r.sumZ, r.maxX,         r.minX,        r.maxY,
                     r.minY, r.maxZ, r.minZ, r.rangeSeenMin, r.rangeSeenMax};
        for (std::size_t i = 0; i < n; ++i) widenStatistics(s, points[i].range, points[i]);
        r.sumX = s.sumX, r.sumY = s.sumY, r.sumZ = s.sumZ;
        r.maxX = s.maxX, r.minX = s.minX, r.maxY = s.maxY, r.minY = s.minY;
        r.maxZ = s.maxZ, r.minZ = s.minZ;
        r.rangeSeenMin = s.rangeSeenMin, r.rangeSeenMax = s.rangeSeenMax;
    }
    // Publishes the slot returned by nextSlot. The count never exceeds MAX_LAYER_POINTS.
    void commit(std::uint32_t l) { commit(l, 1); }
    // Publishes n slots from nextSlot on at once, all completely written (n <= room(l)).
    void commit(std::uint32_t l, std::uint32_t n) {
        if (!layers_[l].points) return;
        const std::uint32_t count = counts_[l].load(std::memory_order_relaxed);
        const std::uint32_t next = n > MAX_LAYER_POINTS - count ? MAX_LAYER_POINTS : count + n;
        // Release: every store into the slots happens-before a reader's acquire of the new count.
        counts_[l].store(next, std::memory_order_release);
        // After the count: a poller that takes the mark also sees these points.
        markChanged();
    }

    // Mean position of the valid points (sums over their number). False, outputs unchanged,
    // when no point of the layer is valid.
    bool centroid(std::uint32_t l, float& x, float& y, float& z) const;
    // Valid points among the committed ones; saturated points only with includeSaturated.
    std::uint32_t countVisible(std::uint32_t l, bool includeSaturated) const;

    // Visits the visible points of all layers in use in the enumeration order of drawing,
    // picking and export: layers 0 to 4, layers not in use skipped, slots 0 to count - 1,
    // points whose valid flag is clear skipped. fn(layer, point); the n-th call is pick index n.
    template <typename Fn> void forEachVisible(Fn&& fn) const {
        forEachLayerInUse([&fn](std::uint32_t l, const CloudPoint* points, std::uint32_t n) {
            for (std::uint32_t i = 0; i < n; ++i) {
                if (points[i].isValid()) fn(l, points[i]);
            }
        });
    }
    // The layers forEachVisible visits, in its order, each as fn(layer, slots, committed count)
    // for loops that test the valid flags themselves.
    template <typename Fn> void forEachLayerInUse(Fn&& fn) const {
        for (std::uint32_t l = 0; l < LAYER_COUNT; ++l) {
            const PointLayer& rec = layers_[l];
            if (rec.inUse && rec.points)
                fn(l, static_cast<const CloudPoint*>(rec.points), pointCount(l));
        }
    }

    // Set whenever a layer is emptied or a point committed; the view polls and clears it.
    void markChanged() { changed_.store(true, std::memory_order_release); }
    bool takeChanged() { return changed_.exchange(false, std::memory_order_acq_rel); }
    bool changed() const { return changed_.load(std::memory_order_acquire); }

private:
    // The running statistics of a layer, as PointLayer holds them.
    struct Statistics {
        double sumX, sumY, sumZ;
        float maxX, minX, maxY, minY, maxZ, minZ;
        float rangeSeenMin, rangeSeenMax;
    };
    // The one rule for both addStatistics: S is PointLayer or Statistics.
    template <typename S> static void widenStatistics(S& r, float range, const CloudPoint& p) {
        if (!p.valid) return;
        if (p.x > r.maxX) r.maxX = p.x;
        if (p.x < r.minX) r.minX = p.x;
        if (p.y > r.maxY) r.maxY = p.y;
        if (p.y < r.minY) r.minY = p.y;
        if (p.z > r.maxZ) r.maxZ = p.z;
        if (p.z < r.minZ) r.minZ = p.z;
        r.sumX += p.x;
        r.sumY += p.y;
        r.sumZ += p.z;
        if (range < r.rangeSeenMin) r.rangeSeenMin = range;
        if (range > r.rangeSeenMax) r.rangeSeenMax = range;
    }

    std::atomic<std::uint32_t> current_{0};
    std::array<PointLayer, LAYER_COUNT> layers_{};
    std::array<ZeroedPages, LAYER_COUNT> arrays_;
    std::array<ZeroedPages, LAYER_COUNT> extraArrays_;
    std::array<std::atomic<std::uint32_t>, LAYER_COUNT> counts_{};
    std::atomic<bool> changed_{false};
    CloudPoint scratch_{}; // stands in for the slot of a layer whose array is missing
    PointExtra scratchExtra_{};
};

} // namespace quarv
