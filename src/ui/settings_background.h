// Runs a slow call (the device login test, the device search) on its own thread while the
// caller's event loop keeps the window responsive; the caller gets the result as if the call
// had been made in place.
#pragma once
#include <QEventLoop>
#include <QMetaObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <thread>

namespace tessarine::ui {

template <typename Result>
Result RunInBackground(std::function<Result()> work) {
    struct Shared {
        Result result{};
    };
    auto shared = std::make_shared<Shared>();
    QEventLoop loop;
    QPointer<QEventLoop> guard(&loop);
    std::thread worker([shared, work = std::move(work), &loop] {
        shared->result = work();
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    // The queued quit arrives only once the loop runs, so it cannot be lost.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    return shared->result;
}

}  // namespace tessarine::ui
