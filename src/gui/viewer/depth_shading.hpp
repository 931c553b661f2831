// Eye-dome lighting: a screen-space pass over the depth buffer of the frame just drawn that
// darkens each point by how far its neighbours lie in front of it (in log depth), which outlines
// depth discontinuities in a dense cloud. The frame's colours are multiplied by the shade, so a
// pixel without closer neighbours (and the background) keeps its colour exactly. The pick pass
// never runs it. GLSL 1.20 and a depth texture copied from the frame: Mesa's software renderer
// has both. All calls need the view's context current.
#pragma once

#include <QOpenGLShaderProgram>

#include <memory>

namespace quarv {

class DepthShading {
public:
    DepthShading();
    ~DepthShading();

    // Shades the frame in the bound frame buffer (viewport width x height) drawn with the given
    // near and far planes. False when the shader could not be made (the frame stays unshaded).
    bool apply(int width, int height, double zNear, double zFar);
    // Drops the GL objects; call with the context current before it goes away.
    void releaseGl();

    float strength = 1.0f; // darkening per unit of summed log2-depth difference (x 300)
    float radius = 1.0f;   // neighbour distance in pixels: the eight adjacent pixels

private:
    bool ensureProgram();
    std::unique_ptr<QOpenGLShaderProgram> program_;
    bool failed_ = false;
    unsigned texture_ = 0;
    int texWidth_ = 0, texHeight_ = 0;
};

} // namespace quarv
