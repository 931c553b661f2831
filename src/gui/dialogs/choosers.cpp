#include "gui/dialogs/choosers.hpp"

#include <QColorDialog>
#include <QFileDialog>

namespace quarv {

FileChooser standardFileChooser() {
    return [](QWidget* parent, const QString& caption, const QString& filter) {
        return QFileDialog::getOpenFileName(parent, caption, QString(), filter, nullptr,
                                            QFileDialog::ReadOnly);
    };
}

ColorChooser standardColorChooser() {
    return [](QWidget* parent, const QColor& initial) {
        return QColorDialog::getColor(initial, parent);
    };
}

} // namespace quarv
