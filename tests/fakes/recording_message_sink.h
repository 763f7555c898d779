// A MessageSink that records every posted message for tests to inspect.
#pragma once

#include <mutex>
#include <optional>
#include <vector>

#include "core/message_sink.h"

namespace tessarine::testing {

struct RecordedMessage {
    int id = 0;
    int wParam = 0;
    long lParam = 0;
    std::optional<BalloonRequest> balloon;
    Message message;
};

class RecordingMessageSink : public MessageSink {
public:
    void Post(Message message) override {
        const MessageWords words = ToWords(message);
        RecordedMessage recorded{words.id, words.wParam, words.lParam, std::nullopt, message};
        if (const auto* balloon = std::get_if<BalloonRequest>(&message))
            recorded.balloon = *balloon;
        std::lock_guard lock(mutex_);
        messages_.push_back(std::move(recorded));
    }
    std::vector<RecordedMessage> Messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    int Count(int messageId) const {
        std::lock_guard lock(mutex_);
        int count = 0;
        for (const auto& m : messages_) count += m.id == messageId ? 1 : 0;
        return count;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        messages_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<RecordedMessage> messages_;
};

}  // namespace tessarine::testing
