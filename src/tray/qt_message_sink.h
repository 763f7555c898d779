// The MessageSink of the tray mode: a message posted by any thread is queued to the UI thread's
// event loop and handed there to the handler the tray window sets. The queued event owns the
// message, so it is freed whether or not a window shows it.
#pragma once

#include <QObject>
#include <functional>

#include "core/message_sink.h"

namespace tessarine::tray {

class CQtMessageSink : public QObject, public MessageSink {
    Q_OBJECT

public:
    using Handler = std::function<void(const Message&)>;

    // Lives on the thread that makes it (the UI thread).
    CQtMessageSink();

    // Called from any thread.
    void Post(Message message) override;

    // Set and cleared on the UI thread; messages that arrive without a handler are logged and
    // dropped.
    void SetHandler(Handler handler) { handler_ = std::move(handler); }

private:
    void Deliver(const Message& message);

    Handler handler_;
};

}  // namespace tessarine::tray
