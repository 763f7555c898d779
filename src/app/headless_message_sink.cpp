#include "app/headless_message_sink.h"

#include "base/app_log.h"
#include "base/string_utility.h"

namespace tessarine {

void HeadlessMessageSink::Post(Message message) {
    const MessageWords words = ToWords(message);
    std::string text =
        Format("Message:%d wParam:%d lParam:%ld", words.id, words.wParam, words.lParam);
    if (const auto* balloon = std::get_if<BalloonRequest>(&message))
        text += Format(" result:%d value:%d", balloon->result, balloon->value);
    LOG_NOTICE(text);
}

}  // namespace tessarine
