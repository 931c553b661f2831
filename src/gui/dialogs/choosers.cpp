#include "gui/dialogs/choosers.hpp"

#include <QColorDialog>
#include <QFileDialog>

namespace quarv {

FileChooser standardFileChooser() {
    return [](QWidget* parent, const QString& caption, const QString& filter) {
        // Recordings come from instruments and other systems as "SCAN.RAW" or "x.3dc": the
        // filters must list every case. Qt's own dialog matches them without regard to case
        // (the platform dialogs of some desktops do not), so it is always the one shown.
        QFileDialog dialog(parent, caption, QString(), filter);
        dialog.setOptions(QFileDialog::ReadOnly | QFileDialog::DontUseNativeDialog);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().first();
    };
}

ColorChooser standardColorChooser() {
    return [](QWidget* parent, const QColor& initial) {
        return QColorDialog::getColor(initial, parent);
    };
}

} // namespace quarv
