#include "gui/graph/slide.hpp"

#include <QSignalBlocker>

#include <cmath>
#include <limits>

namespace quarv {
namespace {

// The slider works in whole steps: the dialogs truncate every pointer value to an index.
int toStep(double v) {
    if (std::isnan(v)) return 0;
    if (v >= std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    if (v <= std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    return static_cast<int>(std::trunc(v));
}

} // namespace

void SlidePointer::setValue(double value) {
    const QSignalBlocker block(&owner_.slider_);
    owner_.slider_.setValue(toStep(value));
    owner_.showValue();
}

double SlidePointer::value() const {
    return owner_.slider_.value();
}

void SlideAxis::setMinimum(double minimum) {
    const QSignalBlocker block(&owner_.slider_);
    owner_.slider_.setMinimum(toStep(minimum));
    owner_.showValue();
}

void SlideAxis::setMaximum(double maximum) {
    const QSignalBlocker block(&owner_.slider_);
    owner_.slider_.setMaximum(toStep(maximum));
    owner_.showValue();
}

double SlideAxis::minimum() const {
    return owner_.slider_.minimum();
}
double SlideAxis::maximum() const {
    return owner_.slider_.maximum();
}

Slide::Slide(QWidget* parent) : QWidget(parent), slider_(Qt::Horizontal) {
    setLayout(&layout_);
    layout_.setContentsMargins(0, 0, 0, 0);
    caption_.hide();
    layout_.addWidget(&caption_);
    layout_.addWidget(&minLabel_);
    layout_.addWidget(&slider_, 1);
    layout_.addWidget(&maxLabel_);
    layout_.addWidget(&valueLabel_);
    valueLabel_.setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("= 000000")));
    slider_.setRange(0, 0);
    slider_.setTracking(true);
    connect(&slider_, &QSlider::valueChanged, this, [this](int v) {
        showValue();
        emit pointerValueChanged(static_cast<double>(v));
    });
    showValue();
}

SlidePointer* Slide::pointer(const std::string& name) {
    return name == "Pointer-1" ? &pointer_ : nullptr;
}

void Slide::setCaption(const QString& caption) {
    caption_.setText(caption);
    caption_.setVisible(!caption.isEmpty());
}

void Slide::showValue() {
    minLabel_.setText(QString::number(slider_.minimum()));
    maxLabel_.setText(QString::number(slider_.maximum()));
    valueLabel_.setText(QStringLiteral("= %1").arg(slider_.value()));
}

} // namespace quarv
