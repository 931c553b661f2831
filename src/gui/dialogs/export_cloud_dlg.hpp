// "Export Point Cloud" (File menu): the choices of the attribute-rich export — the file (its
// extension picks LAS 1.4 or PLY), hidden points, levelling and the scanner's pose. The pose
// fields start from the sidecar NAME.pose.json of the current layer's recording when there is
// one. The dialog only reads its controls; the caller runs the export (exportSurvey).
#pragma once

#include "core/cloud/survey_export.hpp"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>

#include <filesystem>
#include <functional>
#include <string>

namespace quarv {

class ExportCloudDlg : public QDialog {
    Q_OBJECT
public:
    // `proposed`: the file name offered; `recording`: the recording whose sidecar fills the pose.
    ExportCloudDlg(const QString& proposed, const std::filesystem::path& recording,
                   QWidget* parent = nullptr);

    // The chosen file and options. False with `why` when a field does not parse.
    bool values(std::filesystem::path& path, SurveyExportOptions& options, std::string& why) const;

    QLineEdit& fileEdit() { return *file_; }
    QCheckBox& includeHidden() { return *hidden_; }
    QCheckBox& level() { return *level_; }
    QLineEdit& positionEdit() { return *position_; }
    QLineEdit& headingEdit() { return *heading_; }
    QLineEdit& crsEdit() { return *crs_; }
    QLineEdit& positionCrsEdit() { return *positionCrs_; }

    // The Browse... button's chooser (a save dialog by default; tests replace it).
    void setBrowser(std::function<QString(QWidget*, const QString&)> browse) {
        browse_ = std::move(browse);
    }

private:
    QLineEdit* file_;
    QCheckBox* hidden_;
    QCheckBox* level_;
    QLineEdit* position_;
    QLineEdit* heading_;
    QLineEdit* crs_;
    QLineEdit* positionCrs_;
    QLabel* note_;
    std::function<QString(QWidget*, const QString&)> browse_;
};

} // namespace quarv
