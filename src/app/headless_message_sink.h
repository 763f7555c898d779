// The user interface of the headless mode: every message the workers post is written to the
// log as an always-written line, so a run without a tray still shows what it would have shown.
#pragma once

#include "core/message_sink.h"

namespace tessarine {

class HeadlessMessageSink : public MessageSink {
public:
    // "Message:1136 wParam:0 lParam:0", with " result:<r> value:<v>" for a pop-up request.
    void Post(Message message) override;
};

}  // namespace tessarine
