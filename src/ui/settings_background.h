// Runs a slow call (the device login test, the device search) on its own thread while the
// caller's event loop keeps the window responsive; the caller gets the result as if the call
// had been made in place.
//
// When the program quits meanwhile (SIGTERM, the session ending, "終了"), the wait ends at
// once and the caller gets no result: the call's thread is left to finish on its own and its
// late answer is dropped, rather than holding the UI thread until the network gives up.
#pragma once
#include <QEventLoop>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace tessarine::ui {

// Calls whose thread was left running; the program ends with _exit while there are any, so no
// static object is torn down under them.
std::atomic<int>& AbandonedBackgroundCalls();

// `work` must own everything it uses (captured by value): it may outlive the caller.
template <typename Result>
std::optional<Result> RunInBackground(std::function<Result()> work) {
    struct Shared {
        std::mutex mutex;
        QEventLoop* loop = nullptr;  // null once the caller stopped waiting
        bool done = false;
        bool abandoned = false;
        Result result{};
    };
    auto shared = std::make_shared<Shared>();
    QEventLoop loop;
    shared->loop = &loop;
    std::thread worker([shared, work = std::move(work)] {
        Result result = work();
        std::lock_guard lock(shared->mutex);
        shared->result = std::move(result);
        shared->done = true;
        if (shared->abandoned) --AbandonedBackgroundCalls();
        // The queued quit arrives only once the loop runs, so it cannot be lost.
        if (shared->loop != nullptr)
            QMetaObject::invokeMethod(shared->loop, "quit", Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    {
        std::lock_guard lock(shared->mutex);
        shared->loop = nullptr;
        if (!shared->done) {
            // The loop was ended from outside: the program is quitting.
            shared->abandoned = true;
            ++AbandonedBackgroundCalls();
            worker.detach();
            return std::nullopt;
        }
    }
    worker.join();
    return std::move(shared->result);
}

// Runs `work` on a thread of its own and hands its result to `done` on the UI thread (the
// result is looked for every 30 ms by a timer of `owner`), so the window stays usable while
// the device answers slowly. When `owner` is gone by then, the late result is dropped. While
// the thread runs it counts as a background call, so a program quitting meanwhile ends with
// _exit instead of tearing down what the thread may still use. `work` must own everything it
// uses (captured by value).
template <typename Result>
void RunOffUiThread(QObject* owner, std::function<Result()> work,
                    std::function<void(Result)> done) {
    struct Shared {
        std::mutex mutex;
        bool finished = false;
        Result result{};
    };
    auto shared = std::make_shared<Shared>();
    ++AbandonedBackgroundCalls();
    std::thread([shared, work = std::move(work)] {
        Result result = work();
        {
            std::lock_guard lock(shared->mutex);
            shared->result = std::move(result);
            shared->finished = true;
        }
        --AbandonedBackgroundCalls();
    }).detach();
    auto* poll = new QTimer(owner);
    QObject::connect(poll, &QTimer::timeout, owner, [poll, shared, done = std::move(done)] {
        Result result;
        {
            std::lock_guard lock(shared->mutex);
            if (!shared->finished) return;
            result = std::move(shared->result);
        }
        poll->stop();
        poll->deleteLater();
        done(std::move(result));
    });
    poll->start(30);
}

}  // namespace tessarine::ui
