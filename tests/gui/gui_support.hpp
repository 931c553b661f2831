// Helpers of the dialog tests: find controls the way an operator sees them (by caption or by
// name) and enter values through the keyboard.
#pragma once

#include <QAbstractButton>
#include <QDoubleSpinBox>
#include <QString>
#include <QWidget>

#include <filesystem>

namespace quarv::test {

// The button with exactly this caption among `root`'s descendants (nullptr if none or several).
QAbstractButton* button(QWidget& root, const QString& caption);
// The `index`-th button (0-based, in creation order) with this caption.
QAbstractButton* nthButton(QWidget& root, const QString& caption, int index);
QDoubleSpinBox* spin(QWidget& root, const QString& objectName);

// Selects the edit's text, types `text` and commits it with Tab, as an operator moving on to
// the next field does.
void typeValue(QDoubleSpinBox& edit, const QString& text);
void click(QAbstractButton& b);

// Saves a picture of the widget under $QUARV_SCREENSHOT_DIR (when set) for visual checks.
void screenshot(QWidget& w, const QString& name);

} // namespace quarv::test
