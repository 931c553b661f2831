#include "gui/viewer/child_view.hpp"

#include "core/cloud/cloud_renderer.hpp"
#include "core/viewer/color_ramp.hpp"
#include "gui/app/custom_events.hpp"

#include <QMessageBox>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>
#include <QWheelEvent>

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace quarv {

CChildView::CChildView(QWidget* parent) : QOpenGLWidget(parent), pointInfo_(this) {
    setObjectName(QStringLiteral("CChildView"));
    setMouseTracking(false);
    setFocusPolicy(Qt::StrongFocus);
    camera_.reset();
}

CChildView::~CChildView() {
    // The context outlives this part of the object; its farewell must not reach the renderer,
    // which goes with the members.
    disconnect(contextConnection_);
    releaseGl();
}

void CChildView::releaseGl() {
    if (!gl_) return;
    if (context()) {
        makeCurrent();
        gl_->releaseGl();
        shading_.releaseGl();
        doneCurrent();
    }
}

void CChildView::setRenderer(CloudRenderer* renderer) {
    releaseGl();
    gl_.reset();
    renderer_ = renderer;
    if (renderer_) {
        gl_ = std::make_unique<GlCloudRenderer>(*renderer_);
        gl_->setBaseSize(baseSize_);
        gl_->setSizeStep(sizeStep_);
    }
    update();
}

void CChildView::setBasePointSize(std::uint8_t size) {
    baseSize_ = size > 0 ? static_cast<float>(size) : 1.0f;
    if (gl_) gl_->setBaseSize(baseSize_);
    update();
}

void CChildView::resetCamera() {
    camera_.reset();
}

void CChildView::setTarget(float x, float y, float z) {
    camera_.setTarget(x, y, z);
}

void CChildView::setMotionMode(int mode) {
    mouse_.motionMode = mode;
    emit motionModeChanged(mode);
}

void CChildView::setPickMode(int mode) {
    pickMode_ = mode;
    emit pickModeChanged(mode);
}

void CChildView::cloudChanged() {
    if (renderer_) renderer_->markDirty();
    update();
}

bool CChildView::event(QEvent* e) {
    if (e->type() == cloudChangedEventType()) {
        cloudChanged();
        return true;
    }
    if (e->type() == targetEventType()) {
        const auto* t = static_cast<TargetEvent*>(e);
        setTarget(t->x(), t->y(), t->z());
        update();
        return true;
    }
    return QOpenGLWidget::event(e);
}

void CChildView::initializeGL() {
    // The buffers belong to this context; drop them with it (a re-parented widget gets a new one).
    disconnect(contextConnection_);
    contextConnection_ = connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
        makeCurrent();
        if (gl_) gl_->releaseGl();
        shading_.releaseGl();
        doneCurrent();
    });
}

void CChildView::resizeGL(int w, int h) {
    const qreal dpr = devicePixelRatioF();
    width_ = std::max(1, static_cast<int>(std::lround(w * dpr)));
    height_ = std::max(1, static_cast<int>(std::lround(h * dpr)));
    aspect_ = static_cast<double>(width_) / height_;
}

void CChildView::setUpFrame() {
    // The legend's painter may leave its program, buffer and attribute arrays behind.
    QOpenGLFunctions* f = context()->functions();
    f->glUseProgram(0);
    f->glBindBuffer(GL_ARRAY_BUFFER, 0);
    for (GLuint a = 0; a < 3; ++a) f->glDisableVertexAttribArray(a);
    glDepthMask(GL_TRUE);
    glEnable(GL_DEPTH_TEST);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_POINT_SMOOTH);
    glDisable(GL_BLEND);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glViewport(0, 0, width_, height_);
    const Mat4 projection = camera_.projection(aspect_);
    glLoadMatrixd(projection.data());
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void CChildView::applyModelMatrix() {
    const Mat4 model = camera_.model();
    glMultMatrixd(model.data());
}

void CChildView::paintGL() {
    // Points committed by the processing thread mark the store; pick them up unless a drag is
    // under way (a rebuild of millions of points would stall it; the release redraws anyway).
    if (renderer_ && !dragging_ && renderer_->store().takeChanged()) renderer_->markDirty();
    const bool rebuilt = renderer_ && renderer_->dirty();
    setUpFrame();
    glPushMatrix();
    applyModelMatrix();
    if (gl_) gl_->draw(kGlRender);
    glPopMatrix();
    // Not while dragging: the subsample's gaps would read as edges everywhere.
    if (depthShading_ && !dragging_ && gl_ && gl_->vertexCount() > 0)
        shading_.apply(width_, height_, kNearPlane, kFarPlane);
    glFlush();
    if (rebuilt) {
        rebuildLegend();
        emit displayRebuilt();
    }
    if (legendShown_) paintLegend();
}

