// The numeric edit of the analysis and settings dialogs: a spin box holding a double. Its
// value-changed signal fires when the operator commits a value (Enter, arrows, focus out),
// not on every keystroke, so dialogs that recompute on a change do so once per edit.
//
// The box shows a value rounded to its decimals, but a value the dialog put in comes back out
// whole until the box changes: writing a dialog's controls back must not turn the stored
// 4.99961 m that the box shows as 5.000 into 5.000. Once the operator types (or the box's value
// changes any other way), value() is what the box holds. setValue() and value() hide the spin
// box's own; use them through NumEdit.
//
// Return or Enter commits the value (and whatever a change of it does) and goes no further: it
// does not press the dialog's default button.
#pragma once

#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QLineEdit>

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
        // Only the operator's keystrokes (typing, pasting, deleting) fire textEdited: what is
        // then committed is what was typed, even the very number the box showed.
        connect(lineEdit(), &QLineEdit::textEdited, this, [this] { held_ = false; });
    }

    void setValue(double v) {
        QDoubleSpinBox::setValue(v);
        exact_ = v;
        shown_ = QDoubleSpinBox::value();
        held_ = true;
    }
    double value() const {
        const double boxed = QDoubleSpinBox::value();
        return held_ && boxed == shown_ ? exact_ : boxed;
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        QDoubleSpinBox::keyPressEvent(event);
        // The spin box leaves Return to its dialog, which would press the default button.
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) event->accept();
    }

private:
    double exact_ = 0.0; // the value last put in
    double shown_ = 0.0; // what the box made of it (rounded, clamped)
    bool held_ = false;
};

} // namespace quarv
