#include "gui/viewer/depth_shading.hpp"

#include <QOpenGLContext>
#include <QOpenGLFunctions>

#include <GL/gl.h>

namespace quarv {

namespace {

constexpr const char* kVertex = R"(#version 120
void main() {
    gl_TexCoord[0] = gl_MultiTexCoord0;
    gl_Position = gl_Vertex;
}
)";

// Depth-buffer values back to eye distance, then log2: equal steps in log depth give equal
// shading near and far. Eight neighbours; background (depth 1) neighbours add nothing.
constexpr const char* kFragment = R"(#version 120
uniform sampler2D depth;
uniform vec2 texel;
uniform float zNear;
uniform float zFar;
uniform float strength;
uniform float radius;
float logDepth(float d) {
    float ndc = 2.0 * d - 1.0;
    return log2(2.0 * zNear * zFar / (zFar + zNear - ndc * (zFar - zNear)));
}
float closer(vec2 uv, vec2 step, float here) {
    float n = texture2D(depth, uv + step * radius * texel).r;
    return n < 1.0 ? max(0.0, here - logDepth(n)) : 0.0;
}
void main() {
    vec2 uv = gl_TexCoord[0].xy;
    float d = texture2D(depth, uv).r;
    if (d >= 1.0) { gl_FragColor = vec4(1.0); return; }
    float here = logDepth(d);
    float sum = closer(uv, vec2(1.0, 0.0), here) + closer(uv, vec2(-1.0, 0.0), here) +
                closer(uv, vec2(0.0, 1.0), here) + closer(uv, vec2(0.0, -1.0), here) +
                closer(uv, vec2(0.7071, 0.7071), here) + closer(uv, vec2(-0.7071, 0.7071), here) +
                closer(uv, vec2(0.7071, -0.7071), here) + closer(uv, vec2(-0.7071, -0.7071), here);
    float shade = exp(-sum * 300.0 * strength / 8.0);
    gl_FragColor = vec4(shade, shade, shade, 1.0);
}
)";

} // namespace

DepthShading::DepthShading() = default;
DepthShading::~DepthShading() = default;

bool DepthShading::ensureProgram() {
    if (program_ || failed_) return !failed_;
    auto p = std::make_unique<QOpenGLShaderProgram>();
    if (!p->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertex) ||
        !p->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragment) || !p->link()) {
        failed_ = true; // no shading rather than a broken frame
        return false;
    }
    program_ = std::move(p);
    return true;
}

void DepthShading::releaseGl() {
    if (texture_) glDeleteTextures(1, &texture_);
    texture_ = 0;
    texWidth_ = texHeight_ = 0;
    program_.reset();
}

bool DepthShading::apply(int width, int height, double zNear, double zFar) {
    if (width <= 0 || height <= 0 || !ensureProgram()) return false;
    QOpenGLFunctions* f = QOpenGLContext::currentContext()->functions();
    f->glActiveTexture(GL_TEXTURE0);
    if (!texture_) glGenTextures(1, &texture_);
    glBindTexture(GL_TEXTURE_2D, texture_);
    if (width != texWidth_ || height != texHeight_) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT24, width, height, 0, GL_DEPTH_COMPONENT,
                     GL_UNSIGNED_INT, nullptr);
        texWidth_ = width;
        texHeight_ = height;
    }
    // The depth of the frame just drawn, from the bound frame buffer.
    glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, width, height);

    program_->bind();
    program_->setUniformValue("depth", 0);
    program_->setUniformValue("texel", 1.0f / width, 1.0f / height);
    program_->setUniformValue("zNear", static_cast<float>(zNear));
    program_->setUniformValue("zFar", static_cast<float>(zFar));
    program_->setUniformValue("strength", strength);
    program_->setUniformValue("radius", radius);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ZERO, GL_SRC_COLOR); // frame colour x shade
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2f(-1, -1);
    glTexCoord2f(1, 0);
    glVertex2f(1, -1);
    glTexCoord2f(1, 1);
    glVertex2f(1, 1);
    glTexCoord2f(0, 1);
    glVertex2f(-1, 1);
    glEnd();
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    program_->release();
    glDisable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
    glBindTexture(GL_TEXTURE_2D, 0);
    return true;
}

} // namespace quarv
