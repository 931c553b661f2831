// "Quarv Configuration Dialog" (CfgDlg): intensity cut-offs and a three-colour scale kept in
// CFG/quarv.mcfg. The file is loaded when the dialog object is made; each showing starts from
// the stored values; "Save" writes the file and accepts, "Cancel" changes nothing.
//
//   CfgDlg dlg(configRoot, mainWindow);   // long-lived, like the application's other dialogs
//   dlg.exec();
#pragma once

#include "core/config/config_root.hpp"
#include "core/config/viewer_settings.hpp"
#include "gui/config/rgb_edit.hpp"
#include "gui/graph/num_edit.hpp"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace quarv {

class CfgDlg : public QDialog {
    Q_OBJECT
public:
    explicit CfgDlg(const ConfigRoot& root, QWidget* parent = nullptr);

    const QuarvSettings& settings() const { return settings_; }
    std::filesystem::path file() const { return quarvSettingsPath(root_); }

    // "Save": controls -> fields (truncated; colours and cut-offs keep their low 8 bits),
    // write quarv.mcfg, accept.
    void save();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refreshControls();

    ConfigRoot root_;
    QuarvSettings settings_;

    QVBoxLayout layout_;
    QGroupBox group_;
    QFormLayout form_;
    NumEdit lowCutoff_;
    NumEdit highCutoff_;
    RgbEdit startRgb_{QStringLiteral("startRgb")};
    RgbEdit midRgb_{QStringLiteral("midRgb")};
    RgbEdit highRgb_{QStringLiteral("highRgb")};
    QDialogButtonBox buttons_;
    QPushButton saveButton_{QStringLiteral("Save")};
    QPushButton cancelButton_{QStringLiteral("Cancel")};
};

} // namespace quarv
