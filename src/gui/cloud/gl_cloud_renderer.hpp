// The GL half of the cloud renderer: the "display list" of the visible points, realised as one
// vertex buffer rebuilt whenever the core renderer is dirty, drawn in enumeration order with each
// layer's point size and the 8-pixel size for the highlight colour 255, 0, 1; and the pick pass
// that draws every visible point in the colour of its pick index. All calls need the view's GL
// context to be current.
#pragma once

#include "core/cloud/cloud_renderer.hpp"

#include <QOpenGLBuffer>

#include <cstdint>
#include <vector>

namespace quarv {

// OpenGL's mode names, as the view hands them to draw().
constexpr unsigned kGlRender = 0x1C00;
constexpr unsigned kGlSelect = 0x1C02;

constexpr float kHighlightPointSize = 8.0f;
constexpr Rgb kHighlightColor{255, 0, 1};

// During a drag at most about this many points are drawn.
constexpr std::uint32_t kDragPointBudget = 1'000'000;

class GlCloudRenderer {
public:
    explicit GlCloudRenderer(CloudRenderer& core);
    ~GlCloudRenderer();
    GlCloudRenderer(const GlCloudRenderer&) = delete;
    GlCloudRenderer& operator=(const GlCloudRenderer&) = delete;

    CloudRenderer& core() { return core_; }

    // Rebuilds the vertex data from the visible points and clears the dirty flag. False when no
    // buffer could be made (no context).
    bool buildDisplayList();
    // kGlRender: rebuild when dirty, clear the colour buffer, draw; kGlSelect: draw every visible
    // point in its pick-index colour, without clearing. Other modes draw nothing. Returns 1.
    int draw(unsigned mode);

    // While set, kGlRender draws a uniform subsample of at most about budget points (every k-th
    // point of each run, k = ceil(points / budget)); highlighted points are always drawn. The
    // subsample is made with the display data. The pick pass always draws everything.
    void setSubsample(bool on, std::uint32_t budget = kDragPointBudget);
    bool subsampling() const { return subsample_; }
    // The k of the subsample being drawn (1 = every point).
    std::uint32_t subsampleStride() const;

    // The point size in effect at the start of the display data (1 unless set), which a layer
    // with point size 0 keeps. Marks the display data for a rebuild when it changes.
    void setBaseSize(float size);
    float baseSize() const { return baseSize_; }

    // Pixels added to every point size as drawn (render and pick alike), never below 1 pixel.
    void setSizeStep(int step) { sizeStep_ = step; }
    int sizeStep() const { return sizeStep_; }

    // Drops the GL objects; call with the context current before it goes away.
    void releaseGl();

    std::uint32_t vertexCount() const { return vertexCount_; }

    // One run of points drawn with one point size.
    struct Batch {
        std::uint32_t first = 0, count = 0;
        float size = 1.0f;
        bool operator==(const Batch&) const = default;
    };
    const std::vector<Batch>& renderBatches() const { return renderBatches_; }
    const std::vector<Batch>& pickBatches() const { return pickBatches_; }
    const std::vector<Batch>& dragBatches() const { return dragBatches_; }

    // Interleaved vertex of the buffer: position and colour, 16 bytes.
    struct Vertex {
        float x, y, z;
        std::uint8_t r, g, b, pad;
    };

private:
    bool ensurePickColours(std::uint32_t n);
    void drawBatches(const std::vector<Batch>& batches, QOpenGLBuffer& buffer, bool pickColours);

    CloudRenderer& core_;
    QOpenGLBuffer vertices_{QOpenGLBuffer::VertexBuffer};
    QOpenGLBuffer pickColours_{QOpenGLBuffer::VertexBuffer};
    QOpenGLBuffer dragVertices_{QOpenGLBuffer::VertexBuffer};
    std::uint32_t pickColourCount_ = 0;
    std::uint32_t vertexCount_ = 0;
    // Bytes of storage behind vertices_: a rebuild that fits writes into it instead of having the
    // driver allocate (and the kernel fault in) a new store of up to 180 MB each time.
    std::uint64_t vertexCapacity_ = 0;
    std::vector<Vertex> drag_; // the drag subsample on its way to dragVertices_, kept for reuse
    std::vector<Batch> renderBatches_, pickBatches_, dragBatches_;
    float baseSize_ = 1.0f;
    int sizeStep_ = 0;
    bool subsample_ = false;
    std::uint32_t budget_ = kDragPointBudget;
    std::uint32_t dragBudget_ = kDragPointBudget; // the budget the subsample was made for
    std::uint32_t dragStride_ = 1;
};

// Encodes/decodes the pick index k as the colour (k >> 16, k >> 8, k) & 255.
inline Rgb pickColour(std::uint32_t k) {
    return {static_cast<std::uint8_t>((k >> 16) & 255), static_cast<std::uint8_t>((k >> 8) & 255),
            static_cast<std::uint8_t>(k & 255)};
}
inline std::uint32_t pickIndexOf(Rgb c) {
    return (std::uint32_t{c.r} << 16) | (std::uint32_t{c.g} << 8) | c.b;
}

} // namespace quarv
