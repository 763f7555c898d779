#include "tray/qt_message_sink.h"

#include <QMetaObject>

#include "base/app_log.h"
#include "base/string_utility.h"

namespace tessarine::tray {

CQtMessageSink::CQtMessageSink() = default;

void CQtMessageSink::Post(Message message) {
    QMetaObject::invokeMethod(
        this, [this, message = std::move(message)] { Deliver(message); }, Qt::QueuedConnection);
}

void CQtMessageSink::Deliver(const Message& message) {
    if (!handler_) {
        const MessageWords words = ToWords(message);
        LOG_NOTICE(Format("Message Without Window Dropped. Message:%d wParam:%d lParam:%ld",
                          words.id, words.wParam, words.lParam));
        return;
    }
    handler_(message);
}

}  // namespace tessarine::tray