bool CChildView::fitCloud() {
    // The widget's own size: a view not yet painted has had no resize of its frame buffer.
    const qreal dpr = devicePixelRatioF();
    const int w = std::max(1, static_cast<int>(std::lround(width() * dpr)));
    const int h = std::max(1, static_cast<int>(std::lround(height() * dpr)));
    if (!renderer_ || !fitCamera(camera_, renderer_->bounds(), w, h)) return false;
    update();
    return true;
}

void CChildView::zoomBy(double notches, QPointF at) {
    // The zoom scales the model's distance from the eye: a notch forwards brings it 10 % nearer,
    // panned so that what lies under `at` (at the target's distance) stays there.
    const double w = std::max(1, width()), h = std::max(1, height());
    zoomTowards(camera_, static_cast<float>(std::pow(1.1, -notches)), 2.0 * at.x() / w - 1.0,
                1.0 - 2.0 * at.y() / h, w / h);
    update();
}

void CChildView::changePointSize(int step) {
    sizeStep_ = std::clamp(sizeStep_ + step, -30, 30);
    if (gl_) gl_->setSizeStep(sizeStep_);
    update();
}

void CChildView::setDepthShading(bool on) {
    depthShading_ = on;
    update();
}

void CChildView::setLegendShown(bool on) {
    legendShown_ = on;
    update();
}

void CChildView::wheelEvent(QWheelEvent* e) {
    const double notches = e->angleDelta().y() / 120.0;
    if (notches != 0) zoomBy(notches, e->position());
    e->accept();
}

QImage CChildView::snapshot() {
    return grabFramebuffer().convertToFormat(QImage::Format_RGB32);
}

void CChildView::rebuildLegend() {
    static const ColorRamp grey;
    legend_ =
        renderer_ ? buildLegend(*renderer_, ramp_ ? *ramp_ : grey) : std::vector<LegendEntry>{};
    legendRamps_.clear();
    if (legend_.empty()) {
        legendImage_ = legendPixels_ = QImage();
        return;
    }
    constexpr int kWidth = 270, kPad = 8, kBar = 246, kBarHeight = 12;
    QFont font = this->font();
    font.setPointSizeF(std::max(8.0, font.pointSizeF()));
    QFont bold = font;
    bold.setBold(true);
    const int line = QFontMetrics(font).height();
    const auto whatHeight = [&](const LegendEntry& e) {
        return QFontMetrics(font)
            .boundingRect(QRect(0, 0, kWidth - 2 * kPad, 1000), Qt::TextWordWrap,
                          QString::fromStdString(e.what))
            .height();
    };
    int height = kPad;
    for (const LegendEntry& e : legend_)
        height +=
            line + whatHeight(e) + kBarHeight + 2 + line + (e.saturatedShown ? line : 0) + kPad;
    QImage image(kWidth, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(16, 16, 16, 210));
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing);
    int y = kPad;
    for (const LegendEntry& e : legend_) {
        p.setPen(Qt::white);
        p.setFont(bold);
        const QFontMetrics fm(bold);
        p.drawText(
            kPad, y + fm.ascent(),
            fm.elidedText(QString::fromStdString(e.title), Qt::ElideMiddle, kWidth - 2 * kPad));
        y += line;
        p.setFont(font);
        p.drawText(QRect(kPad, y, kWidth - 2 * kPad, whatHeight(e)), Qt::TextWordWrap,
                   QString::fromStdString(e.what));
        y += whatHeight(e);
        QImage ramp(256, 1, QImage::Format_RGB32);
        for (int i = 0; i < 256; ++i) {
            const Rgb c = e.ramp[static_cast<std::size_t>(i)];
            ramp.setPixel(i, 0, qRgb(c.r, c.g, c.b));
        }
        const QRect bar(kPad + 4, y, kBar - 8, kBarHeight);
        p.drawImage(bar, ramp);
        legendRamps_.push_back(bar);
        y += kBarHeight + 2;
        const QFontMetrics fm2(font);
        for (const LegendEntry::Tick& t : e.ticks) {
            const QString text = QString::fromStdString(t.label);
            const int w = fm2.horizontalAdvance(text);
            int x =
                bar.left() + static_cast<int>(std::lround(t.position * (bar.width() - 1))) - w / 2;
            x = std::clamp(x, 2, kWidth - w - 2);
            p.drawText(x, y + fm2.ascent(), text);
        }
        y += line;
        if (e.saturatedShown) {
            p.fillRect(kPad + 4, y + 3, 10, 10, QColor(255, 0, 0));
            p.drawText(kPad + 20, y + fm2.ascent(), QStringLiteral("red: saturated returns"));
            y += line;
        }
        y += kPad;
    }
    p.end();
    legendImage_ = image;
    // Bottom row first, as glDrawPixels takes them.
    legendPixels_ = image.convertToFormat(QImage::Format_RGBA8888_Premultiplied).mirrored();
}

