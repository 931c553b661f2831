#include "gui/config/cfg_dlg.hpp"

namespace quarv {

CfgDlg::CfgDlg(const ConfigRoot& root, QWidget* parent) : QDialog(parent), root_(root) {
    setWindowTitle(QStringLiteral("Quarv Configuration Dialog"));
    loadQuarvSettings(file(), settings_);

    for (NumEdit* e : {&lowCutoff_, &highCutoff_}) {
        e->setRange(-1e6, 1e6);
        e->setDecimals(1);
    }
    lowCutoff_.setObjectName(QStringLiteral("lowIntensityCutoff"));
    highCutoff_.setObjectName(QStringLiteral("highIntensityCutoff"));

    setLayout(&layout_);
    group_.setLayout(&form_);
    form_.addRow(QStringLiteral("Low Intensity Cutoff"), &lowCutoff_);
    form_.addRow(QStringLiteral("High Intensity Cutoff"), &highCutoff_);
    form_.addRow(QStringLiteral("Start RGB (0-255)"), &startRgb_);
    form_.addRow(QStringLiteral("Mid RGB (0-255)"), &midRgb_);
    form_.addRow(QStringLiteral("High RGB (0-255)"), &highRgb_);
    layout_.addWidget(&group_);

    saveButton_.setDefault(true);
    buttons_.addButton(&saveButton_, QDialogButtonBox::AcceptRole);
    buttons_.addButton(&cancelButton_, QDialogButtonBox::RejectRole);
    layout_.addWidget(&buttons_);
    connect(&saveButton_, &QPushButton::clicked, this, &CfgDlg::save);
    connect(&cancelButton_, &QPushButton::clicked, this, &QDialog::reject);

    refreshControls();
}

void CfgDlg::showEvent(QShowEvent* event) {
    // Every showing starts from the stored fields, so edits abandoned with "Cancel" are gone.
    refreshControls();
    QDialog::showEvent(event);
}

void CfgDlg::refreshControls() {
    lowCutoff_.setValue(settings_.lowIntensityCutoff);
    highCutoff_.setValue(settings_.highIntensityCutoff);
    startRgb_.setRgb(settings_.startRgb);
    midRgb_.setRgb(settings_.midRgb);
    highRgb_.setRgb(settings_.highRgb);
}

void CfgDlg::save() {
    settings_.lowIntensityCutoff = controlToCutoff(lowCutoff_.value());
    settings_.highIntensityCutoff = controlToCutoff(highCutoff_.value());
    settings_.startRgb = startRgb_.rgb();
    settings_.midRgb = midRgb_.rgb();
    settings_.highRgb = highRgb_.rgb();
    // A file that cannot be written is not reported; the values stay for this run.
    saveQuarvSettings(file(), settings_);
    accept();
}

} // namespace quarv
