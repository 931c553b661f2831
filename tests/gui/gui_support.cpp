#include "gui_support.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QTest>

#include <cmath>

namespace quarv::test {

QAbstractButton* button(QWidget& root, const QString& caption) {
    QAbstractButton* found = nullptr;
    for (QAbstractButton* b : root.findChildren<QAbstractButton*>()) {
        if (b->text() != caption) continue;
        if (found != nullptr) return nullptr;
        found = b;
    }
    return found;
}

QDoubleSpinBox* spin(QWidget& root, const QString& objectName) {
    return root.findChild<QDoubleSpinBox*>(objectName);
}

void typeValue(QDoubleSpinBox& edit, const QString& text) {
    // Let a freshly shown window settle first: its activation hands the focus to its first
    // control and would take it from the edit in the middle of typing.
    QApplication::processEvents();
    edit.setFocus();
    edit.selectAll();
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QTest::keyClicks(&edit, text);
    edit.clearFocus();
    QApplication::processEvents();
}

void click(QAbstractButton& b) {
    // A check box takes clicks on its box and caption only: click on the box.
    if (qobject_cast<QCheckBox*>(&b) != nullptr)
        QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(8, b.height() / 2));
    else
        QTest::mouseClick(&b, Qt::LeftButton);
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
            const double v = p.valueAt(i), best = p.valueAt(top);
            if (!std::isnan(v) && (std::isnan(best) || v > best)) top = i;
        }
        if (p.size() > 100) out += QString::asprintf(" highest %.4f at %zu", p.valueAt(top), top);
        out += "\n";
    }
    for (const char* name : {"Cursor-1", "Cursor-2"})
        if (const Cursor* c = g.findCursor(name))
            out += QString::asprintf("cursor %s at %.4f %s\n", name, c->position(),
                                     qPrintable(c->color().name()));
    return out.toStdString();
}

std::string describe(const QStringList& lines, const std::filesystem::path& dir) {
    QString out = lines.join("\n") + "\n";
    out.replace(QString::fromStdString(dir.string()), "<dir>");
    return out.toStdString();
}

} // namespace quarv::test
