// Three numeric edits r, g, b (0-255) with a swatch of the colour they make: one colour field of
// the viewer settings dialogs.
#pragma once

#include "core/cloud/cloud_point.hpp"
#include "gui/graph/num_edit.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QWidget>

#include <array>

namespace quarv {

class RgbEdit : public QWidget {
public:
    // The edits are named `<name>.r`, `<name>.g`, `<name>.b` for tests and accessibility.
    explicit RgbEdit(const QString& name, QWidget* parent = nullptr);

    void setRgb(const Rgb& c);
    // Each component converted as a stored colour byte: truncated, low 8 bits.
    Rgb rgb() const;
    NumEdit& component(int i) { return edits_[static_cast<std::size_t>(i)]; }

private:
    void showSwatch();

    QHBoxLayout layout_;
    std::array<NumEdit, 3> edits_;
    QLabel swatch_;
};

} // namespace quarv
