#include "gl_support.hpp"

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>

namespace quarv::test {

ViewFixture::ViewFixture(int width, int height)
    : store(std::make_unique<CloudStore>()), renderer(std::make_unique<CloudRenderer>(*store)),
      view(std::make_unique<CChildView>()) {
    PointLayer& layer = store->layer(0);
    layer.pointSize = 1;
    layer.rangeMin = 0;
    layer.rangeMax = 1000;
    store->setCurrentLayer(0);
    view->setRenderer(renderer.get());
    view->setHasCloud(true);
    view->resize(width, height);
    view->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
}

CloudPoint& ViewFixture::add(float x, float y, float z, Rgb colour, std::uint32_t l) {
    store->layer(l).inUse = 1;
    CloudPoint& p = store->nextSlot(l);
    p = CloudPoint{};
    p.x = x;
    p.y = y;
    p.z = z;
    p.color = colour;
    p.valid = 1;
    p.range = 1;
    store->commit(l);
    renderer->markDirty();
    return p;
}

QPoint ViewFixture::pixelOf(const CloudPoint& p) const {
    const WindowPoint w =
        projectToWindow(view->camera(), view->width(), view->height(), {p.x, p.y, p.z});
    EXPECT_TRUE(w.inside);
    return {w.column, w.row};
}

void ViewFixture::moveToPixel(CloudPoint& p, std::optional<QPoint> pixel) const {
    // Newton steps on the window position with numerical derivatives along world X and Z.
    const QPoint goal = pixel.value_or(pixelOf(p));
    const auto at = [&](float x, float z) {
        return projectToWindow(view->camera(), view->width(), view->height(), {x, p.y, z});
    };
    for (int step = 0; step < 4; ++step) {
        const WindowPoint w = at(p.x, p.z), wx = at(p.x + 1e-4f, p.z), wz = at(p.x, p.z + 1e-4f);
        const double a = (wx.x - w.x) / 1e-4, b = (wz.x - w.x) / 1e-4;
        const double c = (wx.y - w.y) / 1e-4, d = (wz.y - w.y) / 1e-4;
        const double ex = goal.x() + 0.5 - w.x, ey = goal.y() + 0.5 - w.y, det = a * d - b * c;
        if (std::fabs(det) < 1e-12) return;
        p.x += static_cast<float>((d * ex - b * ey) / det);
        p.z += static_cast<float>((-c * ex + a * ey) / det);
    }
}

int withModals(const std::function<void()>& trigger, const std::function<void(QWidget*)>& onModal) {
    int seen = 0;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || !w->isVisible() || w->property("answeredByTest").toBool()) return;
        // Marked while it is open: a long-lived dialog shown again is a new modal.
        w->setProperty("answeredByTest", true);
        if (auto* dialog = qobject_cast<QDialog*>(w))
            QObject::connect(
                dialog, &QDialog::finished, dialog,
                [dialog] { dialog->setProperty("answeredByTest", false); },
                Qt::SingleShotConnection);
        ++seen;
        onModal(w);
    });
    timer.start();
    trigger();
    timer.stop();
    return seen;
}

std::vector<QString> messagesOf(const std::function<void()>& trigger, bool answerOk) {
    std::vector<QString> texts;
    withModals(trigger, [&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (auto* info = qobject_cast<PtCloudDlg*>(w)) {
            texts.push_back(QStringList({info->windowTitle(), info->xyzText(), info->azElText(),
                                         info->rangeText(), info->peakText()})
                                .join(" | "));
        }
        if (!box) {
            if (!qobject_cast<PtCloudDlg*>(w)) texts.push_back("<not a message box>");
            static_cast<QDialog*>(w)->reject();
            return;
        }
        texts.push_back(box->text());
        QAbstractButton* button = box->button(answerOk ? QMessageBox::Ok : QMessageBox::Cancel);
        (button ? button : box->button(QMessageBox::Ok))->click();
    });
    return texts;
}

} // namespace quarv::test
