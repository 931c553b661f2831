// The dialogs: what the operator types reaches the stored values, what is shown is a golden
// transcript, and refused or cancelled choices change nothing.
#include "core/cloud/cloud_store.hpp"
#include "gui/config/cfg_dlg.hpp"
#include "gui/config/color_cfg.hpp"
#include "gui/dialogs/layer_dlg.hpp"
#include "gui/graph/num_edit.hpp"
#include "gui/graph/slide.hpp"
#include "gui/scanfile/file_info_dlg.hpp"
#include "gui/waveform/mf_pulse_dlg.hpp"
#include "gui_support.hpp"
#include "support/golden.hpp"
#include "support/recordings.hpp"

#include <QSignalSpy>
#include <QTest>

#include <cstring>

namespace quarv::test {
namespace {

using Dialogs = Home;

TEST_F(Dialogs, FileInformationShowsTheHeaderOfTheOpenerPathAndOfLoadedFiles) {
    FileInfoDlg dlg(sink);
    QString filterSeen, answer;
    dlg.setFileChooser([&](QWidget*, const QString&, const QString& filter) {
        filterSeen = filter;
        return answer;
    });
    dlg.setPath(makeRecording(dir.path(), "plane.raw", [](sim::SimOptions& o) {
                    o.scanner.scanType = 3;
                    o.scanner.sensor = "SENSOR-9";
                }).string());
    dlg.show();
    shown = dlg.windowTitle().toStdString() + "\n";
    for (const auto& next : {makeRecording(dir.path(), "bowtie.raw",
                                           [](sim::SimOptions& o) { o.scanner.scanType = 4; }),
                             dir.path() / "missing.raw"}) {
        shown += describe(dlg.lines(), dir.path());
        answer = QString::fromStdString(next.string());
        click(*button(dlg, "Load File")); // the dialog stays open
        EXPECT_TRUE(dlg.isVisible());
    }
    // An unreadable file is reported by the reader; the list shows the header still held.
    EXPECT_EQ(sink.messages(),
              std::vector<std::string>{"ERROR opening playback file: " + answer.toStdString()});
    EXPECT_EQ(filterSeen, "3D Files (*.raw)");
    expectGolden("gui_file_info.txt", shown + describe(dlg.lines(), dir.path()));
}

TEST_F(Dialogs, SettingsAreSavedWithTheirConversionsAndCancelKeepsThem) {
    std::filesystem::create_directories(root.cfgDir());
    CfgDlg cfg(root);
    ColorCFG colours(root);
    cfg.show();
    typeValues(cfg, "lowIntensityCutoff=12.9 highIntensityCutoff=300.7 startRgb.r=256 "
                    "startRgb.g=-1 startRgb.b=7 midRgb.g=128 highRgb.b=255");
    QString map = "lowIntensity=-20 mediumIntensity=300 highIntensity=70000 pointSize=4";
    int v = 1; // the colour map's 21 components take 1, 2, 3, ...; the last one -1
    for (const char* c : {"lowIntensityRgb", "lowStartRgb", "lowEndRgb", "mediumStartRgb",
                          "mediumEndRgb", "highIntensityRgb", "saturationRgb"})
        for (const char* part : {".r=", ".g=", ".b="})
            map += QString(" %1%2%3").arg(c, part).arg(v < 21 ? v++ : -1);
    colours.show();
    typeValues(colours, map);
    EXPECT_EQ(colours.pointSize(), 0); // nothing changes until "Save"
    click(*button(cfg, "Save"));
    click(*button(colours, "Save"));
    EXPECT_EQ(cfg.result(), QDialog::Accepted);
    EXPECT_EQ(colours.pointSize(), 4);

    // New dialogs show what the files hold; Cancel keeps fields and files.
    CfgDlg cfg2(root);
    ColorCFG colours2(root);
    const auto bytes = readBytes(root.cfgFile("quarv.mcfg"));
    for (QDialog* d : std::initializer_list<QDialog*>{&cfg2, &colours2}) {
        d->show();
        const std::string loaded = describeControls(*d);
        typeValue(*d->findChildren<QDoubleSpinBox*>().back(), "9");
        click(*button(*d, "Cancel"));
        EXPECT_EQ(d->result(), QDialog::Rejected);
        d->show();
        EXPECT_EQ(describeControls(*d), loaded);
        shown += loaded;
    }
    EXPECT_EQ(colours2.pointSize(), 4);
    EXPECT_EQ(readBytes(root.cfgFile("quarv.mcfg")), bytes);
    expectGolden("gui_settings.txt", shown);
}

TEST_F(Dialogs, PulseAnalysisOverlaysTemplateAndAverageWithoutWritingTheTemplate) {
    const auto file = makeRecording(dir.path(), "plane.raw");
    const auto wide = makeRecording(dir.path(), "wide.raw", [](sim::SimOptions& o) {
        o.waveform.pulseSigmaRaw = 5.0; // twice the template's width
    });
    const auto templateBefore = readBytes(root.pulseTemplatePath());
    const auto run = [&](const std::filesystem::path& path, double end) {
        MFPulseDlg dlg(root, sink, path.string(), end);
        dlg.show();
        click(*button(dlg, "Process"));
        shown += (dlg.windowTitle() + "\n" + dlg.firstText() + "\n" + dlg.secondText() + "\n")
                     .toStdString() +
                 describe(dlg.graph());
        return dlg.analysis();
    };
    // The simulated laser pulse has the template's width (a Gaussian of sigma 10 interpolated
    // samples: 23.55); a wider pulse shows as a wider average; a window short of the plane has
    // no return.
    const PulseAnalysis a = run(file, 30.0);
    EXPECT_NEAR(a.templateWidth, 23.55, 0.3);
    EXPECT_NEAR(a.averageWidth, a.templateWidth, 0.15 * a.templateWidth);
    EXPECT_GT(run(wide, 30.0).averageWidth, 1.6 * a.templateWidth);
    EXPECT_EQ(run(file, 1.0).pulsesAveraged, 0);
    run(dir.path() / "none.raw", 30.0);
    EXPECT_EQ(sink.messages(), std::vector<std::string>{"ERROR opening playback file: " +
                                                        (dir.path() / "none.raw").string()});
    expectGolden("gui_mf_pulse.txt", shown);
    EXPECT_EQ(readBytes(root.pulseTemplatePath()), templateBefore);
    // A long recording is sampled: whole records spread over the file, up to the limit.
    PulseAnalysis sampled;
    ASSERT_TRUE(PulseAnalyser(root, sink).analyse(file.string(), 30.0, sampled, 64, 200));
    EXPECT_GE(sampled.waveformsProcessed, 150);
    EXPECT_LE(sampled.waveformsProcessed, 200);
}

TEST(LayerDialog, ShowsEveryRecordWritesThemBackAndRefusesOverlongPaths) {
    CloudStore store;
    RecordingSink sink;
    layerDlg dlg{store, sink};
    for (std::uint32_t i = 0; i < LAYER_COUNT; ++i) { // every field differs between rows
        PointLayer& l = store.layer(i);
        l.colorFrom = {std::uint8_t(10 * i), 20, 30};
        l.colorTo = {200, std::uint8_t(210 + i), 220};
        l.colorFromExtra = 9;
        l.colorMode = i == 0 ? kColorByRange : i == 1 ? kColorByAmplitudeRank : kColorBySnrRank;
        std::tie(l.inUse, l.showSaturated, l.pointSize, l.neighbourFilter) =
            std::tuple(i % 2, i == 4, i + 1, i != 3);
        std::tie(l.rangeMin, l.rangeMax, l.snrMin) = std::tuple(0.5f * i, 10.25f + i, 3.0f + i);
        l.filterDistance = 0.05 * (i + 1);
    }
    std::strcpy(store.layer(2).name.data(), "/data/scan-7.raw");
    QString filterSeen, answer; // answer: what the file chooser returns
    dlg.setFileChooser([&](QWidget*, const QString&, const QString& filter) {
        filterSeen = filter;
        return answer;
    });
    dlg.setColorChooser([](QWidget*, const QColor&) { return QColor(1, 2, 3); });
    dlg.show();
    const auto tick = [&](const char* rowAndName) {
        click(*dlg.findChild<QAbstractButton*>(QString("layer") + rowAndName));
    };
    const auto records = [&] {
        std::string out;
        for (const PointLayer& l : std::span(store.layers(), LAYER_COUNT))
            out += formatMessage("mode %u use %u sat %u size %u range %g-%g snr %g filter %u %g "
                                 "from %u,%u,%u,%u to %u,%u,%u\n",
                                 l.colorMode, l.inUse, l.showSaturated, l.pointSize, l.rangeMin,
                                 l.rangeMax, l.snrMin, l.neighbourFilter, l.filterDistance,
                                 l.colorFrom.r, l.colorFrom.g, l.colorFrom.b, l.colorFromExtra,
                                 l.colorTo.r, l.colorTo.g, l.colorTo.b);
        return out;
    };
    std::uint32_t layer = 9;
    std::string path, shown = dlg.windowTitle().toStdString() + "\n" + describeControls(dlg);
    const std::string before = records();
    typeValues(dlg, "layer0.snrMin=8");
    for (const QString& refused : {QString(), "/" + QString(127, 'p')}) { // cancelled; 128 long
        answer = refused;
        tick("3.load");
    }
    EXPECT_TRUE(dlg.isVisible() && !dlg.chosenFile(layer, path));
    EXPECT_EQ(sink.messages(),
              std::vector<std::string>{"ERROR, Layer, file path longer than 127 characters!"});
    EXPECT_EQ(records(), before);

    // A point size keeps its low 8 bits. Range and Intensity exclude each other; unticking both
    // keeps the record's mode.
    typeValues(dlg, "layer0.ptSize=3.9 layer1.rangeMin=1.125 layer1.rangeMax=7.5 "
                    "layer2.snrMin=12.5 layer3.minDist=0.125 layer4.ptSize=257");
    for (const char* name : {"1.enabled", "3.clutterEnable", "4.saturated", "2.intensity",
                             "0.intensity", "0.range", "0.range", "3.startColor"})
        tick(name);
    shown += "== edited\n" + describeControls(dlg);
    click(*button(dlg, "Perform Updates"));
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(dlg.chosenFile(layer, path));
    expectGolden("gui_layer_dialog.txt", shown + "== records\n" + records());

    // Load File applies all rows and closes; exactly 127 characters are kept whole.
    dlg.show();
    typeValues(dlg, "layer1.snrMin=42");
    answer = "/" + QString(126, 'p');
    tick("3.load");
    EXPECT_EQ(filterSeen, "3D Files (*.las *.3DC *.raw)");
    EXPECT_TRUE(dlg.result() == QDialog::Accepted && !dlg.isVisible());
    EXPECT_EQ(store.layer(1).snrMin, 42.0f);
    ASSERT_TRUE(dlg.chosenFile(layer, path));
    EXPECT_EQ(std::pair(layer, path), std::pair(3u, answer.toStdString()));

    // The next showing starts without a chosen file; Cancel leaves every record as it was.
    dlg.show();
    EXPECT_FALSE(dlg.chosenFile(layer, path));
    const std::string confirmed = records();
    typeValues(dlg, "layer1.snrMin=7");
    tick("1.saturated");
    click(*button(dlg, "Cancel"));
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(records(), confirmed);
}

TEST(GraphControls, ProgramSetValuesRaiseNoEventOperatorMovesAndTypedValuesDoOnce) {
    Slide s;
    QSignalSpy moved(&s, &Slide::pointerValueChanged);
    s.axis().setMaximum(50);
    s.pointer("Pointer-1")->setValue(7.9); // truncated to a whole index
    EXPECT_EQ(s.pointer("Pointer-1")->value(), 7.0);
    s.axis().setMaximum(5); // a smaller axis moves the pointer without an event either
    s.show();
    s.slider().setFocus();
    QTest::keyClick(&s.slider(), Qt::Key_Left);
    ASSERT_EQ(moved.count(), 1);
    EXPECT_EQ(moved.at(0).at(0).toDouble(), 4.0);

    NumEdit e(-10, 1000, 2);
    QSignalSpy typed(&e, qOverload<double>(&QDoubleSpinBox::valueChanged));
    e.show();
    e.setFocus();
    e.selectAll();
    QTest::keyClicks(&e, "12.75");
    EXPECT_EQ(typed.count(), 0); // no event per keystroke
    QTest::keyClick(&e, Qt::Key_Return);
    EXPECT_EQ(typed.count(), 1);
    EXPECT_DOUBLE_EQ(e.value(), 12.75);
}

} // namespace
} // namespace quarv::test
