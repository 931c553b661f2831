#include "gui/dialogs/export_cloud_dlg.hpp"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace quarv {

ExportCloudDlg::ExportCloudDlg(const QString& proposed, const std::filesystem::path& recording,
                               QWidget* parent)
    : QDialog(parent), file_(new QLineEdit(proposed)),
      hidden_(new QCheckBox(QStringLiteral("Include hidden points (classified as low noise)"))),
      level_(new QCheckBox(QStringLiteral("Level by the recording's pitch and roll"))),
      position_(new QLineEdit), heading_(new QLineEdit), crs_(new QLineEdit),
      positionCrs_(new QLineEdit), note_(new QLabel) {
    setWindowTitle(QStringLiteral("Export Point Cloud"));
    browse_ = [](QWidget* owner, const QString& current) {
        return QFileDialog::getSaveFileName(owner, QStringLiteral("Export Point Cloud"), current,
                                            QStringLiteral("LAS 1.4 (*.las);;PLY (*.ply)"));
    };
    auto* browse = new QPushButton(QStringLiteral("Browse..."));
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString chosen = browse_(this, file_->text());
        if (!chosen.isEmpty()) file_->setText(chosen);
    });
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(new QLabel(QStringLiteral("File (.las or .ply)")));
    fileRow->addWidget(file_, 1);
    fileRow->addWidget(browse);

    position_->setPlaceholderText(QStringLiteral("E,N,H (empty: scanner frame)"));
    heading_->setPlaceholderText(QStringLiteral("degrees clockwise from grid north"));
    crs_->setPlaceholderText(QStringLiteral("e.g. EPSG:32631"));
    positionCrs_->setPlaceholderText(
        QStringLiteral("e.g. EPSG:4979 (lat, lon, h); empty: as above"));
    auto* poseBox = new QGroupBox(QStringLiteral("Scanner pose"));
    auto* form = new QFormLayout(poseBox);
    form->addRow(QStringLiteral("Position"), position_);
    form->addRow(QStringLiteral("Heading"), heading_);
    form->addRow(QStringLiteral("Coordinate system"), crs_);
    form->addRow(QStringLiteral("Position given in"), positionCrs_);
    form->addRow(note_);

    // The sidecar's values, if the recording has one that reads.
    PoseInput pose;
    std::string why;
    const std::filesystem::path sidecar = poseSidecarFor(recording);
    std::error_code ec;
    if (!recording.empty() && std::filesystem::exists(sidecar, ec)) {
        if (readPoseFile(sidecar, pose, why)) {
            note_->setText(
                QStringLiteral("From %1").arg(QString::fromStdString(sidecar.filename().string())));
        } else {
            note_->setText(QString::fromStdString(why));
        }
    }
    if (pose.position)
        position_->setText(QStringLiteral("%1,%2,%3")
                               .arg((*pose.position)[0], 0, 'f', 3)
                               .arg((*pose.position)[1], 0, 'f', 3)
                               .arg((*pose.position)[2], 0, 'f', 3));
    if (pose.headingDeg) heading_->setText(QString::number(*pose.headingDeg, 'f', 3));
    crs_->setText(QString::fromStdString(pose.crs));
    positionCrs_->setText(QString::fromStdString(pose.positionCrs));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fileRow);
    layout->addWidget(hidden_);
    layout->addWidget(level_);
    layout->addWidget(poseBox);
    layout->addWidget(buttons);
    resize(560, sizeHint().height());
}

bool ExportCloudDlg::values(std::filesystem::path& path, SurveyExportOptions& options,
                            std::string& why) const {
    SurveyExportOptions o;
    o.includeHidden = hidden_->isChecked();
    o.level = level_->isChecked();
    const std::string position = position_->text().trimmed().toStdString();
    if (!position.empty()) {
        std::array<double, 3> p{};
        if (!parsePosition(position, p, why)) return false;
        o.pose.position = p;
    }
    const std::string heading = heading_->text().trimmed().toStdString();
    if (!heading.empty()) {
        double h = 0;
        if (!parseHeading(heading, h, why)) return false;
        o.pose.headingDeg = h;
    }
    o.pose.crs = crs_->text().trimmed().toStdString();
    o.pose.positionCrs = positionCrs_->text().trimmed().toStdString();
    path = file_->text().trimmed().toStdString();
    if (!surveyFormatOf(path)) {
        why = "the file name must end in .las or .ply";
        return false;
    }
    options = o;
    return true;
}

} // namespace quarv
