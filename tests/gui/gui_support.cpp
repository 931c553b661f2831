#include "gui_support.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QTimer>

#include <cmath>
#include <cstdlib>

#ifdef QUARV_GL_TESTS
#include "gui/viewer/gl_format.hpp"
#endif

namespace quarv::test {
namespace {

// The tests' application, made when they run (listing them needs none). The GL tests need an X
// display (xvfb-run) as QOpenGLWidget cannot draw offscreen; the C locale types decimal points.
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
[[maybe_unused]] const auto* application = ::testing::AddGlobalTestEnvironment(new Application);

} // namespace

QAbstractButton* button(QWidget& root, const QString& caption) {
    QList<QAbstractButton*> found;
    for (QAbstractButton* b : root.findChildren<QAbstractButton*>())
        if (b->text() == caption) found << b;
    return found.size() == 1 ? found[0] : nullptr;
}

QDoubleSpinBox* spin(QWidget& root, const QString& objectName) {
    return root.findChild<QDoubleSpinBox*>(objectName);
}

void typeValue(QDoubleSpinBox& edit, const QString& text) {
    // A freshly shown window hands the focus to its first control when it settles.
    QApplication::processEvents();
    edit.setFocus();
    edit.selectAll();
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QTest::keyClicks(&edit, text);
    edit.clearFocus();
    QApplication::processEvents();
}

void typeValues(QWidget& root, const QString& assignments) {
    for (const QString& a : assignments.split(' ', Qt::SkipEmptyParts))
        typeValue(*spin(root, a.section('=', 0, 0)), a.section('=', 1));
}

void click(QAbstractButton& b) {
    // A check box takes clicks on its box and caption only.
    const bool box = qobject_cast<QCheckBox*>(&b) != nullptr;
    QTest::mouseClick(&b, Qt::LeftButton, {}, box ? QPoint(8, b.height() / 2) : QPoint());
    QApplication::processEvents();
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

std::string describeControls(QWidget& root) {
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

std::string describe(const Graph& g) {
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

std::string describe(const QStringList& lines, const std::filesystem::path& dir) {
    QString out = lines.join("\n") + "\n";
    return out.replace(QString::fromStdString(dir.string()), "<dir>").toStdString();
}

std::map<QRgb, int> colourCounts(const QImage& image) {
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (const QRgb c = image.pixel(x, y) & 0xFFFFFF; c != 0) ++counts[c];
    return counts;
}

ViewFixture::ViewFixture() {
    PointLayer& layer = store->layer(0);
    std::tie(layer.pointSize, layer.rangeMin, layer.rangeMax) =
        std::tuple(std::uint8_t(1), 0.0f, 1000.0f);
    store->setCurrentLayer(0);
    view->setRenderer(renderer.get());
    view->setHasCloud(true);
    view->setTarget(0, 5, 0);
    view->resetCamera();
    view->resize(400, 300);
    view->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
}

CloudPoint& ViewFixture::add(float x, float y, float z, Rgb colour, std::uint32_t l) {
    store->layer(l).inUse = 1;
    CloudPoint& p = store->nextSlot(l);
    p = CloudPoint{};
    std::tie(p.x, p.y, p.z, p.color, p.valid, p.range) =
        std::tuple(x, y, z, colour, std::uint8_t(1), 1.0f);
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

} // namespace quarv::test
