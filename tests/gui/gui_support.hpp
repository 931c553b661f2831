// Helpers of the GUI and GL tests: their application, controls used as an operator does, modal
// boxes answered, dialogs described for golden transcripts, and a GL view of a small cloud.
#pragma once

#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_renderer.hpp"
#include "core/config/config_root.hpp"
#include "gui/graph/graph.hpp"
#include "gui/viewer/child_view.hpp"
#include "gui/viewer/gl_format.hpp"
#include "support/golden.hpp"
#include "support/recordings.hpp"
#include "support/test_support.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <optional>

namespace quarv::test {

// Made when the tests run (listing them needs none). The GL tests need an X display (xvfb-run),
// as QOpenGLWidget cannot draw offscreen; the C locale types decimal points.
struct Application : ::testing::Environment {
    void SetUp() override {
        static int argc = 1;
        static char name[] = "tests", *argv[] = {name, nullptr};
#ifdef QUARV_GL_TESTS
        ASSERT_TRUE(std::getenv("DISPLAY")) << "The GL tests need an X display: use xvfb-run -a.";
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        setDefaultGlFormat();
#else
        setenv("QT_QPA_PLATFORM", "offscreen", 0); // unless the caller chose a platform
#endif
        QLocale::setDefault(QLocale::c());
        app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override {
        app.reset();
    } // before the statics of Qt go
    std::unique_ptr<QApplication> app;
};
inline const auto* const application = ::testing::AddGlobalTestEnvironment(new Application);

// The button with exactly this caption (nullptr if none or several).
inline QAbstractButton* button(QWidget& root, const QString& caption) {
    QList<QAbstractButton*> found;
    for (QAbstractButton* b : root.findChildren<QAbstractButton*>())
        if (b->text() == caption) found << b;
    return found.size() == 1 ? found[0] : nullptr;
}

inline QDoubleSpinBox* spin(QWidget& root, const QString& objectName) {
    return root.findChild<QDoubleSpinBox*>(objectName);
}

// Types `text` over the edit's value and commits it by moving the focus on.
inline void typeValue(QDoubleSpinBox& edit, const QString& text) {
    QApplication::processEvents(); // a new window hands the focus to its first control
    edit.setFocus();
    edit.selectAll();
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QTest::keyClicks(&edit, text);
    edit.clearFocus();
    QApplication::processEvents();
}

// typeValue for each "objectName=text" of a space-separated list.
inline void typeValues(QWidget& root, const QString& assignments) {
    for (const QString& a : assignments.split(' ', Qt::SkipEmptyParts))
        typeValue(*spin(root, a.section('=', 0, 0)), a.section('=', 1));
}

inline void click(QAbstractButton& b) {
    const bool box = qobject_cast<QCheckBox*>(&b) != nullptr; // clicked on its box
    QTest::mouseClick(&b, Qt::LeftButton, {}, box ? QPoint(8, b.height() / 2) : QPoint());
    QApplication::processEvents();
}

// Runs trigger(); each modal widget opening meanwhile goes to onModal, which must close it.
// Returns how many there were.
inline int withModals(const std::function<void()>& trigger,
                      const std::function<void(QWidget*)>& onModal) {
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
    return seen;
}

// The texts of the boxes opened by trigger(), answered OK (or Cancel); Point Information's texts
// joined by " | ".
inline std::vector<QString> messagesOf(const std::function<void()>& trigger, bool answerOk = true) {
    std::vector<QString> texts;
    withModals(trigger, [&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (auto* info = qobject_cast<PtCloudDlg*>(w))
            texts.push_back(QStringList({info->windowTitle(), info->xyzText(), info->azElText(),
                                         info->rangeText(), info->peakText()})
                                .join(" | "));
        else
            texts.push_back(box ? box->text() : "<not a message box>");
        if (!box) return static_cast<QDialog*>(w)->reject();
        QAbstractButton* b = box->button(answerOk ? QMessageBox::Ok : QMessageBox::Cancel);
        (b ? b : box->button(QMessageBox::Ok))->click();
    });
    return texts;
}

// Every named check box, button, edit and label with its state, in creation order.
inline std::string describeControls(QWidget& root) {
    QString out;
    for (QWidget* w : root.findChildren<QWidget*>()) {
        QString value;
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            value = b->isCheckable() ? QString::number(b->isChecked()) : b->text();
        else if (auto* e = qobject_cast<QDoubleSpinBox*>(w))
            value = QString::number(e->value(), 'g', 9);
        else if (auto* l = qobject_cast<QLabel*>(w))
            value = l->text();
        else
            continue;
        if (w->objectName().isEmpty() || w->objectName().startsWith("qt_")) continue;
        out += w->objectName() + ": " + value + (w->isEnabled() ? "\n" : " (disabled)\n");
    }
    return out.toStdString();
}

// Every plot (points as key:value; long plots summarised) and cursor of a graph.
inline std::string describe(const Graph& g) {
    QString out;
    for (const std::string& name : g.plotNames()) {
        const Plot& p = *g.findPlot(name);
        out += QString("plot %1 (%2):").arg(QString::fromStdString(name)).arg(p.size());
        std::size_t top = 0;
        for (std::size_t i = 0; i < p.size(); ++i) {
            if (p.size() <= 100) out += QString::asprintf(" %.4f:%.4f", p.keyAt(i), p.valueAt(i));
            if (std::isnan(p.valueAt(top)) || p.valueAt(i) > p.valueAt(top)) top = i;
        }
        if (p.size() > 100) out += QString::asprintf(" highest %.4f at %zu", p.valueAt(top), top);
        out += "\n";
    }
    if (const Cursor* c = g.findCursor("Cursor-1"))
        out +=
            QString::asprintf("cursor at %.4f %s\n", c->position(), qPrintable(c->color().name()));
    return out.toStdString();
}

// The lines, with `dir` written as <dir>.
inline std::string describe(const QStringList& lines, const std::filesystem::path& dir) {
    QString out = lines.join("\n") + "\n";
    return out.replace(QString::fromStdString(dir.string()), "<dir>").toStdString();
}

// A configuration home in a temporary folder, and a transcript to compare with a golden.
struct Home : ::testing::Test {
    TempDir dir;
    ConfigRoot root{dir.path() / "home"};
    RecordingSink sink;
    std::string shown;
    void SetUp() override { ASSERT_TRUE(root.ensureCreated(sink)); }
};

// A 400 x 300 view of its own store's layer 0 (size 1, range window wide open) round (0, 5, 0).
struct ViewFixture {
    std::unique_ptr<CloudStore> store = std::make_unique<CloudStore>();
    std::unique_ptr<CloudRenderer> renderer = std::make_unique<CloudRenderer>(*store);
    std::unique_ptr<CChildView> view = std::make_unique<CChildView>();

