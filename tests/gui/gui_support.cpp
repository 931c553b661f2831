#include "gui_support.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPixmap>
#include <QTest>

#include <cstdlib>

namespace quarv::test {

QAbstractButton* nthButton(QWidget& root, const QString& caption, int index) {
    int seen = 0;
    for (QAbstractButton* b : root.findChildren<QAbstractButton*>()) {
        if (b->text() != caption) continue;
        if (seen++ == index) return b;
    }
    return nullptr;
}

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
    // Moving the focus on commits the typed text, as leaving the field does.
    edit.clearFocus();
    QApplication::processEvents();
}

void click(QAbstractButton& b) {
    // A check box takes clicks on its box and caption only, which need not reach the middle of
    // a wide widget: click on the box.
    if (qobject_cast<QCheckBox*>(&b) != nullptr)
        QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(8, b.height() / 2));
    else
        QTest::mouseClick(&b, Qt::LeftButton);
    QApplication::processEvents();
}

void screenshot(QWidget& w, const QString& name) {
    const char* dir = std::getenv("QUARV_SCREENSHOT_DIR");
    if (dir == nullptr) return;
    QApplication::processEvents();
    w.grab().save(QString::fromLocal8Bit(dir) + "/" + name + ".png");
}

} // namespace quarv::test
