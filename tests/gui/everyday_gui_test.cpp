// The numeric edits as the dialogs use them: values nobody edited go back exactly as stored,
// and Return in an edit commits it without pressing the dialog's default button.
#include "core/cloud/cloud_store.hpp"
#include "gui/dialogs/layer_dlg.hpp"
#include "gui/dialogs/proc_graph_dlg.hpp"
#include "gui_support.hpp"
#include "support/test_support.hpp"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

namespace quarv {
namespace {

TEST(NumericEdits, UneditedValuesGoBackAsStoredAndEditedOnesAsTyped) {
    CloudStore store;
    RecordingSink sink;
    PointLayer& l = store.layer(0);
    l.rangeMin = 4.99961f; // shown as 5.000
    l.rangeMax = 25.00049f;
    l.snrMin = 20.004f;          // shown as 20.00
    l.filterDistance = 0.123456; // shown as 0.1235
    const PointLayer before = l;
    layerDlg dlg(store, sink);
    dlg.show();
    test::click(*test::button(dlg, "Perform Updates"));
    EXPECT_EQ(l.rangeMin, before.rangeMin);
    EXPECT_EQ(l.rangeMax, before.rangeMax);
    EXPECT_EQ(l.snrMin, before.snrMin);
    EXPECT_EQ(l.filterDistance, before.filterDistance);

    // Typing the very number the box shows is an edit too.
    dlg.show();
    test::typeValue(*test::spin(dlg, "layer0.snrMin"), "20.00");
    test::click(*test::button(dlg, "Perform Updates"));
    EXPECT_EQ(l.snrMin, 20.0f);
    EXPECT_EQ(l.rangeMin, before.rangeMin);
}

TEST(NumericEdits, ReturnCommitsTheEditAndPressesNoButton) {
    test::TempDir dir;
    ConfigRoot root{dir.path() / "home"};
    RecordingSink sink;
    ASSERT_TRUE(root.ensureCreated(sink));
    ProcGraphDlg graphs(root, sink);
    int chooserCalls = 0;
    graphs.setFileChooser([&](QWidget*, const QString&, const QString&) {
        ++chooserCalls;
        return QString();
    });
    CloudStore store;
    layerDlg layers(store, sink);
    const std::pair<QDialog*, const char*> cases[] = {{&graphs, "procStart"},
                                                      {&layers, "layer0.snrMin"}};
    for (auto [dialog, name] : cases) {
        SCOPED_TRACE(name);
        dialog->show();
        QApplication::processEvents();
        auto* edit = static_cast<NumEdit*>(test::spin(*dialog, name));
        ASSERT_NE(edit, nullptr);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, "2.5");
        QTest::keyClick(edit, Qt::Key_Return);
        QApplication::processEvents();
        EXPECT_EQ(edit->value(), 2.5);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), 0);
        dialog->hide();
    }
    EXPECT_EQ(chooserCalls, 0);
}

} // namespace
} // namespace quarv
