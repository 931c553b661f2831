// Helpers of the GUI and GL tests: controls used as an operator does, modal boxes answered, what
// a dialog shows as text for golden transcripts, and a GL view of a small cloud in a real store.
#pragma once

#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_renderer.hpp"
#include "core/config/config_root.hpp"
#include "gui/graph/graph.hpp"
#include "gui/viewer/child_view.hpp"
#include "support/golden.hpp"
#include "support/recordings.hpp"
#include "support/test_support.hpp"

#include <QAbstractButton>
#include <QDoubleSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include <map>
#include <optional>

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace quarv::test {

// The button with exactly this caption (nullptr if none or several).
QAbstractButton* button(QWidget& root, const QString& caption);
QDoubleSpinBox* spin(QWidget& root, const QString& objectName);
// Types `text` over the edit's value and commits it by moving the focus on.
void typeValue(QDoubleSpinBox& edit, const QString& text);
void typeValues(QWidget& root, const QString& assignments); // "objectName=text ..."
void click(QAbstractButton& b);
// Runs trigger(); each modal widget opening meanwhile goes to onModal, which must close it.
// Returns the number of modal widgets seen.
int withModals(const std::function<void()>& trigger, const std::function<void(QWidget*)>& onModal);
// The texts of the boxes opened by trigger(), answered OK (or Cancel); Point Information's texts
// joined by " | ".
std::vector<QString> messagesOf(const std::function<void()>& trigger, bool answerOk = true);

// Every named check box, button, edit and label with its state, in creation order.
std::string describeControls(QWidget& root);
// Every plot (points as key:value; long plots summarised) and cursor of a graph.
std::string describe(const Graph& g);
std::string describe(const QStringList& lines, const std::filesystem::path& dir); // dir: <dir>
std::map<QRgb, int> colourCounts(const QImage& image); // pixels of each colour but black

// A configuration home in a temporary folder, and a transcript to compare with a golden.
struct Home : ::testing::Test {
    TempDir dir;
    ConfigRoot root{dir.path() / "home"};
    RecordingSink sink;
    std::string shown;
    void SetUp() override { ASSERT_TRUE(root.ensureCreated(sink)); }
};

// A 400 x 300 view of its own store's layer 0 (point size 1, range window wide open), centred on
// (0, 5, 0).
struct ViewFixture {
    ViewFixture();
    // Appends a visible point to layer l and returns its slot.
    CloudPoint& add(float x, float y, float z, Rgb colour = {255, 255, 255}, std::uint32_t l = 0);
    // The pixel a one-pixel point at p covers.
    QPoint pixelOf(const CloudPoint& p) const;
    // Moves p across the line of sight into the middle of `pixel` (by default the one it is on).
    void moveToPixel(CloudPoint& p, std::optional<QPoint> pixel = {}) const;
    QImage frame() { return view->grabFramebuffer(); }

    std::unique_ptr<CloudStore> store = std::make_unique<CloudStore>();
    std::unique_ptr<CloudRenderer> renderer = std::make_unique<CloudRenderer>(*store);
    std::unique_ptr<CChildView> view = std::make_unique<CChildView>();
};

} // namespace quarv::test
