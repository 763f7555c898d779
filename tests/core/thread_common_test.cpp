#include "core/thread_common.h"

#include <gtest/gtest.h>

#include <atomic>

namespace tessarine {
namespace {

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
