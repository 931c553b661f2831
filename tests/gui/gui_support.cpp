#include "gui_support.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QTest>

#include <cmath>

namespace quarv::test {

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

void click(QAbstractButton& b) {
    // A check box takes clicks on its box and caption only.
    const bool box = qobject_cast<QCheckBox*>(&b) != nullptr;
    QTest::mouseClick(&b, Qt::LeftButton, {}, box ? QPoint(8, b.height() / 2) : QPoint());
    QApplication::processEvents();
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

} // namespace quarv::test
