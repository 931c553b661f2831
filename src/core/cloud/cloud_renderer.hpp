// The layer operations that decide which points are visible and in which colour, and the
// enumeration that drawing, picking and export share. This is the part of the renderer that needs
// no OpenGL; the view's GL renderer holds a reference to it, compiles its display data from
// forEachVisible() whenever dirty() is set and clears the flag, and picks through
// pointAtPickIndex().
#pragma once

#include "core/cloud/cloud_store.hpp"
#include "core/cloud/int_convert.hpp"
#include "core/cloud/zeroed_pages.hpp"

#include <array>
#include <atomic>
#include <cstdint>

namespace quarv {

class ColorRamp;

// Work entry of the rank colouring: the ranking key and the slot it belongs to.
struct SortEntry {
    float key;
    std::uint32_t index;
};

// The layer filter's rule: a point is shown when it lies in the layer's range window, reaches its
// SNR limit, is not saturated (unless the layer shows saturated points) and is one of the
// returns of its pulse the layer shows (a point with no return number is always one). NaN never
// passes.
inline bool passesLayerFilter(const PointLayer& layer, const CloudPoint& p, const PointExtra& e) {
    if (p.saturated && !layer.showSaturated) return false;
    if (e.numberOfReturns > 1) {
        switch (layer.returnsShown) {
        case kShowFirstReturn:
            if (e.returnNumber != 1) return false;
            break;
        case kShowLastReturn:
            if (e.returnNumber != e.numberOfReturns) return false;
            break;
        case kShowStrongestReturn:
            if (e.returnNumber != e.strongestReturn) return false;
            break;
        default:
            break;
        }
    }
    return layer.rangeMin <= p.range && p.range <= layer.rangeMax && p.snr >= layer.snrMin;
}

class CloudRenderer {
public:
    explicit CloudRenderer(CloudStore& store);
    virtual ~CloudRenderer() = default;
    CloudRenderer(const CloudRenderer&) = delete;
    CloudRenderer& operator=(const CloudRenderer&) = delete;

    CloudStore& store() { return store_; }
    const CloudStore& store() const { return store_; }

    // The 256-entry palette of layer l from its colorFrom to its colorTo.
    void buildPalette(std::uint32_t l);
    // Palette, then rank colouring by amplitude (mode 3) or SNR (mode 2), else range colouring.
    void colorize(std::uint32_t l);
    // Rewrites the valid flag of every committed point of layer l from its range window, SNR
    // threshold and showSaturated; a layer not in use is left alone.
    void filterLayer(std::uint32_t l);
    // Colours the valid points of layer l from the ramp by their y coordinate.
    void colorByHeight(std::uint32_t l, const ColorRamp& ramp);
    // Whether layer l's colours are the height colouring's (set by colorByHeight, cleared by
    // colorize), and the y extent that colouring spread over the ramp.
    bool heightColoured(std::uint32_t l) const {
        return heightColoured_[l].load(std::memory_order_acquire);
    }
    float heightMin(std::uint32_t l) const { return heightMin_[l]; }
    float heightMax(std::uint32_t l) const { return heightMax_[l]; }

    // Visible points of all layers in use, in enumeration order: fn(layer, point).
    template <typename Fn> void forEachVisible(Fn&& fn) const {
        store_.forEachVisible(static_cast<Fn&&>(fn));
    }
    // Writes references to the visible points into the select list; returns how many.
    std::uint32_t fillSelectList();
    const CloudPoint* const* selectList() const { return selectList_.as<const CloudPoint*>(); }
    std::uint32_t selectCount() const { return selectCount_; }
    // The point with pick index n, or null when no visible point has that index.
    const CloudPoint* pointAtPickIndex(std::uint32_t n) const;
    // Sum of the counts of the layers in use (visible or not).
    std::uint64_t visibleLayerPointTotal() const;
    // Position and amplitude extent and number of the visible points of the layers in use.
    CloudBounds bounds() const;

    std::uint8_t paletteR(int i) const { return paletteR_[static_cast<std::size_t>(i)]; }
    std::uint8_t paletteG(int i) const { return paletteG_[static_cast<std::size_t>(i)]; }
    std::uint8_t paletteB(int i) const { return paletteB_[static_cast<std::size_t>(i)]; }
    Rgb palette(int i) const { return {paletteR(i), paletteG(i), paletteB(i)}; }

    // Display data must be rebuilt before the next draw. Set at construction and by whoever
    // changes points, colours or filter marks; cleared by the GL renderer after a rebuild.
    bool dirty() const { return dirty_.load(std::memory_order_acquire); }
    void markDirty() { dirty_.store(true, std::memory_order_release); }
    void clearDirty() { dirty_.store(false, std::memory_order_release); }

private:
    void rankColorize(std::uint32_t l, bool bySnr);
    void rangeColorize(std::uint32_t l);

    CloudStore& store_;
    std::array<std::uint8_t, 256> paletteR_{}, paletteG_{}, paletteB_{};
    ZeroedPages sortBuffer_;
    ZeroedPages sortScratch_; // second buffer of the key sort
    ZeroedPages selectList_;
    std::uint32_t selectCount_ = 0;
    std::atomic<bool> dirty_{true};
    std::array<std::atomic<bool>, LAYER_COUNT> heightColoured_{};
    std::array<float, LAYER_COUNT> heightMin_{}, heightMax_{};
};

} // namespace quarv
