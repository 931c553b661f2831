#include "core/viewer/view_aids.hpp"

#include "core/app/message_sink.hpp"
#include "core/scan/geometry.hpp"
#include "core/viewer/color_ramp.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>

namespace quarv {

namespace {

std::string layerTitle(const PointLayer& layer, std::uint32_t l) {
    const std::string name = std::filesystem::path(layer.name.data()).filename().string();
    return formatMessage("Layer %u: %s", l + 1, name.empty() ? "(no file)" : name.c_str());
}

// The values at the ramp entries 0, 64, 128, 192 and 255 of a rank colouring: entry c covers the
// ranks from c * (w + 1) on (w as the colouring computes it), the last entry all that remain.
std::vector<LegendEntry::Tick> rankTicks(std::vector<float>& keys, bool counts) {
    std::vector<LegendEntry::Tick> ticks;
    const auto n = static_cast<std::uint32_t>(keys.size());
    if (n == 0) return ticks;
    const auto w = static_cast<std::uint32_t>(static_cast<float>(n / 256.0 + 0.5));
    const int entries[] = {0, 64, 128, 192, 255};
    for (int k = 0; k < 5; ++k) {
        std::uint64_t rank = std::uint64_t{static_cast<std::uint32_t>(entries[k])} * (w + 1);
        if (k == 4 || rank >= n) rank = n - 1; // the last colour holds the highest keys
        std::nth_element(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(rank),
                         keys.end());
        const double v = keys[rank];
        ticks.push_back({entries[k] / 255.0, formatMessage(counts ? "%.0f" : "%.1f", v)});
    }
    return ticks;
}

} // namespace

std::vector<LegendEntry> buildLegend(const CloudRenderer& renderer, const ColorRamp& ramp) {
    std::vector<LegendEntry> legend;
    const CloudStore& store = renderer.store();
    std::vector<float> keys;
    for (std::uint32_t l = 0; l < LAYER_COUNT; ++l) {
        const PointLayer& layer = store.layer(l);
        if (!layer.inUse || !layer.points) continue;
        const std::uint32_t count = store.pointCount(l);
        LegendEntry e;
        e.layer = l;
        e.title = layerTitle(layer, l);
        bool anyVisible = false, saturated = false;
        for (std::uint32_t i = 0; i < count; ++i) {
            const CloudPoint& p = layer.points[i];
            if (!p.isValid()) continue;
            anyVisible = true;
            saturated = saturated || p.saturated;
        }
        if (!anyVisible) continue;
        if (renderer.heightColoured(l)) {
            e.colouring = Colouring::Height;
            e.what = "height y (m)";
            for (int i = 0; i < 256; ++i) e.ramp[static_cast<std::size_t>(i)] = ramp.at(i);
            const double lo = renderer.heightMin(l), hi = renderer.heightMax(l);
            for (int k = 0; k <= 2; ++k)
                e.ticks.push_back({k / 2.0, formatMessage("%.2f", lo + (hi - lo) * k / 2.0)});
            legend.push_back(std::move(e));
            continue;
        }
        // The palette the colourings build for this layer, rebuilt here the same way.
        auto channel = [](int s, int t, int i) {
            const float step = static_cast<float>((t - s) / 255.0);
            float v = static_cast<float>(s);
            for (int k = 0; k <= i; ++k) v = std::clamp(v + step, 0.0f, 255.0f);
            return static_cast<std::uint8_t>(v);
        };
        for (int i = 0; i < 256; ++i)
            e.ramp[static_cast<std::size_t>(i)] = {channel(layer.colorFrom.r, layer.colorTo.r, i),
                                                   channel(layer.colorFrom.g, layer.colorTo.g, i),
                                                   channel(layer.colorFrom.b, layer.colorTo.b, i)};
        e.saturatedShown = saturated && layer.showSaturated;
        if (layer.colorMode == kColorByAmplitudeRank || layer.colorMode == kColorBySnrRank) {
            const bool bySnr = layer.colorMode == kColorBySnrRank;
            e.colouring = bySnr ? Colouring::SnrRank : Colouring::AmplitudeRank;
            // Equal ramp steps are equal numbers of points: the ticks are the quantiles.
            e.what = bySnr ? "SNR by rank, quantiles 0-25-50-75-100 %"
                           : "amplitude (counts) by rank, quantiles 0-25-50-75-100 %";
            keys.clear();
            for (std::uint32_t i = 0; i < count; ++i) {
                const CloudPoint& p = layer.points[i];
                if (p.isValid() && !p.saturated) keys.push_back(bySnr ? p.snr : p.amplitude);
            }
            e.ticks = rankTicks(keys, !bySnr);
        } else {
            e.colouring = Colouring::Range;
            e.what = "range (m)";
            const double lo = layer.rangeMin, hi = layer.rangeMax;
            for (int k = 0; k <= 2; ++k)
                e.ticks.push_back({k / 2.0, formatMessage("%.2f", lo + (hi - lo) * k / 2.0)});
        }
        legend.push_back(std::move(e));
    }
    return legend;
}

std::string describeLegend(const std::vector<LegendEntry>& legend) {
    std::string out;
    for (const LegendEntry& e : legend) {
        const Rgb a = e.ramp[0], b = e.ramp[255];
        out += formatMessage("%s | %s | ramp %d,%d,%d .. %d,%d,%d%s\n", e.title.c_str(),
                             e.what.c_str(), a.r, a.g, a.b, b.r, b.g, b.b,
                             e.saturatedShown ? " | red: saturated" : "");
        for (const auto& t : e.ticks)
            out += formatMessage("  %.3f %s\n", t.position, t.label.c_str());
    }
    return out;
}

bool fitCamera(OrbitCamera& camera, const CloudBounds& bounds, int width, int height,
               double margin) {
    if (bounds.count == 0 || width <= 0 || height <= 0) return false;
    OrbitCamera c = camera;
    c.setTarget((bounds.minX + bounds.maxX) / 2, (bounds.minY + bounds.maxY) / 2,
                (bounds.minZ + bounds.maxZ) / 2);
    c.panA = c.panB = 0;
    const double limit = 1.0 - margin;
    const double aspect = static_cast<double>(width) / height;
    // The corners' extent in normalised device coordinates; false when one lies behind the eye
    // or beyond the near or far plane.
    struct Extent {
        double x0 = 1e300, x1 = -1e300, y0 = 1e300, y1 = -1e300;
    };
    const auto extent = [&](Extent& e) {
        e = Extent{};
        const Mat4 m = multiply(c.projection(aspect), c.model());
        for (int k = 0; k < 8; ++k) {
            const double p[3] = {(k & 1) ? bounds.maxX : bounds.minX,
                                 (k & 2) ? bounds.maxY : bounds.minY,
                                 (k & 4) ? bounds.maxZ : bounds.minZ};
            double clip[4];
            for (int r = 0; r < 4; ++r)
                clip[r] = m[r] * p[0] + m[4 + r] * p[1] + m[8 + r] * p[2] + m[12 + r];
            if (!(clip[3] > 0) || std::fabs(clip[2] / clip[3]) >= 1.0) return false;
            e.x0 = std::min(e.x0, clip[0] / clip[3]);
            e.x1 = std::max(e.x1, clip[0] / clip[3]);
            e.y0 = std::min(e.y0, clip[1] / clip[3]);
            e.y1 = std::max(e.y1, clip[1] / clip[3]);
        }
        return true;
    };
    const auto fits = [&](float zoom) {
        c.zoom = zoom;
        Extent e;
        return extent(e) && e.x0 >= -limit && e.x1 <= limit && e.y0 >= -limit && e.y1 <= limit;
    };
    // The model translation moves the cloud away from the eye as the zoom grows, and not always
    // straight along the line of sight: search a geometric grid for the nearest zoom that fits,
    // close in on its lower edge, then pan the cloud's middle to the window's middle and search
    // again.
    const auto nearestZoom = [&] {
        float previous = 0, found = 0;
        for (float z = 0.01f; z < 2000.0f; z *= 1.05f) {
            if (fits(z)) {
                found = z;
                break;
            }
            previous = z;
        }
        if (found == 0) return false;
        float lo = previous, hi = found;
        for (int i = 0; i < 30 && previous > 0; ++i) {
            const float mid = (lo + hi) / 2;
            (fits(mid) ? hi : lo) = mid;
        }
        c.zoom = hi;
        return true;
    };
    if (!nearestZoom()) return false;
    const OrbitCamera fitted = c;
    for (int round = 0; round < 3; ++round) {
        // Newton steps on (panA, panB) towards the middle of the corners' extent at the centre.
        for (int step = 0; step < 4; ++step) {
            Extent e, ea, eb;
            const float h = 1e-3f;
            if (!extent(e)) break;
            c.panA += h;
            const bool okA = extent(ea);
            c.panA -= h;
            c.panB += h;
            const bool okB = extent(eb);
            c.panB -= h;
            if (!okA || !okB) break;
            const double mx = (e.x0 + e.x1) / 2, my = (e.y0 + e.y1) / 2;
            const double a = ((ea.x0 + ea.x1) / 2 - mx) / h, b = ((eb.x0 + eb.x1) / 2 - mx) / h;
            const double cc = ((ea.y0 + ea.y1) / 2 - my) / h, d = ((eb.y0 + eb.y1) / 2 - my) / h;
            const double det = a * d - b * cc;
            if (!(std::fabs(det) > 1e-12)) break;
            c.panA -= static_cast<float>((d * mx - b * my) / det);
            c.panB -= static_cast<float>((-cc * mx + a * my) / det);
        }
        if (!nearestZoom()) {
            c = fitted; // centring made it worse: keep the plain fit
            break;
        }
    }
    camera = c;
    return true;
}

void zoomTowards(OrbitCamera& camera, float factor, double ndcX, double ndcY, double aspect) {
    using V = std::array<double, 3>;
    const auto sub = [](V a, V b) { return V{a[0] - b[0], a[1] - b[1], a[2] - b[2]}; };
    const auto dot = [](V a, V b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; };
    const auto cross = [](V a, V b) {
        return V{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
    };
    const auto unit = [&](V a) {
        const double n = std::sqrt(dot(a, a));
        return n > 0 ? V{a[0] / n, a[1] / n, a[2] / n} : a;
    };
    // The ray from the eye (the origin) through the window position, in the frame the model
    // transform maps into.
    const V f = unit(camera.lookPoint());
    const V side = unit(cross(f, {0, 0, 1})), up = cross(side, f);
    const double h = std::tan(kFieldOfViewDeg / 2 * quarvPi() / 180);
    V r;
    for (int i = 0; i < 3; ++i) r[i] = f[i] + ndcX * h * aspect * side[i] + ndcY * h * up[i];
    // The model point on that ray at the distance of the target's image: q = T + d, with T the
    // model translation and d the rotated offset of that point from the target.
    const auto tr = camera.modelTranslation();
    const V t{tr[0], tr[1], tr[2]};
    const double lambda = std::sqrt(dot(t, t));
    const V d = sub(V{lambda * r[0], lambda * r[1], lambda * r[2]}, t);
    // The new translation is s' (a + panA A + panB B) with s' the new zoom x the model scale:
    // solve s' a + s' panA A + s' panB B + d = mu r for panA, panB and mu.
    camera.zoom *= factor;
    const double sc = static_cast<double>(camera.zoom) * kModelScale;
    const V a{camera.target[0] + camera.pan.cosA, camera.target[1] + camera.pan.sinA,
              camera.target[2]};
    const V colA{sc * camera.pan.signA, sc * camera.pan.signB, 0}, colB{0, 0, -sc};
    const V minusR{-r[0], -r[1], -r[2]};
    V rhs;
    for (int i = 0; i < 3; ++i) rhs[i] = -(sc * a[i] + d[i]);
    const double det = dot(colA, cross(colB, minusR));
    if (!(std::fabs(det) > 1e-12)) return;
    camera.panA = static_cast<float>(dot(rhs, cross(colB, minusR)) / det);
    camera.panB = static_cast<float>(dot(colA, cross(rhs, minusR)) / det);
}

bool buildScanImage(const CloudStore& store, std::uint32_t layer, ScanImage& image) {
    image.layer = layer;
    image.lines = image.shots = 0;
    const PointLayer& rec = store.layer(layer);
    const std::uint32_t count = store.pointCount(layer);
    if (!rec.points || !rec.extras) {
        image.pixels.clear();
        image.slot.clear();
        return false;
    }
    std::uint32_t lines = 0, shots = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (rec.extras[i].pulses == 0) continue;
        lines = std::max<std::uint32_t>(lines, rec.points[i].line + 1u);
        shots = std::max(shots, rec.extras[i].shot + 1u);
    }
    if (lines == 0 || std::uint64_t{lines} * shots > kScanImageMaxPixels) {
        image.pixels.clear();
        image.slot.clear();
        return false;
    }
    image.lines = lines;
    image.shots = shots;
    const std::size_t n = std::size_t{lines} * shots;
    image.pixels.assign(n, Rgb{});
    image.slot.assign(n, 0);
    for (std::uint32_t i = 0; i < count; ++i) {
        const PointExtra& x = rec.extras[i];
        if (x.pulses == 0) continue;
        const std::size_t at = std::size_t{rec.points[i].line} * shots + x.shot;
        // The first return of a shot stands for it; later returns fill only an empty pixel.
        if (image.slot[at] != 0 && x.returnNumber > 1) continue;
        const CloudPoint& p = rec.points[i];
        image.pixels[at] = p.isValid() ? p.loadColor() : kHiddenReturn;
        image.slot[at] = i + 1;
    }
    return true;
}

bool locateSlot(const CloudStore& store, const CloudPoint* p, std::uint32_t& layer,
                std::uint32_t& slot) {
    for (std::uint32_t l = 0; l < LAYER_COUNT; ++l) {
        const CloudPoint* first = store.layer(l).points;
        if (!first || std::less<const CloudPoint*>()(p, first)) continue;
        const auto i = static_cast<std::size_t>(p - first);
        if (i < store.pointCount(l)) {
            layer = l;
            slot = static_cast<std::uint32_t>(i);
            return true;
        }
    }
    return false;
}

std::optional<WaveformRef> waveformOf(const CloudStore& store, std::uint32_t layer,
                                      std::uint32_t slot) {
    if (layer >= LAYER_COUNT || slot >= store.pointCount(layer) || !store.layer(layer).extras)
        return std::nullopt;
    const PointExtra& x = store.extra(layer, slot);
    const char* name = store.layer(layer).name.data();
    if (x.pulses == 0 || !*name) return std::nullopt;
    return WaveformRef{name, store.point(layer, slot).line, x.shot};
}

} // namespace quarv
