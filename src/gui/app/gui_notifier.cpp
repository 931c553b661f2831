#include "gui/app/gui_notifier.hpp"

#include "gui/app/custom_events.hpp"

#include <QCoreApplication>

#include <memory>

namespace quarv {

QEvent::Type targetEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

namespace {

// postEvent takes ownership of a heap event; the queue deletes it after delivery.
template <typename E, typename... Args> void post(QObject* receiver, Args... args) {
    if (receiver) QCoreApplication::postEvent(receiver, std::make_unique<E>(args...).release());
}

class CloudChangedEvent final : public QEvent {
public:
    CloudChangedEvent() : QEvent(cloudChangedEventType()) {}
};

} // namespace

void GuiNotifier::attach(QObject* view, QObject* frame) {
    std::lock_guard lock(mutex_);
    view_ = view;
    frame_ = frame;
}

void GuiNotifier::detach() {
    attach(nullptr, nullptr);
}

void GuiNotifier::cloudChanged() {
    std::lock_guard lock(mutex_);
    post<CloudChangedEvent>(view_);
}

void GuiNotifier::progress(int percent) {
    std::lock_guard lock(mutex_);
    post<ProgressEvent>(frame_, percent);
}

void GuiNotifier::setTarget(float x, float y, float z) {
    std::lock_guard lock(mutex_);
    post<TargetEvent>(view_, x, y, z);
}

} // namespace quarv
