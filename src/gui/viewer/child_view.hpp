// CChildView: the OpenGL view of the main frame. It keeps the orbit camera round its target,
// turns mouse drags into rotation, pan and zoom, draws the visible points through the GL
// renderer, and turns double-clicks into picks: point information, distance measurement between
// two points or two targets, or a new centre of rotation.
#pragma once

#include "core/viewer/camera.hpp"
#include "core/viewer/target_search.hpp"
#include "gui/cloud/gl_cloud_renderer.hpp"
#include "gui/viewer/pt_cloud_dlg.hpp"

#include <QOpenGLWidget>

#include <cstdint>
#include <memory>

namespace quarv {

class CloudRenderer;

// Pick modes: what a double-click does.
constexpr int kPickFirstPoint = 4;
constexpr int kPickSecondPoint = 5;
constexpr int kPickFirstTarget = 6;
constexpr int kPickSecondTarget = 7;
constexpr int kPickPointInfo = 8;
constexpr int kPickCentre = 9;

constexpr int kDisplayPointCloud = 3;

// Pixels searched on each side of the cursor for a picked point.
constexpr int kPickSearchRadius = 9;

class CChildView : public QOpenGLWidget {
    Q_OBJECT
public:
    explicit CChildView(QWidget* parent = nullptr);
    ~CChildView() override;

    // Attaches the point renderer (null detaches it). The GL half is created here and owned by
    // the view, because its buffers live in the view's context.
    void setRenderer(CloudRenderer* renderer);
    GlCloudRenderer* glRenderer() { return gl_.get(); }

    void resetCamera();
    void setTarget(float x, float y, float z);
    OrbitCamera& camera() { return camera_; }
    const OrbitCamera& camera() const { return camera_; }

    void setMotionMode(int mode);
    int motionMode() const { return mouse_.motionMode; }
    void setPickMode(int mode);
    int pickMode() const { return pickMode_; }
    void setDisplayMode(int mode) { displayMode_ = mode; }
    int displayMode() const { return displayMode_; }
    void setHasCloud(bool has) { hasCloud_ = has; }
    // The point size in pixels the view draws with where a layer sets none (its "Pt Size" 0):
    // the colour settings' point size; 0 means 1.
    void setBasePointSize(std::uint8_t size);
    float basePointSize() const { return baseSize_; }
    bool hasCloud() const { return hasCloud_; }

    // The cloud changed: rebuild the display data at the next paint and redraw.
    void cloudChanged();

    // Renders the pick pass and returns the pick index found in the 19 x 19 square round window
    // position (x, y), or -1 when every pixel there is background.
    std::int64_t pickIndexAt(int x, int y);
    // The double-click of the current pick mode at window position (x, y).
    void onDoubleClick(int x, int y);

    const CloudPoint* firstPoint() const { return firstPoint_; }
    PtCloudDlg& pointInfoDialog() { return pointInfo_; }
    TargetSearchParams& targetSearchParams() { return targetParams_; }
    bool dragging() const { return dragging_; }

signals:
    void pickModeChanged(int mode);
    void motionModeChanged(int mode);

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void setUpFrame();       // depth test, clear, lighting and smoothing off, projection
    void applyModelMatrix(); // onto the model-view matrix
    bool ask(const QString& text);
    void tell(const QString& text);
    bool askFirst(const CloudPoint& p);
    void measureTo(const CloudPoint& p);
    const CloudPoint* searchTarget(const CloudPoint& seed, CloudPoint& out);
    void releaseGl();

    CloudRenderer* renderer_ = nullptr;
    std::unique_ptr<GlCloudRenderer> gl_;
    OrbitCamera camera_;
    MouseControl mouse_;
    int width_ = 1, height_ = 1; // frame-buffer pixels
    double aspect_ = 1.0;
    int displayMode_ = kDisplayPointCloud;
    int pickMode_ = kPickPointInfo;
    bool hasCloud_ = false;
    float baseSize_ = 1.0f;
    bool dragging_ = false;
    const CloudPoint* firstPoint_ = nullptr;
    CloudPoint firstTarget_;  // a target's centroid, which is no slot of the store
    CloudPoint secondTarget_; // the same for the second end of a target measurement
    TargetSearchParams targetParams_;
    PtCloudDlg pointInfo_;
    QMetaObject::Connection contextConnection_;
};

} // namespace quarv
