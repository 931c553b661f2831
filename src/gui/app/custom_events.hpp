// The two messages of the processing side, as Qt events with the system's message numbers, and
// the event that hands the view a new centre of rotation. They are posted from the processing
// thread and handled on the UI thread.
#pragma once

#include <QEvent>

namespace quarv {

constexpr int WM_CLOUD_CHANGED = 0x800D;    // to the view: the cloud changed, rebuild and redraw
constexpr int WM_PROCESS_PROGRESS = 0x800E; // to the main frame: progress 0..100

inline QEvent::Type cloudChangedEventType() {
    return static_cast<QEvent::Type>(WM_CLOUD_CHANGED);
}
inline QEvent::Type progressEventType() {
    return static_cast<QEvent::Type>(WM_PROCESS_PROGRESS);
}
// A free user event number for the target hand-over (registered once).
QEvent::Type targetEventType();

class ProgressEvent final : public QEvent {
public:
    explicit ProgressEvent(int value) : QEvent(progressEventType()), value_(value) {}
    int value() const { return value_; }

private:
    int value_;
};

class TargetEvent final : public QEvent {
public:
    TargetEvent(float x, float y, float z) : QEvent(targetEventType()), x_(x), y_(y), z_(z) {}
    float x() const { return x_; }
    float y() const { return y_; }
    float z() const { return z_; }

private:
    float x_, y_, z_;
};

} // namespace quarv
