#include "gui/config/color_cfg.hpp"

#include <limits>

namespace quarv {

ColorCFG::ColorCFG(const ConfigRoot& root, QWidget* parent) : QDialog(parent), root_(root) {
    setWindowTitle(QStringLiteral("Intensity / SNR Color CFG"));
    loadColorSettings(file(), settings_);

    const std::pair<NumEdit*, const char*> thresholds[] = {{&lowIntensity_, "lowIntensity"},
                                                           {&mediumIntensity_, "mediumIntensity"},
                                                           {&highIntensity_, "highIntensity"}};
    for (auto [e, name] : thresholds) {
        e->setRange(std::numeric_limits<std::int32_t>::min(),
                    std::numeric_limits<std::int32_t>::max());
        e->setDecimals(0);
        e->setObjectName(QString::fromLatin1(name));
    }
    pointSize_.setRange(-9999, 9999);
    pointSize_.setDecimals(0);
    pointSize_.setObjectName(QStringLiteral("pointSize"));

    setLayout(&layout_);
    mapGroup_.setTitle(QStringLiteral("Intensity Color Map"));
    mapGroup_.setLayout(&mapForm_);
    underLow_.setText(QStringLiteral("<i>Low Intensity</i>"));
    underMedium_.setText(QStringLiteral("<i>Medium Intensity</i>"));
    mapForm_.addRow(QStringLiteral("Low Intensity"), &lowIntensity_);
    mapForm_.addRow(QStringLiteral("Low Intensity RGB (0-255)"), &lowIntensityRgb_);
    mapForm_.addRow(&underLow_);
    mapForm_.addRow(QStringLiteral("    color start RGB (0-255)"), &lowStartRgb_);
    mapForm_.addRow(QStringLiteral("    color end RGB (0-255)"), &lowEndRgb_);
    mapForm_.addRow(QStringLiteral("Medium Intensity"), &mediumIntensity_);
    mapForm_.addRow(&underMedium_);
    mapForm_.addRow(QStringLiteral("    color start RGB (0-255)"), &mediumStartRgb_);
    mapForm_.addRow(QStringLiteral("    color end RGB (0-255)"), &mediumEndRgb_);
    mapForm_.addRow(QStringLiteral("High Intensity"), &highIntensity_);
    mapForm_.addRow(QStringLiteral("High Intensity RGB (0-255)"), &highIntensityRgb_);
    mapForm_.addRow(QStringLiteral("Saturation RGB (0-255)"), &saturationRgb_);
    layout_.addWidget(&mapGroup_);

    cloudGroup_.setTitle(QStringLiteral("Point Cloud Configuration"));
    cloudGroup_.setLayout(&cloudForm_);
    cloudForm_.addRow(QStringLiteral("Point Size (pixel)"), &pointSize_);
    layout_.addWidget(&cloudGroup_);

    saveButton_.setDefault(true);
    buttons_.addButton(&saveButton_, QDialogButtonBox::AcceptRole);
    buttons_.addButton(&cancelButton_, QDialogButtonBox::RejectRole);
    layout_.addWidget(&buttons_);
    connect(&saveButton_, &QPushButton::clicked, this, &ColorCFG::save);
    connect(&cancelButton_, &QPushButton::clicked, this, &QDialog::reject);

    refreshControls();
}

void ColorCFG::showEvent(QShowEvent* event) {
    // Every showing starts from the stored fields, so edits abandoned with "Cancel" are gone.
    refreshControls();
    QDialog::showEvent(event);
}

void ColorCFG::refreshControls() {
    lowIntensity_.setValue(settings_.lowIntensity);
    mediumIntensity_.setValue(settings_.mediumIntensity);
    highIntensity_.setValue(settings_.highIntensity);
    lowIntensityRgb_.setRgb(settings_.lowIntensityRgb);
    lowStartRgb_.setRgb(settings_.lowStartRgb);
    lowEndRgb_.setRgb(settings_.lowEndRgb);
    mediumStartRgb_.setRgb(settings_.mediumStartRgb);
    mediumEndRgb_.setRgb(settings_.mediumEndRgb);
    highIntensityRgb_.setRgb(settings_.highIntensityRgb);
    saturationRgb_.setRgb(settings_.saturationRgb);
    pointSize_.setValue(settings_.pointSize);
}

void ColorCFG::save() {
    settings_.lowIntensity = controlToThreshold(lowIntensity_.value());
    settings_.mediumIntensity = controlToThreshold(mediumIntensity_.value());
    settings_.highIntensity = controlToThreshold(highIntensity_.value());
    settings_.lowIntensityRgb = lowIntensityRgb_.rgb();
    settings_.lowStartRgb = lowStartRgb_.rgb();
    settings_.lowEndRgb = lowEndRgb_.rgb();
    settings_.mediumStartRgb = mediumStartRgb_.rgb();
    settings_.mediumEndRgb = mediumEndRgb_.rgb();
    settings_.highIntensityRgb = highIntensityRgb_.rgb();
    settings_.saturationRgb = saturationRgb_.rgb();
    settings_.pointSize = controlToByte(pointSize_.value());
    // A file that cannot be written is not reported; the values stay for this run.
    saveColorSettings(file(), settings_);
    accept();
}

} // namespace quarv
