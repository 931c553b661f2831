// How the dialogs ask the operator for a file or a colour. The defaults show the standard Qt
// dialogs; tests put in functions that answer at once, so a dialog can be driven without a
// nested modal loop.
#pragma once

#include <QColor>
#include <QString>

#include <functional>

class QWidget;

namespace quarv {

// Returns the chosen path, or an empty string when the operator cancels.
using FileChooser =
    std::function<QString(QWidget* parent, const QString& caption, const QString& filter)>;
// Returns the chosen colour, or an invalid QColor when the operator cancels.
using ColorChooser = std::function<QColor(QWidget* parent, const QColor& initial)>;

// An open-file dialog (read only) whose filters match names in any case.
FileChooser standardFileChooser();
// QColorDialog::getColor.
ColorChooser standardColorChooser();

} // namespace quarv
