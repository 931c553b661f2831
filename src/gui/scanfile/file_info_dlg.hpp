// "File Information" (FileInfoDlg): a recording's header configuration, one value per line,
// as a read-only list. "Load File" chooses another recording (the dialog stays open); "Done"
// closes it.
//
//   FileInfoDlg dlg(sink, mainWindow);
//   dlg.setPath(currentFile);   // optional: filled when shown
//   dlg.exec();
#pragma once

#include "core/app/message_sink.hpp"
#include "core/scanfile/playback_file.hpp"
#include "gui/dialogs/choosers.hpp"
#include "gui/scanfile/info_list.hpp"

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include <filesystem>
#include <string>

namespace quarv {

// The Qt form of "3D Files (*.raw)| *.raw|".
inline const char* const kRawFileFilter = "3D Files (*.raw)";

class FileInfoDlg : public QDialog {
    Q_OBJECT
public:
    explicit FileInfoDlg(MessageSink& sink, QWidget* parent = nullptr);

    // The file shown when the dialog opens; empty shows an empty list.
    void setPath(const std::string& path) { path_ = path; }
    const std::string& path() const { return path_; }

    // Replaces the list with the 30 lines of the file's header. A file that cannot be opened has
    // been reported by the reader; the list then shows the header image the reader still holds.
    bool fillInfo(const std::filesystem::path& path);
    // "Load File".
    void loadFile();

    QStringList lines() const { return list_.lines(); }
    InfoList& list() { return list_; }
    void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    PlaybackFile reader_;
    std::string path_;
    FileChooser chooseFile_;

    QVBoxLayout layout_;
    InfoList list_;
    QHBoxLayout buttons_;
    QPushButton loadButton_{QStringLiteral("Load File")};
    QPushButton doneButton_{QStringLiteral("Done")};
};

} // namespace quarv
