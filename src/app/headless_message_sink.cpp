#include "app/headless_message_sink.h"

#include "infra/app_log.h"
#include "infra/string_utility.h"

namespace tessarine {

void HeadlessMessageSink::Post(int messageId, int wParam, long lParam,
                               std::unique_ptr<BalloonRequest> balloon) {
    std::string text = Format("Message:%d wParam:%d lParam:%ld", messageId, wParam, lParam);
    if (balloon) text += Format(" result:%d value:%d", balloon->result, balloon->value);
    LOG_NOTICE(text);
}

}  // namespace tessarine
