// Base of every worker: a thread running ThreadCore, tied to the application by a control block
// of shared flags. Owners hold workers in a WorkerPtr, which ends the thread before the object
// goes.
#pragma once

#include <atomic>
#include <memory>
#include <thread>
#include <utility>

namespace tessarine {

// The application's flags a worker sees; none owned.
struct ThreadControlBlock {
    // Set to 1 once, at shutdown; every worker reads it after each wake-up and between steps.
    std::atomic<int>* stopRequested = nullptr;
    // This worker's own running flag: 1 while its loop runs. The application waits for it.
    std::atomic<int>* threadRunning = nullptr;
    // The run a scheduler starts, shared by the scheduler and its runner: 1 while a run goes.
    // Null for a worker that starts no runs.
    std::atomic<int>* executorRunning = nullptr;
};

class CThreadCommon {
public:
    CThreadCommon() = default;
    CThreadCommon(const CThreadCommon&) = delete;
    CThreadCommon& operator=(const CThreadCommon&) = delete;
    // Joins a thread still running, as a last resort: by then the derived members are gone.
    // Owners use WorkerPtr (below), which joins first; a worker on the stack calls StopThread.
    virtual ~CThreadCommon();

    void SetControlBlock(ThreadControlBlock* block) { controlBlock_ = block; }
    ThreadControlBlock* GetControlBlock() const { return controlBlock_; }

    // Starts a new thread running ThreadCore; joins the previous one first (it has ended or is
    // about to). Logs "Begin Thread Error!" and returns false when no thread can be started.
    bool StartThread();
    // Waits for the thread started last, if any. Always true.
    bool StopThread();
    // Lets the thread started last go on without this object waiting for it: for a worker
    // that is abandoned because its body does not end. The object must then outlive the body.
    void DetachThread();
    bool IsThreadStarted() const { return thread_.joinable(); }
    // True from StartThread until ThreadCore has returned. Once false, the thread no longer
    // touches this object, so deleting it (which joins) cannot wait on a hung body. An owner
    // that finds it still true at shutdown leaves the object alive on purpose.
    bool IsThreadRunning() const { return threadRunning_.load(); }

protected:
    virtual int ThreadCore() = 0;

    bool IsStopRequested() const {
        return controlBlock_ != nullptr && controlBlock_->stopRequested != nullptr &&
               controlBlock_->stopRequested->load() != 0;
    }

private:
    ThreadControlBlock* controlBlock_ = nullptr;
    std::thread thread_;
    std::atomic<bool> threadRunning_{false};
};

// Deletes a worker only after its thread has ended, so the body never runs on a half-destroyed
// object and no derived class has to stop the thread in its own destructor.
struct WorkerDeleter {
    void operator()(CThreadCommon* worker) const;
};

template <typename T>
using WorkerPtr = std::unique_ptr<T, WorkerDeleter>;

template <typename T, typename... Args>
WorkerPtr<T> MakeWorker(Args&&... args) {
    return WorkerPtr<T>(new T(std::forward<Args>(args)...));
}

// Gives up a worker whose thread is still running: the thread is detached and the object is
// never destroyed (destroying it would wait for the thread or pull the object from under it).
// The process ends with both.
template <typename T>
void AbandonWorker(WorkerPtr<T> worker) {
    if (!worker) return;
    worker->DetachThread();
    static_cast<void>(worker.release());
}

}  // namespace tessarine
