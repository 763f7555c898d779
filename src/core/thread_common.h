// Base of every worker: a thread running ThreadCore, tied to the application by a control block
// of shared flags.
#pragma once

#include <atomic>
#include <thread>

namespace tessarine {

// Pointers into the application's flags; none owned. threadRunning is null for the result
// checker, which uses executorRunning as its own running flag.
struct ThreadControlBlock {
    std::atomic<int>* stopRequested = nullptr;
    std::atomic<int>* threadRunning = nullptr;
    std::atomic<int>* executorRunning = nullptr;
};

class CThreadCommon {
public:
    CThreadCommon() = default;
    CThreadCommon(const CThreadCommon&) = delete;
    CThreadCommon& operator=(const CThreadCommon&) = delete;
    // Joins a thread still running. A derived class whose ThreadCore uses its own members must
    // call StopThread in its own destructor, before those members are gone.
    virtual ~CThreadCommon();

    void SetControlBlock(ThreadControlBlock* block) { controlBlock_ = block; }
    ThreadControlBlock* GetControlBlock() const { return controlBlock_; }

    // Starts a new thread running ThreadCore; joins the previous one first (it has ended or is
    // about to). Logs "Begin Thread Error!" and returns false when no thread can be started.
    bool StartThread();
    // Waits for the thread started last, if any. Always true.
    bool StopThread();
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

}  // namespace tessarine