    ViewFixture() {
        PointLayer& layer = store->layer(0);
        std::tie(layer.pointSize, layer.rangeMin, layer.rangeMax) =
            std::tuple(std::uint8_t(1), 0.0f, 1000.0f);
        store->setCurrentLayer(0);
        view->setRenderer(renderer.get());
        view->setHasCloud(true);
        view->setLegendShown(false); // frames of points alone; the legend has its own test
        view->setTarget(0, 5, 0);
        view->resetCamera();
        view->resize(400, 300);
        view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }
    // Appends a visible point to layer l and returns its slot.
    CloudPoint& add(float x, float y, float z, Rgb colour = {255, 255, 255}, std::uint32_t l = 0) {
        store->layer(l).inUse = 1;
        CloudPoint& p = store->nextSlot(l);
        p = CloudPoint{};
        std::tie(p.x, p.y, p.z, p.color, p.valid, p.range) =
            std::tuple(x, y, z, colour, std::uint8_t(1), 1.0f);
        store->commit(l);
        renderer->markDirty();
        return p;
    }
    WindowPoint project(float x, float y, float z) const {
        return projectToWindow(view->camera(), view->width(), view->height(), {x, y, z});
    }
    // The pixel a one-pixel point at p covers.
    QPoint pixelOf(const CloudPoint& p) const {
        const WindowPoint w = project(p.x, p.y, p.z);
        EXPECT_TRUE(w.inside);
        return {w.column, w.row};
    }
    // Moves p along world X and Z (Newton steps) into the middle of `pixel` (default: its own).
    void moveToPixel(CloudPoint& p, std::optional<QPoint> pixel = {}) const {
        const QPoint goal = pixel.value_or(pixelOf(p));
        for (int step = 0; step < 4; ++step) {
            const WindowPoint w = project(p.x, p.y, p.z), wx = project(p.x + 1e-4f, p.y, p.z),
                              wz = project(p.x, p.y, p.z + 1e-4f);
            const double a = (wx.x - w.x) / 1e-4, b = (wz.x - w.x) / 1e-4;
            const double c = (wx.y - w.y) / 1e-4, d = (wz.y - w.y) / 1e-4;
            const double ex = goal.x() + 0.5 - w.x, ey = goal.y() + 0.5 - w.y, det = a * d - b * c;
            p.x += static_cast<float>((d * ex - b * ey) / det);
            p.z += static_cast<float>((-c * ex + a * ey) / det);
        }
    }
    QImage frame() { return view->grabFramebuffer(); }
};

// Pixels of each colour in a frame, black left out.
inline std::map<QRgb, int> colourCounts(const QImage& image) {
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (const QRgb c = image.pixel(x, y) & 0xFFFFFF; c != 0) ++counts[c];
    return counts;
}

} // namespace quarv::test
