#include "core/cloud/cloud_renderer.hpp"

#include "core/viewer/color_ramp.hpp"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace quarv {

namespace {

constexpr Rgb kSaturatedColor{255, 0, 0};

// Maps an f32 key onto an unsigned integer with the same order (negative values below positive
// ones, both zeros adjacent), so the keys can be sorted a byte at a time.
inline std::uint32_t orderedBits(float key) {
    const std::uint32_t b = std::bit_cast<std::uint32_t>(key);
    return (b & 0x80000000u) ? ~b : (b | 0x80000000u);
}

// Ascending sort by key: four stable counting passes over the key bytes, skipping the bytes that
// all keys share. Equal keys end up in slot order; the ranking rule leaves their order open, and
// it is several times faster than a comparison sort on a full layer. The result is in `a`.
void sortByKey(SortEntry* a, SortEntry* scratch, std::uint32_t n) {
    std::uint32_t histogram[4][256] = {};
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t k = orderedBits(a[i].key);
        ++histogram[0][k & 255];
        ++histogram[1][(k >> 8) & 255];
        ++histogram[2][(k >> 16) & 255];
        ++histogram[3][k >> 24];
    }
    SortEntry* from = a;
    SortEntry* to = scratch;
    for (int pass = 0; pass < 4; ++pass) {
        std::uint32_t* h = histogram[pass];
        const std::uint32_t first = orderedBits(from[0].key);
        if (h[(first >> (8 * pass)) & 255] == n) continue; // every key has this byte
        std::uint32_t sum = 0;
        for (int b = 0; b < 256; ++b) {
            const std::uint32_t c = h[b];
            h[b] = sum;
            sum += c;
        }
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::uint32_t byte = (orderedBits(from[i].key) >> (8 * pass)) & 255;
            to[h[byte]++] = from[i];
        }
        std::swap(from, to);
    }
    if (from != a) std::memcpy(a, from, sizeof(SortEntry) * n);
}

} // namespace

CloudRenderer::CloudRenderer(CloudStore& store)
    : store_(store), sortBuffer_(std::size_t{LAYER_CAPACITY} * sizeof(SortEntry)),
      sortScratch_(std::size_t{LAYER_CAPACITY} * sizeof(SortEntry)),
      selectList_(std::size_t{SELECT_CAPACITY} * sizeof(const CloudPoint*)) {}

void CloudRenderer::buildPalette(std::uint32_t l) {
    const PointLayer& layer = store_.layer(l);
    auto channel = [](std::array<std::uint8_t, 256>& out, int s, int e) {
        // The increment comes before the first store: entry 0 is s + step, entry 255 e + step.
        const float step = static_cast<float>((e - s) / 255.0);
        float v = static_cast<float>(s);
        for (int i = 0; i < 256; ++i) {
            v = v + step;
            if (v > 255.0f) v = 255.0f;
            if (v < 0.0f) v = 0.0f;
            out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v);
        }
    };
    channel(paletteR_, layer.colorFrom.r, layer.colorTo.r);
    channel(paletteG_, layer.colorFrom.g, layer.colorTo.g);
    channel(paletteB_, layer.colorFrom.b, layer.colorTo.b);
}

void CloudRenderer::colorize(std::uint32_t l) {
    heightColoured_[l].store(false, std::memory_order_release);
    buildPalette(l);
    const std::uint32_t mode = store_.layer(l).colorMode;
    if (mode == kColorByAmplitudeRank)
        rankColorize(l, false);
    else if (mode == kColorBySnrRank)
        rankColorize(l, true);
    else
        rangeColorize(l);
}

void CloudRenderer::rankColorize(std::uint32_t l, bool bySnr) {
    CloudPoint* points = store_.layer(l).points;
    SortEntry* entries = sortBuffer_.as<SortEntry>();
    if (!points || !entries || !sortScratch_.data()) return;
    const std::uint32_t count = store_.pointCount(l);
    std::uint32_t n = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        CloudPoint& p = points[i];
        if (p.saturated) {
            p.storeColor(kSaturatedColor);
        } else if (p.isValid()) {
            entries[n++] = {bySnr ? p.snr : p.amplitude, i};
        }
    }
    if (n == 0) return;
    sortByKey(entries, sortScratch_.as<SortEntry>(), n);

    // Each palette colour covers w + 1 consecutive ranks; the last colour takes all the rest.
    const float step = static_cast<float>(n / 256.0 + 0.5);
    const auto w = static_cast<std::uint32_t>(step);
    std::uint32_t c = 0;
    for (std::uint32_t p = 0; p < n; p += w + 1) {
        const Rgb colour = palette(static_cast<int>(c));
        const std::uint32_t end = (n - p > w) ? p + w + 1 : n;
        for (std::uint32_t r = p; r < end; ++r) points[entries[r].index].storeColor(colour);
        if (c < 255) ++c;
    }
}

