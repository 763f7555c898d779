#include "detection/detect_file_schedule.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/app_log.h"
#include "base/string_utility.h"
#include "core/event_names.h"
#include "fakes/fake_clock.h"
#include "fakes/test_support.h"

namespace tessarine {
namespace {

using namespace std::chrono_literals;
using testing::FakeClock;

template <typename Predicate>
bool WaitFor(Predicate predicate, std::chrono::milliseconds limit = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return predicate();
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// A run that holds its flag until the test opens the gate.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    std::atomic<int> started{0};
    void Open() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
};

class GatedRun : public CThreadCommon {
public:
    explicit GatedRun(Gate& gate) : gate_(gate) {}

protected:
    int ThreadCore() override {
        GetControlBlock()->executorRunning->store(1);
        ++gate_.started;
        std::unique_lock lock(gate_.mutex);
        gate_.changed.wait(lock, [this] { return gate_.open; });
        lock.unlock();
        GetControlBlock()->executorRunning->store(0);
        return 0;
    }

private:
    Gate& gate_;
};

class DetectFileScheduleTest : public ::testing::Test {
protected:
    void SetUp() override {
        CAppLog::Get().InitWith(dir_.Path() + "/", "schedule", true, std::int64_t{64} << 20);
        ASSERT_EQ(fileList_.Initialize(), 0);
        for (auto name : kNamedEventsInOrder) events_.Create(std::string(name));
        block_.stopRequested = &stop_;
        block_.threadRunning = &threadRunning_;
        block_.executorRunning = &executorRunning_;
    }
    void TearDown() override {
        gate_.Open();
        if (schedule_) Stop();
        CAppLog::Get().Reset();
    }

    static std::string LogText() { return testing::ReadFile(CAppLog::Get().LogFilePath()); }

    // Starts the loop with the waits `waits` gives for each computation (from 1).
    void Start(std::function<std::uint32_t(int)> waits) {
        schedule_ = MakeWorker<CDetectFileSchedule>(
            clock_, events_, fileList_,
            [this] { return WorkerPtr<CThreadCommon>(MakeWorker<GatedRun>(gate_)); },
            [] { return 0; });
        schedule_->SetTimeoutCalculator([this, waits] { return waits(++calcs_); });
        schedule_->SetControlBlock(&block_);
        ASSERT_TRUE(schedule_->StartThread());
        ASSERT_TRUE(WaitFor([this] { return threadRunning_.load() == 1; }));
    }
    void Stop() {
        stop_.store(1);
        events_.Signal(std::string(kEventDetectFileShutDown));
        ASSERT_TRUE(WaitFor([this] { return threadRunning_.load() == 0; }, 10000ms));
        schedule_.reset();
    }

    testing::TempDir dir_;
    CDetectFileSQLUtility fileList_{dir_.Sub("TessarineTool.db")};
    FakeClock clock_{1491017696};
    NamedEvents events_;
    Gate gate_;
    std::atomic<int> calcs_{0};
    std::atomic<int> stop_{0};
    std::atomic<int> threadRunning_{0};
    std::atomic<int> executorRunning_{0};
    ThreadControlBlock block_;
    WorkerPtr<CDetectFileSchedule> schedule_;
};

TEST_F(DetectFileScheduleTest, WaitIsRandomMinutesUntilAForwardWasJudgedThenADay) {
    struct Case {
        int random;
        std::uint32_t expectedMs;
    };
    const std::vector<Case> fresh = {
        {0, 0}, {59, 59 * 60000u}, {60, 0}, {61, 60000u}, {2147483647, 7 * 60000u}};
    for (const auto& c : fresh) {
        CDetectFileSchedule schedule(clock_, events_, fileList_, {}, [&] { return c.random; });
        EXPECT_EQ(schedule.CalculateTimeout(), c.expectedMs) << c.random;
    }
    // The clock-seeded source stays below an hour.
    CDetectFileSchedule seeded(clock_, events_, fileList_, {});
    for (int i = 0; i < 50; ++i) EXPECT_LT(seeded.CalculateTimeout(), 3600000u);

    fileList_.IsDetectFileFullForwardExecute("T");
    CDetectFileSchedule judged(clock_, events_, fileList_, {}, [] { return 5; });
    EXPECT_EQ(judged.CalculateTimeout(), 86400000u);

    // A file list that cannot answer gives a day, with an error line.
    sqlite3* db = nullptr;
    sqlite3_open(dir_.Sub("TessarineTool.db").c_str(), &db);
    sqlite3_exec(db, "DROP TABLE COMMON_INFORMATION;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(judged.CalculateTimeout(), 86400000u);
    EXPECT_NE(LogText().find(Utf8ToCp932("指定ファイル検出実行判定エラー")), std::string::npos);
}

TEST_F(DetectFileScheduleTest, RunStartsWhenAWaitEndsAndNeverTwiceAtOnce) {
    // First wait 30 ms, then short waits while the run goes, then none.
    Start([](int call) { return call <= 4 ? 30u : kInfinite; });
    EXPECT_EQ(gate_.started.load(), 0);  // nothing at start
    ASSERT_TRUE(WaitFor([this] { return gate_.started.load() == 1; }));
    ASSERT_TRUE(WaitFor([this] { return calcs_.load() >= 5; }));
    EXPECT_EQ(gate_.started.load(), 1);  // time-outs during the run start nothing
    EXPECT_NE(LogText().find("Detect File is running. Request dropped."), std::string::npos);
    gate_.Open();
    ASSERT_TRUE(WaitFor([this] { return executorRunning_.load() == 0; }));
    Stop();
    EXPECT_EQ(gate_.started.load(), 1);
}

TEST_F(DetectFileScheduleTest, DetectFileNowStartsARunAtOnceUnlessOneIsRunning) {
    Start([](int) { return kInfinite; });
    events_.Signal(std::string(kEventDetectFileNow));
    ASSERT_TRUE(WaitFor([this] { return gate_.started.load() == 1; }));
    ASSERT_TRUE(WaitFor([this] { return calcs_.load() == 2; }));
    events_.Signal(std::string(kEventDetectFileNow));
    ASSERT_TRUE(WaitFor([this] { return calcs_.load() == 3; }));
    EXPECT_EQ(gate_.started.load(), 1);
    gate_.Open();
    ASSERT_TRUE(WaitFor([this] { return executorRunning_.load() == 0; }));
    Stop();
    EXPECT_EQ(LogText().find("Wait Detect File Thread"), std::string::npos);
}

TEST_F(DetectFileScheduleTest, ExitWaitsForARunningForwardInRoundsOfTenSeconds) {
    // The run ends during the third round of the exit wait.
    clock_.SetSleepHook([this](std::chrono::milliseconds) {
        if (stop_.load() != 0 && clock_.TotalSlept() >= 1000ms + 21000ms) gate_.Open();
        std::this_thread::sleep_for(1ms);
    });
    Start([](int) { return kInfinite; });
    events_.Signal(std::string(kEventDetectFileNow));
    ASSERT_TRUE(WaitFor([this] { return gate_.started.load() == 1; }));
    Stop();
    const std::string log = LogText();
    EXPECT_NE(log.find("Wait Detect File Thread. Count:3"), std::string::npos);
    EXPECT_EQ(log.find("Wait Detect File Thread. Count:4"), std::string::npos);
    EXPECT_EQ(log.find("still running"), std::string::npos);
}

}  // namespace
}  // namespace tessarine
