// What the view shows beside the points, computed without any GL: the colour legend of the layers
// in use, the camera placement that fits the visible cloud into the window, the scan image (a
// layer's recording as lines x shots in the view's colours) and the way back from a drawn point
// to its slot and to the waveform behind it. The view only paints what these return.
#pragma once

#include "core/cloud/cloud_renderer.hpp"
#include "core/viewer/camera.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quarv {

class ColorRamp;

enum class Colouring { Range, AmplitudeRank, SnrRank, Height };

// One layer's entry: its ramp (entry 0 at the low end) and labelled positions along it.
struct LegendEntry {
    std::uint32_t layer = 0;
    std::string title; // "Layer 1: harbour.raw"
    std::string what;  // "range (m)", "amplitude rank (counts)", "SNR rank", "height y (m)"
    Colouring colouring = Colouring::Range;
    std::array<Rgb, 256> ramp{};
    struct Tick {
        double position = 0; // 0 (ramp entry 0) to 1 (entry 255)
        std::string label;
    };
    std::vector<Tick> ticks;
    bool saturatedShown = false; // the layer shows saturated points, drawn in pure red
};

// The legend of every layer in use with visible points, in layer order. Range colouring is
// labelled by the layer's window in metres, the rank colourings by the values at the 0, 25, 50,
// 75 and 100 % quantiles of the ranked points, height by the y extent the colouring used.
std::vector<LegendEntry> buildLegend(const CloudRenderer& renderer, const ColorRamp& ramp);
// The legend as text, one line per entry and tick (for logs and tests).
std::string describeLegend(const std::vector<LegendEntry>& legend);

// Points the camera at the centre of the bounds, keeps its rotation, clears the pan and chooses
// the nearest zoom at which every corner of the bounds projects inside the window with a margin
// of `margin` (fraction of the half-window). False, camera unchanged, without visible points.
bool fitCamera(OrbitCamera& camera, const CloudBounds& bounds, int width, int height,
               double margin = 0.06);

// Multiplies the zoom by `factor` and pans so that the model point seen through window position
// (ndcX, ndcY) (normalised device coordinates, -1 to 1) at the target's distance stays under it:
// zooming towards the cursor. Without a usable pan (the ray along both pan directions) only the
// zoom changes.
void zoomTowards(OrbitCamera& camera, float factor, double ndcX, double ndcY, double aspect);

// A layer's recording as an image: row = line, column = shot. Pixels without a return are black,
// returns the filters hide dark grey, visible returns their colour in the view. `slot` holds the
// slot + 1 of the point behind each pixel (0: none) for picking a shot from the image.
struct ScanImage {
    std::uint32_t layer = 0;
    std::uint32_t lines = 0, shots = 0;
    std::vector<Rgb> pixels;
    std::vector<std::uint32_t> slot;
    Rgb at(std::uint32_t line, std::uint32_t shot) const {
        return pixels[static_cast<std::size_t>(line) * shots + shot];
    }
};
constexpr Rgb kHiddenReturn{48, 48, 48};
// Images beyond this many pixels are not made (a corrupt line or shot number must not allocate
// gigabytes).
constexpr std::uint64_t kScanImageMaxPixels = 64u << 20;
// False (image emptied) when the layer holds no point made from a recording.
bool buildScanImage(const CloudStore& store, std::uint32_t layer, ScanImage& image);

// The layer and slot of a point of the store; false for a point that is no slot of it.
bool locateSlot(const CloudStore& store, const CloudPoint* p, std::uint32_t& layer,
                std::uint32_t& slot);

// The recording, line and shot behind a slot; none for points that came from no recording.
struct WaveformRef {
    std::string path;
    std::uint32_t line = 0, shot = 0;
};
std::optional<WaveformRef> waveformOf(const CloudStore& store, std::uint32_t layer,
                                      std::uint32_t slot);

} // namespace quarv
