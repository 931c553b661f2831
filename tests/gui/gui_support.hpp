// Helpers of the dialog tests: controls found and used as an operator does, and what a dialog
// shows written as text for golden transcripts.
#pragma once

#include "gui/graph/graph.hpp"

#include <QAbstractButton>
#include <QDoubleSpinBox>
#include <QStringList>

#include <filesystem>
#include <ostream>
#include <string>

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace quarv::test {

// The button with exactly this caption (nullptr if none or several).
QAbstractButton* button(QWidget& root, const QString& caption);
QDoubleSpinBox* spin(QWidget& root, const QString& objectName);
// Types `text` over the edit's value and commits it by moving the focus on.
void typeValue(QDoubleSpinBox& edit, const QString& text);
void click(QAbstractButton& b);

// Every named check box, button, edit and label with its state, in creation order.
std::string describeControls(QWidget& root);
// Every plot (points as key:value; long plots summarised) and cursor of a graph.
std::string describe(const Graph& g);
// The lines, with `dir` written as <dir>.
std::string describe(const QStringList& lines, const std::filesystem::path& dir);

} // namespace quarv::test
