// "Intensity / SNR Color CFG" (ColorCFG): the intensity colour map and the point size kept in
// CFG/colorcfg.mcfg. Loaded when the dialog object is made; each showing starts from the stored
// values; "Save" writes the file and accepts; "Cancel" changes nothing.
//
//   ColorCFG dlg(configRoot, mainWindow);
//   if (dlg.exec() == QDialog::Accepted) view.setPointSize(dlg.pointSize());
#pragma once

#include "core/config/config_root.hpp"
#include "core/config/viewer_settings.hpp"
#include "gui/config/rgb_edit.hpp"
#include "gui/graph/num_edit.hpp"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quarv {

class ColorCFG : public QDialog {
    Q_OBJECT
public:
    explicit ColorCFG(const ConfigRoot& root, QWidget* parent = nullptr);

    // The stored point size in pixels (the value last loaded or saved).
    std::uint8_t pointSize() const { return settings_.pointSize; }
    const ColorSettings& settings() const { return settings_; }
    std::filesystem::path file() const { return colorSettingsPath(root_); }

    // "Save": controls -> fields (thresholds truncated; colour bytes and point size keep the
    // low 8 bits), write colorcfg.mcfg, accept.
    void save();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refreshControls();

    ConfigRoot root_;
    ColorSettings settings_;

    QVBoxLayout layout_;
    QGroupBox mapGroup_;
    QFormLayout mapForm_;
    NumEdit lowIntensity_;
    RgbEdit lowIntensityRgb_{QStringLiteral("lowIntensityRgb")};
    QLabel underLow_;
    RgbEdit lowStartRgb_{QStringLiteral("lowStartRgb")};
    RgbEdit lowEndRgb_{QStringLiteral("lowEndRgb")};
    NumEdit mediumIntensity_;
    QLabel underMedium_;
    RgbEdit mediumStartRgb_{QStringLiteral("mediumStartRgb")};
    RgbEdit mediumEndRgb_{QStringLiteral("mediumEndRgb")};
    NumEdit highIntensity_;
    RgbEdit highIntensityRgb_{QStringLiteral("highIntensityRgb")};
    RgbEdit saturationRgb_{QStringLiteral("saturationRgb")};
    QGroupBox cloudGroup_;
    QFormLayout cloudForm_;
    NumEdit pointSize_;
    QDialogButtonBox buttons_;
    QPushButton saveButton_{QStringLiteral("Save")};
    QPushButton cancelButton_{QStringLiteral("Cancel")};
};

} // namespace quarv
