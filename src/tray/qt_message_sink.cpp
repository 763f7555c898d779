#include "tray/qt_message_sink.h"

#include <QMetaObject>
#include <memory>

#include "base/app_log.h"
#include "base/string_utility.h"

namespace tessarine::tray {

CQtMessageSink::CQtMessageSink() = default;

void CQtMessageSink::Post(Message message) {
    // Held on the heap: g++ 12 misreads the move of a variant holding a shared_ptr into the
    // queued call's storage as a use of uninitialised memory (-Wmaybe-uninitialized).
    auto held = std::make_shared<const Message>(std::move(message));
    QMetaObject::invokeMethod(
        this, [this, held] { Deliver(*held); }, Qt::QueuedConnection);
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
