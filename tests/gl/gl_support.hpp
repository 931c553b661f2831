// Helpers of the GL tests: a small point cloud in a real store, a view showing it, the pixel a
// point lands on, and answering the modal boxes a pick opens.
#pragma once

#include "core/cloud/cloud_renderer.hpp"
#include "core/viewer/camera.hpp"
#include "gui/viewer/child_view.hpp"

#include <QImage>
#include <QPoint>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

// Readable failure messages for texts.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace quarv::test {

struct ViewFixture {
    // A view of width x height pixels showing layer 0 (in use, point size 1, range window wide
    // open) of its own store.
    explicit ViewFixture(int width = 400, int height = 300);

    // Appends a visible point to layer l and returns its slot.
    CloudPoint& add(float x, float y, float z, Rgb colour = {255, 255, 255}, std::uint32_t l = 0);
    // The pixel (window coordinates) a one-pixel point at p covers under the current camera.
    QPoint pixelOf(const CloudPoint& p) const;
    // Moves p across the line of sight so that it lands in the middle of `pixel` (by default
    // the one it is on).
    void moveToPixel(CloudPoint& p, std::optional<QPoint> pixel = {}) const;
    QImage frame() { return view->grabFramebuffer(); }

    std::unique_ptr<CloudStore> store;
    std::unique_ptr<CloudRenderer> renderer;
    std::unique_ptr<CChildView> view;
};

// Runs trigger(); each modal widget that opens while it runs is handed to onModal, which must
// close it. Returns the number of modal widgets seen.
int withModals(const std::function<void()>& trigger, const std::function<void(QWidget*)>& onModal);

// The texts of the modal boxes opened by trigger(), each answered with OK (or Cancel); the
// Point Information dialog's texts joined by " | ".
std::vector<QString> messagesOf(const std::function<void()>& trigger, bool answerOk = true);

} // namespace quarv::test
