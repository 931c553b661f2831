// CChildView: the OpenGL view of the main frame. It keeps the orbit camera round its target,
// turns mouse drags into rotation, pan and zoom, draws the visible points through the GL
// renderer, and turns double-clicks into picks: point information, distance measurement between
// two points or two targets, or a new centre of rotation.
#pragma once

#include "core/viewer/camera.hpp"
#include "core/viewer/target_search.hpp"
#include "core/viewer/view_aids.hpp"
#include "gui/cloud/gl_cloud_renderer.hpp"
#include "gui/viewer/depth_shading.hpp"
#include "gui/viewer/pt_cloud_dlg.hpp"

#include <QImage>
#include <QOpenGLWidget>

#include <cstdint>
#include <memory>

namespace quarv {

class CloudRenderer;
class ColorRamp;

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

    // The ramp the height colouring uses, for the legend (null: no height legend).
    void setColorRamp(const ColorRamp* ramp) { ramp_ = ramp; }
    // Places the camera so that every visible point is in the window (rotation kept). False when
    // nothing is visible.
    bool fitCloud();
    // Wheel zoom: `notches` steps of the wheel, forwards (> 0) brings the cloud nearer, towards
    // window position `at`.
    void zoomBy(double notches, QPointF at);
    // Adds `step` pixels to every drawn point size (never below 1 pixel).
    void changePointSize(int step);
    int pointSizeStep() const { return sizeStep_; }
    void setDepthShading(bool on);
    bool depthShading() const { return depthShading_; }
    void setLegendShown(bool on);
    bool legendShown() const { return legendShown_; }
    const std::vector<LegendEntry>& legend() const { return legend_; }
    // Where the ramp bar of legend entry k lies in the window (empty when not drawn).
    QRect legendRampRect(std::size_t k) const;
    // The view as shown, legend included, at its current size.
    QImage snapshot();

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
    // Point Information's "Waveform": the recording, line and shot behind the point shown.
    void waveformRequested(const QString& path, unsigned line, unsigned shot);
    // The display data were rebuilt from the store (points, colours or filter marks changed).
    void displayRebuilt();

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
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
    void rebuildLegend();
    void paintLegend();

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
    DepthShading shading_;
    const ColorRamp* ramp_ = nullptr;
    bool depthShading_ = true;
    bool legendShown_ = true;
    int sizeStep_ = 0;
    std::vector<LegendEntry> legend_;
    QImage legendImage_;             // the legend drawn once per change, copied onto each frame
    QImage legendPixels_;            // the same as GL takes them: RGBA, bottom row first
    std::vector<QRect> legendRamps_; // the ramp bars inside legendImage_
    QMetaObject::Connection contextConnection_;
};

} // namespace quarv