void CChildView::paintLegend() {
    if (legendPixels_.isNull()) return;
    // Plain pixels onto the frame buffer, premultiplied alpha over the points: no painter and
    // no state of its own, whoever renders the frame (a paint, a grab, a benchmark's call).
    const double dpr = devicePixelRatioF();
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glRasterPos2d(-1.0 + 2.0 * 10 * dpr / width_, -1.0 + 2.0 * 10 * dpr / height_);
    glPixelZoom(static_cast<float>(dpr), static_cast<float>(dpr));
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glDrawPixels(legendPixels_.width(), legendPixels_.height(), GL_RGBA, GL_UNSIGNED_BYTE,
                 legendPixels_.constBits());
    glPixelZoom(1, 1);
    glDisable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
}

QRect CChildView::legendRampRect(std::size_t k) const {
    if (!legendShown_ || k >= legendRamps_.size()) return {};
    return legendRamps_[k].translated(10, height() - legendImage_.height() - 10);
}

void CChildView::mousePressEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    if (e->button() == Qt::LeftButton) {
        mouse_.press(MouseControl::Button::Left, p.x(), p.y());
    } else if (e->button() == Qt::RightButton) {
        mouse_.press(MouseControl::Button::Right, p.x(), p.y());
    }
}

void CChildView::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton && e->button() != Qt::RightButton) return;
    mouse_.release();
    if (dragging_) {
        dragging_ = false;
        if (gl_) gl_->setSubsample(false);
        update(); // the full cloud again
    }
}

void CChildView::mouseMoveEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    if (mouse_.move(p.x(), p.y(), camera_)) {
        if (!dragging_) {
            dragging_ = true;
            if (gl_) gl_->setSubsample(true);
        }
        update();
    }
}

void CChildView::mouseDoubleClickEvent(QMouseEvent* e) {
    // Only the double-click itself: no second press reaches the drag rules.
    if (e->button() != Qt::LeftButton) return;
    const QPoint p = e->position().toPoint();
    onDoubleClick(p.x(), p.y());
}

std::int64_t CChildView::pickIndexAt(int x, int y) {
    // Window rows count down from the top, frame-buffer rows up from the bottom: the pixel under
    // window row y is frame-buffer row height - 1 - y.
    const qreal dpr = devicePixelRatioF();
    const int cx = static_cast<int>(std::floor(x * dpr));
    const int cy = height_ - 1 - static_cast<int>(std::floor(y * dpr));
    const int r = kPickSearchRadius;
    const int x0 = std::max(0, cx - r), x1 = std::min(width_ - 1, cx + r);
    const int y0 = std::max(0, cy - r), y1 = std::min(height_ - 1, cy + r);

    makeCurrent();
    // Only the searched square is ever read back, so only it is cleared and drawn: the same
    // pixels there, without filling the rest of the window with index colours.
    glEnable(GL_SCISSOR_TEST);
    glScissor(x0, y0, std::max(0, x1 - x0 + 1), std::max(0, y1 - y0 + 1));
    setUpFrame();
    glPushMatrix();
    applyModelMatrix();
    const bool inside = x0 <= x1 && y0 <= y1;
    if (hasCloud_ && gl_ && inside) gl_->draw(kGlSelect);

    std::int64_t found = -1;
    if (inside) {
        const int w = x1 - x0 + 1, h = y1 - y0 + 1;
        std::vector<std::uint8_t> block(static_cast<std::size_t>(w) * h * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(x0, y0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, block.data());
        // Rings of growing size; each ring scans its whole square column by column, so the first
        // coloured pixel in that order wins.
        for (int ring = 0; ring <= r && found < 0; ++ring) {
            for (int px = cx - ring; px <= cx + ring && found < 0; ++px) {
                for (int py = cy - ring; py <= cy + ring; ++py) {
                    if (px < x0 || px > x1 || py < y0 || py > y1) continue;
                    const std::uint8_t* c =
                        &block[(static_cast<std::size_t>(py - y0) * w + (px - x0)) * 4];
                    if (c[0] || c[1] || c[2]) {
                        found = pickIndexOf(Rgb{c[0], c[1], c[2]});
                        break;
                    }
                }
            }
        }
    }
    glPopMatrix();
    glDisable(GL_SCISSOR_TEST);
    glFlush();
    doneCurrent();
    update(); // the next paint replaces the index image
    return found;
}

bool CChildView::ask(const QString& text) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("quarv"), text,
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    return box.exec() == QMessageBox::Ok;
}

