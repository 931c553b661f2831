// The GUI side of the notifier: the processing thread's "cloud changed", "progress n" and
// "new target" become events posted to the view and the main frame. Posting never waits for the
// UI thread. Receivers are detached before they are destroyed, so a late post from the processing
// thread goes nowhere instead of to a dead object.
#pragma once

#include "core/app/notifier.hpp"

#include <QObject>

#include <mutex>

namespace quarv {

class GuiNotifier final : public Notifier {
public:
    // view receives WM_CLOUD_CHANGED and the target; frame receives WM_PROCESS_PROGRESS.
    void attach(QObject* view, QObject* frame);
    void detach();

    void cloudChanged() override;
    void progress(int percent) override;
    void setTarget(float x, float y, float z) override;

private:
    std::mutex mutex_;
    QObject* view_ = nullptr;
    QObject* frame_ = nullptr;
};

} // namespace quarv
