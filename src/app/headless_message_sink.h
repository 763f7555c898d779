// The user interface of the headless mode: every message the workers post is written to the
// log as an always-written line, so a run without a tray still shows what it would have shown.
#pragma once

#include <memory>

#include "core/message_sink.h"

namespace tessarine {

class HeadlessMessageSink : public MessageSink {
public:
    using MessageSink::Post;
    // "Message:1136 wParam:0 lParam:0", with " result:<r> value:<v>" for a pop-up request.
    // The request is freed here.
    void Post(int messageId, int wParam, long lParam,
              std::unique_ptr<BalloonRequest> balloon) override;
};

}  // namespace tessarine