void CChildView::tell(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("quarv"), text, QMessageBox::Ok, this);
    box.exec();
}

bool CChildView::askFirst(const CloudPoint& p) {
    return ask(QString::asprintf("First Pt (XYZ): %.3f, %.3f, %.3f", double{p.x}, double{p.y},
                                 double{p.z}));
}

void CChildView::measureTo(const CloudPoint& p) {
    const CloudPoint& a = *firstPoint_;
    const float dx = p.x - a.x, dy = p.y - a.y, dz = p.z - a.z;
    const float d = std::sqrt(dx * dx + dy * dy + dz * dz);
    ask(QString::asprintf("Second Pt (XYZ): %.3f, %.3f, %.3f    Dist(m): %.3f", double{p.x},
                          double{p.y}, double{p.z}, double{d}));
}

const CloudPoint* CChildView::searchTarget(const CloudPoint& seed, CloudPoint& out) {
    const std::uint32_t n = renderer_->fillSelectList();
    const TargetResult t = findTarget(renderer_->selectList(), n, seed, targetParams_);
    if (!t.found) {
        tell(QStringLiteral("Unable to find target!"));
        return nullptr;
    }
    out = CloudPoint{};
    out.x = t.x;
    out.y = t.y;
    out.z = t.z;
    return &out;
}

void CChildView::onDoubleClick(int x, int y) {
    const std::int64_t index = pickIndexAt(x, y);
    if (index <= 0 || !renderer_) return; // background, or the black point 0
    const CloudPoint* p = renderer_->pointAtPickIndex(static_cast<std::uint32_t>(index));
    if (!p) {
        tell(QStringLiteral("Error retrieving point information, please try again!"));
        return;
    }
    // Modes 5 and 7 measure against the first point; before any first point was taken they take
    // it instead.
    int mode = pickMode_;
    if (mode == kPickSecondPoint && !firstPoint_) mode = kPickFirstPoint;
    if (mode == kPickSecondTarget && !firstPoint_) mode = kPickFirstTarget;
    switch (mode) {
    case kPickCentre:
        setTarget(p->x, p->y, p->z);
        resetCamera();
        update();
        break;
    case kPickPointInfo: {
        pointInfo_.setPoint(*p, renderer_->store().extraOf(p));
        std::uint32_t layer = 0, slot = 0;
        std::optional<WaveformRef> ref;
        if (locateSlot(renderer_->store(), p, layer, slot))
            ref = waveformOf(renderer_->store(), layer, slot);
        pointInfo_.setWaveformAvailable(ref.has_value());
        if (pointInfo_.exec() == PtCloudDlg::kWaveformChosen && ref)
            emit waveformRequested(QString::fromStdString(ref->path), ref->line, ref->shot);
        break;
    }
    case kPickFirstPoint:
        if (askFirst(*p)) {
            firstPoint_ = p; // a reference to the slot, not a copy
            setPickMode(kPickSecondPoint);
        }
        break;
    case kPickSecondPoint:
        measureTo(*p);
        break;
    case kPickFirstTarget: {
        CloudPoint found;
        if (searchTarget(*p, found) && askFirst(found)) {
            // The centroid is kept by value: it is no slot of the store.
            firstTarget_ = found;
            firstPoint_ = &firstTarget_;
            setPickMode(kPickSecondTarget);
        }
        break;
    }
    case kPickSecondTarget:
        if (const CloudPoint* t = searchTarget(*p, secondTarget_)) measureTo(*t);
        break;
    default:
        break;
    }
}

} // namespace quarv
