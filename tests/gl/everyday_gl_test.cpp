// The workstation in everyday use: a recording under a 300-character path through every command
// that takes a path (on a frame without the GL view, as without OpenGL), and the Edit menu's
// dialogs with what they change.
#include "gui_support.hpp"

#include "core/cloud/cloud_store.hpp"
#include "core/scan/processing_session.hpp"
#include "gui/app/command_ids.hpp"
#include "gui/app/main_frame.hpp"
#include "gui/app/quarv_app.hpp"
#include "gui/config/cfg_dlg.hpp"
#include "gui/config/color_cfg.hpp"
#include "gui/dialogs/layer_dlg.hpp"
#include "gui/scan/ranger_quarv.hpp"
#include "gui/scanfile/file_info_dlg.hpp"
#include "support/recordings.hpp"
#include "support/test_support.hpp"

#include <QCoreApplication>
#include <QPushButton>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

namespace quarv::test {
namespace {

namespace fs = std::filesystem;

// The first of the layer dialog's "Load File" buttons (each row has one).
void loadFirstRow(QWidget* dialog) {
    for (QPushButton* b : dialog->findChildren<QPushButton*>())
        if (b->text() == "Load File") return b->click();
}

struct Workstation {
    explicit Workstation(bool openGl) {
        RecordingSink sink;
        EXPECT_TRUE(root.ensureCreated(sink));
        app = std::make_unique<CquarvApp>(root);
        app->sink().setPresenter([this](const QString& t) { reported.push_back(t); });
        app->initInstance(false, openGl);
    }
    void run(int id, const std::function<void(QWidget*)>& onModal) {
        withModals([&] { app->onCommand(id); }, onModal);
        while (!app->session().waitUntilIdle(std::chrono::milliseconds(10)))
            QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    TempDir tmp;
    ConfigRoot root{tmp / "home"};
    std::unique_ptr<CquarvApp> app;
    std::vector<QString> reported;
};

TEST(Everyday, AThreeHundredCharacterPathGoesThroughEveryCommandWithoutTheView) {
    Workstation w(false);
    EXPECT_FALSE(w.app->frame().hasView());
    std::string dir = w.tmp.path().string();
    const std::string name = "/scan.raw";
    while (dir.size() + name.size() < 300) {
        const std::size_t left = 300 - dir.size() - name.size(); // with the next '/'
        dir.push_back('/');
        dir.append(left > 150 ? 100 : left - 1, 'd');
    }
    fs::create_directories(dir);
    const fs::path raw = makeRecording(dir, "scan.raw");
    ASSERT_EQ(raw.string().size(), 300u);
    const std::string stem = raw.string().substr(0, 296);

    w.app->layerDialog().setFileChooser([&](QWidget*, const QString&, const QString&) {
        return QString::fromStdString(dir + name);
    });
    w.run(ID_PROCESS_RAW_PEAK, loadFirstRow);
    EXPECT_TRUE(w.reported.empty()) << w.reported.front().toStdString();
    EXPECT_EQ(std::string(w.app->store().layer(0).name.data()), raw.string());
    EXPECT_GT(w.app->store().countVisible(0, true), 100u);

    QStringList info;
    w.run(ID_FILE_INFO, [&](QWidget* m) {
        info = static_cast<FileInfoDlg*>(m)->lines();
        static_cast<QDialog*>(m)->accept();
    });
    ASSERT_GT(info.size(), 2);
    EXPECT_EQ(info[2].toStdString(), raw.string());

    std::vector<std::string> proposed;
    w.app->setSaveChooser(
        [&](QWidget*, const QString&, const QString& p, const QString&, const QString&) {
            proposed.push_back(p.toStdString());
            return p;
        });
    w.run(ID_SAVE_LAS, [](QWidget*) {});
    w.run(ID_SAVE_XYZ, [](QWidget*) {});
    EXPECT_EQ(proposed, (std::vector<std::string>{stem + ".las", stem + ".xyz"}));
    for (const char* ext : {".las", ".xyz"}) EXPECT_GT(fs::file_size(stem + ext), 1000u) << ext;

    // The build dialog on the same file: its SNR limit wins and becomes the layer's.
    w.run(ID_BUILD_POINT_CLOUD, [](QWidget* m) {
        auto* snr = static_cast<NumEdit*>(m->findChild<QDoubleSpinBox*>("snrMin"));
        snr->setValue(1e9);
        button(*m, "Process Pt Cloud")->click();
    });
    EXPECT_TRUE(w.reported.empty()) << w.reported.front().toStdString();
    EXPECT_EQ(w.app->store().layer(0).snrMin, 1e9f);
    EXPECT_EQ(w.app->store().countVisible(0, true), 0u);
    w.run(ID_BUILD_POINT_CLOUD, [](QWidget* m) { static_cast<QDialog*>(m)->reject(); });
    EXPECT_FALSE(w.app->session().reader().isOpen()); // closed with the dialog
}

// The Edit menu's entries (listed with their keys in the frame's transcript) open their dialogs;
// the colour settings' point size is the view's.
TEST(Everyday, TheEditMenuOpensTheSettingsAndTheBuildDialog) {
    Workstation w(true);
    for (const auto& [id, dialog] : {std::pair<int, QWidget*>{ID_EDIT_CFG, &w.app->cfgDialog()},
                                     {ID_COLOR_CFG, &w.app->colorCfg()},
                                     {ID_BUILD_POINT_CLOUD, &w.app->rangerQuarv()}}) {
        QWidget* opened = nullptr;
        withModals(
            [&] { w.app->frame().action(id)->trigger(); },
            [&](QWidget* m) {
                opened = m;
                if (m != &w.app->colorCfg()) return static_cast<QDialog*>(m)->reject();
                static_cast<NumEdit*>(m->findChild<QDoubleSpinBox*>("pointSize"))->setValue(6);
                button(*m, "Save")->click();
            });
        EXPECT_EQ(opened, dialog) << id;
    }
    EXPECT_EQ(w.app->view().basePointSize(), 6.0f);
    EXPECT_EQ(w.app->view().glRenderer()->baseSize(), 6.0f);
}

} // namespace
} // namespace quarv::test
