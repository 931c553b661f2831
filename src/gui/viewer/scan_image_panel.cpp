#include "gui/viewer/scan_image_panel.hpp"

#include "gui/cloud/gl_cloud_renderer.hpp"
#include "gui/viewer/child_view.hpp"

#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace quarv {

class ScanImageArea : public QWidget {
public:
    explicit ScanImageArea(ScanImagePanel& panel) : panel_(panel) {
        setMinimumSize(160, 120);
        setCursor(Qt::CrossCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor(32, 32, 40));
        if (panel_.picture_.isNull()) {
            p.setPen(Qt::lightGray);
            p.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap,
                       QStringLiteral("No recording behind the current layer"));
            return;
        }
        const QRect r = panel_.imageRect();
        p.drawImage(r, panel_.picture_);
        if (const auto& s = panel_.selected_) {
            const QPoint c = panel_.pixelCentre(s->line, s->shot);
            p.setPen(QPen(QColor(255, 230, 0), 1));
            p.drawLine(r.left(), c.y(), c.x() - 4, c.y());
            p.drawLine(c.x() + 4, c.y(), r.right(), c.y());
            p.drawLine(c.x(), r.top(), c.x(), c.y() - 4);
            p.drawLine(c.x(), c.y() + 4, c.x(), r.bottom());
        }
    }
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) panel_.clicked(e->position().toPoint());
    }

private:
    ScanImagePanel& panel_;
};

ScanImagePanel::ScanImagePanel(QWidget* parent)
    : QDockWidget(QStringLiteral("Scan Image"), parent) {
    setObjectName(QStringLiteral("scanImage"));
    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    area_ = new ScanImageArea(*this);
    layout->addWidget(area_, 1);
    info_.setText(QStringLiteral("Black: no return; dark grey: hidden by the filters"));
    info_.setWordWrap(true);
    layout->addWidget(&info_);
    waveform_.setObjectName(QStringLiteral("waveform"));
    waveform_.setEnabled(false);
    layout->addWidget(&waveform_);
    setWidget(body);
    connect(&waveform_, &QPushButton::clicked, this, [this] {
        if (const auto ref = selectedWaveform())
            emit waveformRequested(QString::fromStdString(ref->path), ref->line, ref->shot);
    });
}

void ScanImagePanel::attach(CloudRenderer* renderer, CChildView* view) {
    renderer_ = renderer;
    view_ = view;
    if (view_)
        connect(view_, &CChildView::displayRebuilt, this, [this] {
            if (isVisible()) refresh();
        });
}

void ScanImagePanel::showEvent(QShowEvent* event) {
    refresh();
    QDockWidget::showEvent(event);
}

void ScanImagePanel::refresh() {
    picture_ = QImage();
    if (!renderer_) return;
    const CloudStore& store = renderer_->store();
    if (buildScanImage(store, store.current(), image_)) {
        picture_ = QImage(static_cast<int>(image_.shots), static_cast<int>(image_.lines),
                          QImage::Format_RGB32);
        for (std::uint32_t l = 0; l < image_.lines; ++l) {
            auto* row = reinterpret_cast<QRgb*>(picture_.scanLine(static_cast<int>(l)));
            for (std::uint32_t s = 0; s < image_.shots; ++s) {
                const Rgb c = image_.at(l, s);
                row[s] = qRgb(c.r, c.g, c.b);
            }
        }
        if (!selected_)
            info_.setText(QString::asprintf("Layer %u: %u lines x %u shots. Click a shot to "
                                            "select it.",
                                            image_.layer + 1, image_.lines, image_.shots));
    }
    area_->update();
}

QRect ScanImagePanel::imageRect() const {
    if (picture_.isNull()) return {};
    const QSize fitted = picture_.size().scaled(area_->size(), Qt::KeepAspectRatio);
    return QRect(
        QPoint((area_->width() - fitted.width()) / 2, (area_->height() - fitted.height()) / 2),
        fitted);
}

QPoint ScanImagePanel::pixelCentre(std::uint32_t line, std::uint32_t shot) const {
    const QRect r = imageRect();
    if (r.isEmpty()) return {};
    return {r.left() + static_cast<int>((shot + 0.5) * r.width() / image_.shots),
            r.top() + static_cast<int>((line + 0.5) * r.height() / image_.lines)};
}

void ScanImagePanel::clicked(QPoint at) {
    const QRect r = imageRect();
    if (!r.contains(at)) return;
    const auto shot = static_cast<std::uint32_t>(static_cast<std::int64_t>(at.x() - r.left()) *
                                                 image_.shots / r.width());
    const auto line = static_cast<std::uint32_t>(static_cast<std::int64_t>(at.y() - r.top()) *
                                                 image_.lines / r.height());
    selectShot(line, shot);
}

void ScanImagePanel::restoreHighlight() {
    if (!selected_ || !renderer_) return;
    CloudStore& store = renderer_->store();
    // Unless the layer has been emptied or recoloured since: then its colour is already right.
    if (selected_->slot < store.pointCount(selected_->layer)) {
        CloudPoint& p = store.point(selected_->layer, selected_->slot);
        if (p.loadColor() == kHighlightColor) p.storeColor(selected_->colour);
    }
    selected_.reset();
}

bool ScanImagePanel::selectShot(std::uint32_t line, std::uint32_t shot) {
    if (!renderer_ || line >= image_.lines || shot >= image_.shots) return false;
    const std::uint32_t slot = image_.slot[std::size_t{line} * image_.shots + shot];
    restoreHighlight();
    waveform_.setEnabled(false);
    if (slot == 0) {
        info_.setText(QString::asprintf("Line %u, shot %u: no return", line, shot));
    } else {
        CloudStore& store = renderer_->store();
        CloudPoint& p = store.point(image_.layer, slot - 1);
        selected_ = Selection{image_.layer, slot - 1, line, shot, p.loadColor()};
        p.storeColor(kHighlightColor);
        info_.setText(QString::asprintf(
            "Line %u, shot %u: range %.3f m, amplitude %.0f, SNR %.0f%s", line, shot,
            double{p.range}, double{p.amplitude}, double{p.snr}, p.isValid() ? "" : " (hidden)"));
        waveform_.setEnabled(selectedWaveform().has_value());
        renderer_->markDirty();
        if (view_) view_->update();
    }
    area_->update();
    return slot != 0;
}

std::optional<WaveformRef> ScanImagePanel::selectedWaveform() const {
    if (!selected_ || !renderer_) return std::nullopt;
    return waveformOf(renderer_->store(), selected_->layer, selected_->slot);
}

} // namespace quarv
