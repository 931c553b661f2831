#include "gui/cloud/gl_cloud_renderer.hpp"

#include <GL/gl.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quarv {

static_assert(sizeof(GlCloudRenderer::Vertex) == 16);

GlCloudRenderer::GlCloudRenderer(CloudRenderer& core) : core_(core) {
    vertices_.setUsagePattern(QOpenGLBuffer::StaticDraw);
    pickColours_.setUsagePattern(QOpenGLBuffer::StaticDraw);
    dragVertices_.setUsagePattern(QOpenGLBuffer::StaticDraw);
}

GlCloudRenderer::~GlCloudRenderer() = default;

void GlCloudRenderer::releaseGl() {
    vertices_.destroy();
    dragVertices_.destroy();
    pickColours_.destroy();
    pickColourCount_ = 0;
    vertexCount_ = 0;
    renderBatches_.clear();
    pickBatches_.clear();
    dragBatches_.clear();
}

bool GlCloudRenderer::buildDisplayList() {
    renderBatches_.clear();
    pickBatches_.clear();
    dragBatches_.clear();
    vertexCount_ = 0;
    if (!vertices_.isCreated()) {
        if (!vertices_.create()) return false;
        vertexCapacity_ = 0;
    }

    const CloudStore& store = core_.store();
    // The counts may still grow while the processing thread fills the current layer; points
    // beyond this snapshot's room wait for the next rebuild (the store is marked changed).
    const std::uint64_t total = core_.visibleLayerPointTotal();
    const std::uint32_t room =
        static_cast<std::uint32_t>(total < SELECT_CAPACITY ? total : SELECT_CAPACITY);
    vertices_.bind();
    Vertex* out = nullptr;
    std::vector<Vertex> staging;
    if (room > 0) {
        const std::uint64_t bytes = std::uint64_t{room} * sizeof(Vertex);
        // New storage only to grow, or to give back most of it once the cloud has shrunk.
        if (bytes > vertexCapacity_ || bytes < vertexCapacity_ / 4) {
            vertices_.allocate(static_cast<int>(bytes));
            vertexCapacity_ = bytes;
        }
        out = static_cast<Vertex*>(
            vertices_.mapRange(0, static_cast<int>(bytes),
                               QOpenGLBuffer::RangeWrite | QOpenGLBuffer::RangeInvalidate));
        if (!out) {
            staging.resize(room);
            out = staging.data();
        }
    }

    // The drag subsample: every k-th point of each run, in a compact buffer of its own so that a
    // drag frame reads a million neighbouring vertices, not a million scattered ones.
    std::uint64_t visible = 0;
    for (std::uint32_t l = 0; l < LAYER_COUNT; ++l) {
        if (store.layer(l).inUse) visible += store.countVisible(l, true);
    }
    dragStride_ =
        visible > budget_ ? static_cast<std::uint32_t>((visible + budget_ - 1) / budget_) : 1;
    dragBudget_ = budget_;
    std::vector<Vertex>& drag = drag_;
    drag.clear();
    if (dragStride_ > 1) drag.reserve(room / dragStride_ + LAYER_COUNT + 16);
    const auto subCount = [&] { return static_cast<std::uint32_t>(drag.size()); };

    // The size in effect follows GL's rules: a layer point size of 0 is refused by glPointSize,
    // so the size set before it stays (the base size at the start of the list).
    float current = baseSize_;
    float pickCurrent = baseSize_; // the pick pass sets only the layer sizes
    std::uint32_t n = 0;
    std::uint32_t runFirst = 0, dragFirst = 0;
    const auto closeRun = [&] {
        if (n > runFirst) renderBatches_.push_back({runFirst, n - runFirst, current});
        if (subCount() > dragFirst)
            dragBatches_.push_back({dragFirst, subCount() - dragFirst, current});
    };
    for (std::uint32_t l = 0; l < LAYER_COUNT && out; ++l) {
        const PointLayer& layer = store.layer(l);
        if (!layer.inUse || !layer.points) continue;
        const float layerSize = static_cast<float>(layer.pointSize);
        if (layerSize > 0) current = pickCurrent = layerSize;
        const std::uint32_t layerFirst = n;
        runFirst = n;
        dragFirst = subCount();
        const std::uint32_t count = store.pointCount(l);
        for (std::uint32_t i = 0; i < count && n < room; ++i) {
            const CloudPoint& p = layer.points[i];
            if (!p.isValid()) continue;
            const Rgb c = p.loadColor();
            const Vertex v{p.x, p.y, p.z, c.r, c.g, c.b, 0};
            out[n] = v;
            if (c == kHighlightColor) {
                closeRun();
                renderBatches_.push_back({n, 1, kHighlightPointSize});
                if (dragStride_ > 1) {
                    dragBatches_.push_back({subCount(), 1, kHighlightPointSize});
                    drag.push_back(v);
                }
                current = layerSize > 0 ? layerSize : kHighlightPointSize;
                runFirst = n + 1;
                dragFirst = subCount();
            } else if (dragStride_ > 1 && (n - runFirst) % dragStride_ == 0) {
                drag.push_back(v);
            }
            ++n;
        }
        closeRun();
        if (n > layerFirst) pickBatches_.push_back({layerFirst, n - layerFirst, pickCurrent});
    }
    if (!staging.empty()) {
        vertices_.write(0, staging.data(), static_cast<int>(std::uint64_t{n} * sizeof(Vertex)));
    } else if (out) {
        vertices_.unmap();
    }
    vertices_.release();
    vertexCount_ = n;

    if (!drag.empty() && (dragVertices_.isCreated() || dragVertices_.create())) {
        dragVertices_.bind();
        dragVertices_.allocate(drag.data(), static_cast<int>(drag.size() * sizeof(Vertex)));
        dragVertices_.release();
    }
    core_.clearDirty();
    return true;
}

