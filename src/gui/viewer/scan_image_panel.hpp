// "Scan Image": a dockable panel showing the current layer's recording as an image of lines
// (rows) x shots (columns) in the view's colours; black where a shot has no return, dark grey
// where the filters hide it. A click selects that shot: its point is drawn in the view's
// highlight, and "Waveform" opens the Processing Graphs at it.
#pragma once

#include "core/viewer/view_aids.hpp"

#include <QDockWidget>
#include <QImage>
#include <QLabel>
#include <QPushButton>

#include <optional>

namespace quarv {

class CChildView;

class ScanImagePanel : public QDockWidget {
    Q_OBJECT
public:
    explicit ScanImagePanel(QWidget* parent = nullptr);

    // The store and the view the panel shows and highlights in (null detaches).
    void attach(CloudRenderer* renderer, CChildView* view);
    // Rebuilds the image from the current layer.
    void refresh();
    const ScanImage& image() const { return image_; }
    // Selects shot `shot` of line `line`: false when no return is there.
    bool selectShot(std::uint32_t line, std::uint32_t shot);
    std::optional<WaveformRef> selectedWaveform() const;
    // The centre of the image pixel of (line, shot) in the image area's coordinates, and the area.
    QPoint pixelCentre(std::uint32_t line, std::uint32_t shot) const;
    QWidget& imageArea() { return *area_; }
    QPushButton& waveformButton() { return waveform_; }

signals:
    void waveformRequested(const QString& path, unsigned line, unsigned shot);

protected:
    void showEvent(QShowEvent* event) override;

private:
    friend class ScanImageArea;
    QRect imageRect() const; // where the image is drawn in the area, aspect kept
    void clicked(QPoint at);
    void restoreHighlight();

    CloudRenderer* renderer_ = nullptr;
    CChildView* view_ = nullptr;
    ScanImage image_;
    QImage picture_;
    QWidget* area_ = nullptr; // owned by the panel's widget
    QLabel info_;
    QPushButton waveform_{QStringLiteral("Waveform")};
    struct Selection {
        std::uint32_t layer = 0, slot = 0, line = 0, shot = 0;
        Rgb colour; // the point's own colour, put back when the selection moves on
    };
    std::optional<Selection> selected_;
};

} // namespace quarv