void CloudRenderer::rangeColorize(std::uint32_t l) {
    const PointLayer& layer = store_.layer(l);
    CloudPoint* points = layer.points;
    if (!points) return;
    const std::uint32_t count = store_.pointCount(l);
    const double lo = layer.rangeMin;
    const double span = static_cast<double>(layer.rangeMax) - lo;
    for (std::uint32_t i = 0; i < count; ++i) {
        CloudPoint& p = points[i];
        if (p.saturated) {
            p.storeColor(kSaturatedColor);
        } else if (p.isValid()) {
            // An empty window (rangeMax == rangeMin) makes the index undefined; its low 8 bits
            // are taken like any other, which gives entry 0.
            const std::int32_t index = truncToInt32((p.range - lo) / span * 255.0);
            p.storeColor(palette(static_cast<int>(static_cast<std::uint32_t>(index) & 255u)));
        }
    }
}

void CloudRenderer::filterLayer(std::uint32_t l) {
    const PointLayer& layer = store_.layer(l);
    CloudPoint* points = layer.points;
    if (!layer.inUse || !points) return;
    const std::uint32_t count = store_.pointCount(l);
    for (std::uint32_t i = 0; i < count; ++i) {
        CloudPoint& p = points[i];
        // One store of the final flag: a concurrent reader never sees a passing point flicker.
        const bool pass = passesLayerFilter(layer, p, layer.extras[i]);
        p.storeValid(pass ? 1 : 0);
    }
}

void CloudRenderer::colorByHeight(std::uint32_t l, const ColorRamp& ramp) {
    CloudPoint* points = store_.layer(l).points;
    if (!points) return;
    const std::uint32_t count = store_.pointCount(l);
    // ymax starts at 0, so it is never below 0.
    float ymin = 9e9f, ymax = 0.0f;
    for (std::uint32_t i = 0; i < count; ++i) {
        const CloudPoint& p = points[i];
        if (!p.isValid()) continue;
        if (p.y < ymin) ymin = p.y;
        if (p.y > ymax) ymax = p.y;
    }
    const double span = static_cast<double>(ymax) - ymin;
    heightMin_[l] = ymin;
    heightMax_[l] = ymax;
    heightColoured_[l].store(true, std::memory_order_release);
    for (std::uint32_t i = 0; i < count; ++i) {
        CloudPoint& p = points[i];
        if (!p.isValid()) continue;
        std::int32_t index = truncToInt32((p.y - static_cast<double>(ymin)) / span * 255.0);
        // A flat layer (ymax == ymin) gives 0 / 0; take the first entry rather than index
        // outside the ramp.
        if (index >= 256) index = 255;
        if (index < 0) index = 0;
        p.storeColor(ramp.at(index));
    }
}

std::uint32_t CloudRenderer::fillSelectList() {
    const CloudPoint** list = selectList_.as<const CloudPoint*>();
    std::uint32_t n = 0;
    if (list) {
        forEachVisible([&](std::uint32_t, const CloudPoint& p) {
            if (n < SELECT_CAPACITY) list[n++] = &p;
        });
    }
    selectCount_ = n;
    return n;
}

const CloudPoint* CloudRenderer::pointAtPickIndex(std::uint32_t n) const {
    // The enumeration order of CloudStore::forEachVisible, stopping at the n-th visible point.
    std::uint32_t k = 0;
    for (std::uint32_t l = 0; l < LAYER_COUNT; ++l) {
        const PointLayer& layer = store_.layer(l);
        if (!layer.inUse || !layer.points) continue;
        const std::uint32_t count = store_.pointCount(l);
        for (std::uint32_t i = 0; i < count; ++i) {
            const CloudPoint& p = layer.points[i];
            if (!p.isValid()) continue;
            if (k == n) return &p;
            ++k;
        }
    }
    return nullptr;
}

std::uint64_t CloudRenderer::visibleLayerPointTotal() const {
    std::uint64_t total = 0;
    for (std::uint32_t l = 0; l < LAYER_COUNT; ++l) {
        if (store_.layer(l).inUse) total += store_.pointCount(l);
    }
    return total;
}

CloudBounds CloudRenderer::bounds() const {
    CloudBounds b;
    forEachVisible([&](std::uint32_t, const CloudPoint& p) { b.add(p); });
    return b;
}

} // namespace quarv
