// The numeric edit of the analysis and settings dialogs: a spin box holding a double. Its
// value-changed signal fires when the operator commits a value (Enter, arrows, focus out),
// not on every keystroke, so dialogs that recompute on a change do so once per edit.
#pragma once

#include <QDoubleSpinBox>

namespace quarv {

class NumEdit : public QDoubleSpinBox {
public:
    explicit NumEdit(QWidget* parent = nullptr) : NumEdit(-1e9, 1e9, 3, parent) {}
    NumEdit(double minimum, double maximum, int decimals, QWidget* parent = nullptr)
        : QDoubleSpinBox(parent) {
        setRange(minimum, maximum);
        setDecimals(decimals);
        setKeyboardTracking(false);
        setAccelerated(true);
        setAlignment(Qt::AlignRight);
    }
};

} // namespace quarv
