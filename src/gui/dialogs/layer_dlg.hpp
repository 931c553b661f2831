// "Layer Selection Dialog" (layerDlg): the display and filter settings of the five point layers,
// and the choice of a file to load into one of them. Each showing starts from the current layer
// records; only "Perform Updates" (or a confirmed "Load File") writes the controls back into the
// records. Writing layers.lcfg and loading the chosen file are the caller's business:
//
//   layerDlg dlg(store, sink, mainWindow);          // long-lived
//   if (dlg.exec() == QDialog::Accepted) {
//       writeLayerList(store.layers(), LAYER_COUNT, root, "layers");
//       std::uint32_t layer; std::string path;
//       if (dlg.chosenFile(layer, path)) { ... load path into layer ... }
//   }
//
// A path chosen with "Load File" is kept whole, however long.
#pragma once

#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_point.hpp"
#include "gui/dialogs/choosers.hpp"
#include "gui/graph/num_edit.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <array>
#include <cstdint>
#include <string>

namespace quarv {

class CloudStore;

// The Qt form of "3D Files (*.las;*.3DC;*.raw)|*.las;*.3DC;*.raw|", with the peak files (".pek")
// the Process command takes too.
inline const char* const kLayerFileFilter = "3D Files (*.las *.3DC *.raw *.pek)";

class layerDlg : public QDialog {
    Q_OBJECT
public:
    layerDlg(CloudStore& store, MessageSink& sink, QWidget* parent = nullptr);
    ~layerDlg() override;

    // After the dialog was confirmed: false when no file was chosen in this showing; otherwise
    // the layer (0 to 4) and the path.
    bool chosenFile(std::uint32_t& layer, std::string& path) const;

    // Controls -> the five layer records, then close as confirmed ("Perform Updates").
    void performUpdates();
    // "Load File" of one row (0 to 4).
    void loadFile(std::uint32_t layer);

    void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
    void setColorChooser(ColorChooser chooser) { chooseColor_ = std::move(chooser); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Row;
    void initialise();
    void pickColor(QPushButton& button, Rgb& colour);

    CloudStore& store_;
    MessageSink& sink_;
    FileChooser chooseFile_;
    ColorChooser chooseColor_;

    bool fileChosen_ = false;
    std::uint32_t chosenLayer_ = 0;
    std::string chosenPath_;

    QVBoxLayout layout_;
    std::array<std::unique_ptr<Row>, LAYER_COUNT> rows_;
    QDialogButtonBox buttons_;
    QPushButton performButton_{QStringLiteral("Perform Updates")};
    QPushButton cancelButton_{QStringLiteral("Cancel")};
};

} // namespace quarv
