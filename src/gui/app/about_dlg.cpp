#include "gui/app/about_dlg.hpp"

#include "gui/app/command_ids.hpp"
#include "gui/app/toolbar_icons.hpp"

namespace quarv {

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent), name_(QStringLiteral("quarv")),
      version_(QString::asprintf("Version %d.%02d", kVersionMajor, kVersionMinor)),
      purpose_(QStringLiteral("Underwater laser scanner: recordings to point clouds")),
      ok_(QStringLiteral("OK")) {
    QFont bold = name_.font();
    bold.setBold(true);
    name_.setFont(bold);
    setWindowTitle(QStringLiteral("About quarv"));
    setObjectName(QStringLiteral("CAboutDlg"));
    version_.setObjectName(QStringLiteral("version"));
    icon_.setPixmap(toolbarIcon(ID_PROCESS_TOOLBAR).pixmap(48, 48));
    layout_.addWidget(&icon_, 0, Qt::AlignTop);
    texts_.addWidget(&name_);
    texts_.addWidget(&version_);
    texts_.addWidget(&purpose_);
    texts_.addStretch();
    texts_.addWidget(&ok_, 0, Qt::AlignRight);
    layout_.addLayout(&texts_);
    setLayout(&layout_);
    ok_.setDefault(true);
    connect(&ok_, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace quarv
