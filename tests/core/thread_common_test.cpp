#include "core/thread_common.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace tessarine {
namespace {

using namespace std::chrono_literals;

class CountingWorker : public CThreadCommon {
public:
    ~CountingWorker() override { StopThread(); }
    std::atomic<int> runs{0};

protected:
    int ThreadCore() override {
        ++runs;
        return 0;
    }
};

TEST(ThreadCommonTest, StartsAFreshThreadEachTime) {
    CountingWorker worker;
    EXPECT_TRUE(worker.StopThread());  // nothing started yet
    ASSERT_TRUE(worker.StartThread());
    ASSERT_TRUE(worker.StartThread());  // the previous run ended; a new thread starts
    worker.StopThread();
    EXPECT_EQ(worker.runs.load(), 2);
}

TEST(ThreadCommonTest, RunningUntilTheBodyHasReturned) {
    struct Gated : CThreadCommon {
        ~Gated() override { StopThread(); }
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
