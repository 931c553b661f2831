#include "core/cloud/cloud_store.hpp"

namespace quarv {

CloudStore::CloudStore() {
    static_assert(std::is_trivially_destructible_v<CloudPoint>);
    static_assert(std::is_trivially_destructible_v<PointExtra>);
    for (std::uint32_t l = 0; l < LAYER_COUNT; ++l) {
        // Untouched zero pages: 5 x 2.25 M slots reserve their address space here but cost
        // nothing until the pipeline writes them. CloudPoint is an aggregate of scalars whose
        // constructed value is all zero bytes, so the zeroed block is a block of constructed
        // slots.
        arrays_[l] = ZeroedPages(std::size_t{LAYER_CAPACITY} * sizeof(CloudPoint));
        extraArrays_[l] = ZeroedPages(std::size_t{LAYER_CAPACITY} * sizeof(PointExtra));
        // A layer is usable only with both arrays.
        if (arrays_[l].data() && extraArrays_[l].data()) {
            layers_[l].points = arrays_[l].as<CloudPoint>();
            layers_[l].extras = extraArrays_[l].as<PointExtra>();
        }
        layers_[l].inUse = 0;
        layers_[l].neighbourFilter = 1;
        layers_[l].filterDistance = 0.05;
    }
}

bool CloudStore::allocated() const {
    for (const auto& l : layers_) {
        if (!l.points) return false;
    }
    return true;
}

void CloudStore::setCurrentLayer(std::uint32_t l) {
    if (l >= LAYER_COUNT) l = LAYER_COUNT - 1;
    current_.store(l, std::memory_order_relaxed);
    counts_[l].store(0, std::memory_order_release);
    layers_[l].inUse = 1;
    markChanged();
}

void CloudStore::resetLayer(std::uint32_t l) {
    counts_[l].store(0, std::memory_order_release);
    PointLayer& r = layers_[l];
    r.maxX = r.maxY = r.maxZ = -kStatReset;
    r.minX = r.minY = r.minZ = kStatReset;
    r.rangeSeenMin = kStatReset;
    r.rangeSeenMax = -kStatReset;
    r.sumX = r.sumY = r.sumZ = 0.0;
    markChanged();
}

void CloudStore::resetAll() {
    for (std::uint32_t l = 0; l < LAYER_COUNT; ++l) resetLayer(l);
}

CloudPoint& CloudStore::nextSlot(std::uint32_t l) {
    CloudPoint* points = layers_[l].points;
    if (!points) return scratch_;
    // Only the filling thread advances the count, so its own relaxed load is current.
    return points[counts_[l].load(std::memory_order_relaxed)];
}

PointExtra& CloudStore::nextExtra(std::uint32_t l) {
    PointExtra* extras = layers_[l].extras;
    if (!extras) return scratchExtra_;
    return extras[counts_[l].load(std::memory_order_relaxed)];
}

bool CloudStore::centroid(std::uint32_t l, float& x, float& y, float& z) const {
    const std::uint32_t valid = countVisible(l, true);
    if (valid == 0) return false;
    const PointLayer& r = layers_[l];
    x = static_cast<float>(r.sumX / valid);
    y = static_cast<float>(r.sumY / valid);
    z = static_cast<float>(r.sumZ / valid);
    return true;
}

std::uint32_t CloudStore::countVisible(std::uint32_t l, bool includeSaturated) const {
    const CloudPoint* points = layers_[l].points;
    if (!points) return 0;
    const std::uint32_t n = pointCount(l);
    std::uint32_t visible = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        const CloudPoint& p = points[i];
        if (p.isValid() && (includeSaturated || !p.saturated)) ++visible;
    }
    return visible;
}

} // namespace quarv
