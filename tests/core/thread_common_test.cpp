#include "core/thread_common.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tessarine {
namespace {

using namespace std::chrono_literals;

class CountingWorker : public CThreadCommon {
public:
    std::atomic<int> runs{0};

protected:
    int ThreadCore() override {
        ++runs;
        return 0;
    }
};

TEST(ThreadCommonTest, StartsAFreshThreadEachTime) {
    auto worker = MakeWorker<CountingWorker>();
    EXPECT_TRUE(worker->StopThread());  // nothing started yet
    ASSERT_TRUE(worker->StartThread());
    ASSERT_TRUE(worker->StartThread());  // the previous run ended; a new thread starts
    worker->StopThread();
    EXPECT_EQ(worker->runs.load(), 2);
}

// A body that uses the derived object's own members up to its last step: the holder must end
// the thread before any of them is destroyed, without the derived class stopping it itself.
class MemberUsingWorker : public CThreadCommon {
public:
    MemberUsingWorker(std::atomic<bool>& destroyed, std::atomic<bool>& bodySawDestroyed)
        : destroyed_(destroyed), bodySawDestroyed_(bodySawDestroyed) {}
    ~MemberUsingWorker() override { destroyed_ = true; }
    std::atomic<bool> entered{false};

protected:
    int ThreadCore() override {
        entered = true;
        std::this_thread::sleep_for(50ms);
        for (int i = 0; i < 1000; ++i) names_.push_back("entry");  // the derived member
        bodySawDestroyed_ = destroyed_.load();
        return 0;
    }

private:
    std::atomic<bool>& destroyed_;
    std::atomic<bool>& bodySawDestroyed_;
    std::vector<std::string> names_;
};

TEST(ThreadCommonTest, HolderEndsTheThreadBeforeTheObjectGoes) {
    std::atomic<bool> destroyed{false};
    std::atomic<bool> bodySawDestroyed{false};
    auto worker = MakeWorker<MemberUsingWorker>(destroyed, bodySawDestroyed);
    MemberUsingWorker* raw = worker.get();
    ASSERT_TRUE(worker->StartThread());
    while (!raw->entered.load()) std::this_thread::sleep_for(1ms);
    worker.reset();
    EXPECT_TRUE(destroyed.load());
    EXPECT_FALSE(bodySawDestroyed.load());  // the body ended on a whole object
}

TEST(ThreadCommonTest, AbandonedWorkerIsLeftToItsThread) {
    struct Gated : CThreadCommon {
        int ThreadCore() override {
            while (!release->load()) std::this_thread::sleep_for(1ms);
            return 0;
        }
        std::shared_ptr<std::atomic<bool>> release = std::make_shared<std::atomic<bool>>(false);
    };
    auto worker = MakeWorker<Gated>();
    Gated* raw = worker.get();
    const auto release = raw->release;
    ASSERT_TRUE(worker->StartThread());
    AbandonWorker(std::move(worker));  // returns at once: neither joined nor destroyed
    EXPECT_EQ(worker, nullptr);
    EXPECT_FALSE(raw->IsThreadStarted());  // detached on purpose
    *release = true;
    while (raw->IsThreadRunning()) std::this_thread::sleep_for(1ms);
    delete raw;  // what the process end would do; the body no longer touches it
}

TEST(ThreadCommonTest, RunningUntilTheBodyHasReturned) {
    struct Gated : CThreadCommon {
        int ThreadCore() override {
            entered = true;
            while (!release.load()) std::this_thread::sleep_for(1ms);
            return 0;
        }
        std::atomic<bool> entered{false};
        std::atomic<bool> release{false};
    } worker;
    EXPECT_FALSE(worker.IsThreadRunning());
    ASSERT_TRUE(worker.StartThread());
    EXPECT_TRUE(worker.IsThreadRunning());  // from the start, entered or not
    while (!worker.entered.load()) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(worker.IsThreadRunning());
    worker.release = true;
    while (worker.IsThreadRunning()) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(worker.IsThreadStarted());  // ended, not yet joined
    worker.StopThread();
    EXPECT_FALSE(worker.IsThreadRunning());
}

TEST(ThreadCommonTest, StopFlagIsReadThroughTheControlBlock) {
    struct Probe : CThreadCommon {
        using CThreadCommon::IsStopRequested;
        int ThreadCore() override { return 0; }
    } probe;
    EXPECT_FALSE(probe.IsStopRequested());
    std::atomic<int> stop{0};
    ThreadControlBlock block{&stop, nullptr, nullptr};
    probe.SetControlBlock(&block);
    EXPECT_FALSE(probe.IsStopRequested());
    stop = 1;
    EXPECT_TRUE(probe.IsStopRequested());
}

}  // namespace
}  // namespace tessarine
