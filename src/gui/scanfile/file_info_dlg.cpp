#include "gui/scanfile/file_info_dlg.hpp"

#include "core/scanfile/file_info.hpp"

namespace quarv {

FileInfoDlg::FileInfoDlg(MessageSink& sink, QWidget* parent)
    : QDialog(parent), reader_(sink), chooseFile_(standardFileChooser()) {
    setWindowTitle(QStringLiteral("File Information"));
    setLayout(&layout_);
    list_.setObjectName(QStringLiteral("infoList"));
    list_.setMinimumSize(520, 440);
    layout_.addWidget(&list_, 1);
    buttons_.addStretch(1);
    buttons_.addWidget(&loadButton_);
    buttons_.addWidget(&doneButton_);
    doneButton_.setDefault(true);
    layout_.addLayout(&buttons_);
    connect(&doneButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(&loadButton_, &QPushButton::clicked, this, &FileInfoDlg::loadFile);
}

void FileInfoDlg::showEvent(QShowEvent* event) {
    if (!path_.empty()) fillInfo(path_);
    QDialog::showEvent(event);
}

bool FileInfoDlg::fillInfo(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    const bool opened = quarv::fillInfo(reader_, path, lines);
    list_.setLines(lines);
    return opened;
}

void FileInfoDlg::loadFile() {
    const QString chosen =
        chooseFile_(this, QStringLiteral("Load File"), QString::fromLatin1(kRawFileFilter));
    if (chosen.isEmpty()) return;
    path_ = chosen.toStdString();
    fillInfo(path_);
}

} // namespace quarv
