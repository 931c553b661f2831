#include "gui/config/rgb_edit.hpp"

#include "core/config/viewer_settings.hpp"

namespace quarv {

RgbEdit::RgbEdit(const QString& name, QWidget* parent) : QWidget(parent) {
    setLayout(&layout_);
    layout_.setContentsMargins(0, 0, 0, 0);
    const char* parts[] = {"r", "g", "b"};
    for (std::size_t i = 0; i < 3; ++i) {
        NumEdit& e = edits_[i];
        // Out-of-range components are accepted and wrap when saved (256 -> 0, -1 -> 255).
        e.setRange(-9999, 9999);
        e.setDecimals(0);
        e.setObjectName(name + "." + parts[i]);
        e.setToolTip(QString::fromLatin1(parts[i]));
        layout_.addWidget(&e);
        connect(&e, &QDoubleSpinBox::valueChanged, this, [this] { showSwatch(); });
    }
    swatch_.setFixedSize(22, 18);
    swatch_.setFrameShape(QFrame::Box);
    swatch_.setAutoFillBackground(true);
    layout_.addWidget(&swatch_);
    showSwatch();
}

void RgbEdit::setRgb(const Rgb& c) {
    edits_[0].setValue(c.r);
    edits_[1].setValue(c.g);
    edits_[2].setValue(c.b);
    showSwatch();
}

Rgb RgbEdit::rgb() const {
    return {controlToByte(edits_[0].value()), controlToByte(edits_[1].value()),
            controlToByte(edits_[2].value())};
}

void RgbEdit::showSwatch() {
    const Rgb c = rgb();
    swatch_.setStyleSheet(
        QStringLiteral("background-color: rgb(%1,%2,%3);").arg(c.r).arg(c.g).arg(c.b));
}

} // namespace quarv
