// The slide control of the analysis dialogs: a horizontal slider with a pointer ("Pointer-1")
// whose value the program sets without raising a change event, and an axis with minimum and
// maximum. The operator's moves raise pointerValueChanged with the new value.
#pragma once

#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QWidget>

#include <string>

namespace quarv {

class Slide;

class SlidePointer {
public:
    explicit SlidePointer(Slide& owner) : owner_(owner) {}
    // Shows that position; raises no change event. Values outside the axis are held at its ends.
    void setValue(double value);
    double value() const;

private:
    Slide& owner_;
};

class SlideAxis {
public:
    explicit SlideAxis(Slide& owner) : owner_(owner) {}
    void setMinimum(double minimum);
    void setMaximum(double maximum);
    double minimum() const;
    double maximum() const;

private:
    Slide& owner_;
};

class Slide : public QWidget {
    Q_OBJECT
public:
    explicit Slide(QWidget* parent = nullptr);

    // "Pointer-1" is the slide's only pointer; any other name gives nullptr.
    SlidePointer* pointer(const std::string& name);
    SlideAxis& axis() { return axis_; }
    // A caption in front of the slider (e.g. "Line").
    void setCaption(const QString& caption);

    QSlider& slider() { return slider_; }

signals:
    void pointerValueChanged(double value);

private:
    friend class SlidePointer;
    friend class SlideAxis;
    void showValue();

    QHBoxLayout layout_;
    QLabel caption_;
    QLabel minLabel_;
    QSlider slider_;
    QLabel maxLabel_;
    QLabel valueLabel_;
    SlidePointer pointer_{*this};
    SlideAxis axis_{*this};
};

} // namespace quarv