bool GlCloudRenderer::ensurePickColours(std::uint32_t n) {
    if (n <= pickColourCount_) return true;
    if (!pickColours_.isCreated() && !pickColours_.create()) return false;
    // The colour of vertex k is the code of pick index k, whatever the cloud holds, so the buffer
    // only ever grows.
    std::vector<std::uint8_t> colours(std::size_t{n} * 4);
    for (std::uint32_t k = 0; k < n; ++k) {
        const Rgb c = pickColour(k);
        colours[std::size_t{k} * 4 + 0] = c.r;
        colours[std::size_t{k} * 4 + 1] = c.g;
        colours[std::size_t{k} * 4 + 2] = c.b;
    }
    pickColours_.bind();
    pickColours_.allocate(colours.data(), static_cast<int>(colours.size()));
    pickColours_.release();
    pickColourCount_ = n;
    return true;
}

void GlCloudRenderer::setSubsample(bool on, std::uint32_t budget) {
    subsample_ = on;
    budget_ = budget > 0 ? budget : 1;
}

void GlCloudRenderer::setBaseSize(float size) {
    if (size == baseSize_) return;
    baseSize_ = size;
    core_.markDirty(); // the batches carry the sizes
}

std::uint32_t GlCloudRenderer::subsampleStride() const {
    return subsample_ ? dragStride_ : 1;
}

void GlCloudRenderer::drawBatches(const std::vector<Batch>& batches, QOpenGLBuffer& buffer,
                                  bool pickColours) {
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    if (pickColours) {
        pickColours_.bind();
        glColorPointer(3, GL_UNSIGNED_BYTE, 4, nullptr);
    }
    buffer.bind();
    glVertexPointer(3, GL_FLOAT, sizeof(Vertex), nullptr);
    if (!pickColours) {
        glColorPointer(3, GL_UNSIGNED_BYTE, sizeof(Vertex),
                       reinterpret_cast<const void*>(offsetof(Vertex, r)));
    }
    for (const Batch& b : batches) {
        glPointSize(std::max(1.0f, b.size + static_cast<float>(sizeStep_)));
        glDrawArrays(GL_POINTS, static_cast<GLint>(b.first), static_cast<GLsizei>(b.count));
    }
    buffer.release();
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
}

int GlCloudRenderer::draw(unsigned mode) {
    if (mode == kGlSelect) {
        if (!vertices_.isCreated() || core_.dirty()) buildDisplayList();
        if (vertexCount_ > 0 && ensurePickColours(vertexCount_)) {
            glDisable(GL_DITHER); // the colours are codes: no dithering may touch them
            drawBatches(pickBatches_, vertices_, true);
            glEnable(GL_DITHER);
        }
    } else if (mode == kGlRender) {
        // A drag budget other than the one the subsample was made for needs a new subsample.
        if (!vertices_.isCreated() || core_.dirty() || (subsample_ && dragBudget_ != budget_)) {
            buildDisplayList();
        }
        glClear(GL_COLOR_BUFFER_BIT);
        if (vertexCount_ == 0) {
        } else if (subsample_ && dragStride_ > 1) {
            drawBatches(dragBatches_, dragVertices_, false);
        } else {
            drawBatches(renderBatches_, vertices_, false);
        }
        glFlush();
    }
    return 1;
}

} // namespace quarv
