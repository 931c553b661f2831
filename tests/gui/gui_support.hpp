// Helpers of the dialog tests: find controls the way an operator sees them, enter values through
// the keyboard, and write what a dialog shows as text for golden transcripts.
#pragma once

#include "gui/graph/graph.hpp"

#include <QAbstractButton>
#include <QDoubleSpinBox>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <filesystem>
#include <ostream>
#include <string>

// Readable failure messages for texts.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace quarv::test {

// The button with exactly this caption among `root`'s descendants (nullptr if none or several).
QAbstractButton* button(QWidget& root, const QString& caption);
QDoubleSpinBox* spin(QWidget& root, const QString& objectName);

// Selects the edit's text, types `text` and commits it by moving the focus on, as an operator
// leaving the field does.
void typeValue(QDoubleSpinBox& edit, const QString& text);
void click(QAbstractButton& b);

// Every named control (check box or button state, edit value, label text) in creation order.
std::string describeControls(QWidget& root);
// Every plot (name, points as key:value at 4 decimals; long plots summarised) and cursor
// (position, colour) of a graph, one per line.
std::string describe(const Graph& g);
// The lines, with `dir` written as <dir> so that transcripts do not depend on the temporary
// folder.
std::string describe(const QStringList& lines, const std::filesystem::path& dir);

} // namespace quarv::test
