// Messages of the core shown to the operator: each report is queued to the UI thread and shown
// there in a modal message box with an OK button. report() returns at once on any thread, so a
// processing or worker thread never waits for the operator.
#pragma once

#include "core/app/message_sink.hpp"

#include <QObject>
#include <QString>

#include <functional>

namespace quarv {

class GuiMessageSink final : public MessageSink {
public:
    // context: the object on whose thread the box is shown (the application object); it must
    // outlive every report.
    explicit GuiMessageSink(QObject* context);

    void report(const std::string& text) override;

    // Replaces the modal box (tests record the texts instead of showing them).
    void setPresenter(std::function<void(const QString&)> presenter);

private:
    QObject* context_;
    std::function<void(const QString&)> presenter_;
};

} // namespace quarv
