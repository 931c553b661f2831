#include "gui/app/gui_message_sink.hpp"

#include <QApplication>
#include <QMessageBox>

namespace quarv {

GuiMessageSink::GuiMessageSink(QObject* context) : context_(context) {
    presenter_ = [](const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("quarv"), text, QMessageBox::Ok,
                        QApplication::activeWindow());
        box.exec();
    };
}

void GuiMessageSink::setPresenter(std::function<void(const QString&)> presenter) {
    presenter_ = std::move(presenter);
}

void GuiMessageSink::report(const std::string& text) {
    const QString message = QString::fromStdString(text);
    // Queued even on the UI thread itself: the reporter returns before the box is shown.
    QMetaObject::invokeMethod(
        context_, [this, message] { presenter_(message); }, Qt::QueuedConnection);
}

} // namespace quarv
