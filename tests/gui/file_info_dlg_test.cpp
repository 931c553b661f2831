#include "gui/scanfile/file_info_dlg.hpp"
#include "gui_support.hpp"
#include "support/recordings.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

namespace quarv {
namespace {

TEST(FileInfoDialog, ShowsTheHeaderLinesOfTheOpenerPathAndOfLoadedFiles) {
    test::TempDir dir;
    const auto first = test::makeRecording(dir.path(), "plane.raw", [](sim::SimOptions& o) {
        o.scanner.scanType = 3;
        o.scanner.sensor = "SENSOR-9";
        o.scanner.job = "Quay wall";
    });
    const auto second = test::makeRecording(dir.path(), "bowtie.raw", [](sim::SimOptions& o) {
        o.scanner.scanType = 4;
        o.scanner.shotsPerLine = 25;
        o.scanner.lines = 3;
    });

    RecordingSink sink;
    FileInfoDlg dlg(sink);
    QString filterSeen;
    dlg.setFileChooser([&](QWidget*, const QString&, const QString& filter) {
        filterSeen = filter;
        return QString::fromStdString(second.string());
    });
    dlg.setPath(first.string());
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "File Information");
    QStringList lines = dlg.lines();
    ASSERT_EQ(lines.size(), 30);
    EXPECT_EQ(lines[0], "\t File Configuration Parameters");
    EXPECT_EQ(lines[2], QString::fromStdString(first.string()));
    EXPECT_EQ(lines[4], "Scan Type: \tMoving Raster");
    EXPECT_EQ(lines[5], "Sensor: \t\tSENSOR-9");
    EXPECT_EQ(lines[6], "Job: \t\tQuay wall");
    EXPECT_EQ(lines[11], "Scan Size\t\t\t48 X 12");
    EXPECT_EQ(lines[16], "Samples Per Pulse\t\t400");
    EXPECT_EQ(lines[19], "CTD Index\t\t1.340000");
    test::screenshot(dlg, "file_info_dlg");

    // Load File: the dialog stays open and every line is replaced.
    test::click(*test::button(dlg, "Load File"));
    EXPECT_EQ(filterSeen, "3D Files (*.raw)");
    EXPECT_TRUE(dlg.isVisible());
    lines = dlg.lines();
    ASSERT_EQ(lines.size(), 30);
    EXPECT_EQ(lines[2], QString::fromStdString(second.string()));
    EXPECT_EQ(lines[4], "Scan Type: \tMoving Bowtie");
    EXPECT_EQ(lines[11], "Scan Size\t\t\t100 X 3");
    EXPECT_TRUE(sink.messages().empty());

    // An unreadable file is reported by the reader; the list shows the header still held.
    dlg.setFileChooser([&](QWidget*, const QString&, const QString&) {
        return QString::fromStdString((dir.path() / "missing.raw").string());
    });
    test::click(*test::button(dlg, "Load File"));
    EXPECT_EQ(sink.last(), "ERROR opening playback file: " + (dir.path() / "missing.raw").string());
    lines = dlg.lines();
    ASSERT_EQ(lines.size(), 30);
    EXPECT_EQ(lines[11], "Scan Size\t\t\t100 X 3");

    test::click(*test::button(dlg, "Done"));
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
}

TEST(FileInfoDialog, ValuesStartInOneColumnWhateverTheirTabs) {
    EXPECT_EQ(splitAtTabs("Gain\t\t\t500"), std::make_pair(QString("Gain"), QString("500")));
    EXPECT_EQ(splitAtTabs("Scan Type: \tStable Raster"),
              std::make_pair(QString("Scan Type: "), QString("Stable Raster")));
    EXPECT_EQ(splitAtTabs("/a/path"), std::make_pair(QString("/a/path"), QString()));
    InfoList list;
    list.setLines(
        {"Samples Per Pulse\t\t400", "Gain\t\t\t5", "/a/very/long/path/without/tabs.raw"});
    const QFontMetrics fm(list.font());
    // The column clears the widest label; the path does not push it.
    EXPECT_GT(list.valueColumn(), fm.horizontalAdvance("Samples Per Pulse"));
    EXPECT_LT(list.valueColumn(), fm.horizontalAdvance("/a/very/long/path/without/tabs.raw"));
}

} // namespace
} // namespace quarv
