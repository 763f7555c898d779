// The user's answer to "shut down after the backup?" for one backup run before shutdown. The
// question is shown on the user-interface thread; the backup run reads the answer when it ends.
// Each run asks with an answer object of its own, so a late answer to an earlier run's question
// never decides a later run.
#pragma once

#include <atomic>

namespace tessarine {

class ShutdownAnswer {
public:
    enum State : int { kUnanswered = -1, kNo = 0, kYes = 1 };

    // The first answer counts; an answer after the run has decided is ignored.
    void Answer(bool shutDown) {
        int expected = kUnanswered;
        state_.compare_exchange_strong(expected, shutDown ? kYes : kNo);
    }
    int State() const { return state_.load(); }
    // The run has ended and decided: a question still shown can go away.
    void Close() { closed_.store(true); }
    bool IsClosed() const { return closed_.load(); }

private:
    std::atomic<int> state_{kUnanswered};
    std::atomic<bool> closed_{false};
};

}  // namespace tessarine
