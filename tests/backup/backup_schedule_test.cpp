#include "backup/backup_schedule.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/app_log.h"
#include "core/event_names.h"
#include "fakes/fake_clock.h"
#include "fakes/test_support.h"

namespace tessarine {
namespace {

using namespace std::chrono_literals;
using testing::FakeClock;

struct Stamp {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Local time in the current TZ, independent of the code under test.
std::time_t Local(const Stamp& stamp) {
    std::tm parts{};
    parts.tm_year = stamp.year - 1900;
    parts.tm_mon = stamp.month - 1;
    parts.tm_mday = stamp.day;
    parts.tm_hour = stamp.hour;
    parts.tm_min = stamp.minute;
    parts.tm_sec = stamp.second;
    parts.tm_isdst = -1;
    return std::mktime(&parts);
}

void UseTimeZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
}

// Restores the process time zone when the test ends.
class TimeZoneGuard {
public:
    TimeZoneGuard() {
        if (const char* old = getenv("TZ")) previous_ = old;
        UseTimeZone("UTC");
    }
    ~TimeZoneGuard() {
        if (previous_)
            setenv("TZ", previous_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> previous_;
};

int CountOf(const std::string& text, const std::string& needle) {
    int count = 0;
    for (std::size_t pos = text.find(needle); pos != std::string::npos;
         pos = text.find(needle, pos + needle.size()))
        ++count;
    return count;
}

template <typename Predicate>
bool WaitFor(Predicate predicate, std::chrono::milliseconds limit = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return predicate();
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class BackupScheduleTest : public ::testing::Test {
protected:
    void SetUp() override {
        CAppLog::Get().InitWith(dir_.Path() + "/", "schedule", true, std::int64_t{64} << 20);
    }
    void TearDown() override { CAppLog::Get().Reset(); }

    static std::string LogText() { return testing::ReadFile(CAppLog::Get().LogFilePath()); }

    TimeZoneGuard timeZone_;
    testing::TempDir dir_;
};

// ---------------------------------------------------------------------------------------------
// Calculations

struct CalculationCase {
    const char* name;
    const char* zone;
    int kind;
    int dateDay;  // stored day (day of month minus one)
    int hour;     // used for the time of every kind
    int minute;
    const char* weekdays;  // seven '0'/'1', Sunday first
    int interval;
    Stamp now;
    std::optional<Stamp> next;  // the expected moment, or
    std::uint32_t expectedMs;   // the expected wait when there is no moment
};

const CalculationCase kCalculationCases[] = {
    {"day: one second before",
     "UTC",
     0,
     14,
     10,
     0,
     "0000000",
     0,
     {2024, 3, 15, 9, 59, 59},
     Stamp{2024, 3, 15, 10, 0, 0},
     0},
    {"day: minute reached moves to next month",
     "UTC",
     0,
     14,
     10,
     0,
     "0000000",
     0,
     {2024, 3, 15, 10, 0, 0},
     Stamp{2024, 4, 15, 10, 0, 0},
     0},
    {"day: later in the month moves to next month",
     "UTC",
     0,
     14,
     10,
     0,
     "0000000",
     0,
     {2024, 3, 20, 8, 0, 0},
     Stamp{2024, 4, 15, 10, 0, 0},
     0},
    {"day 31: next month February cut to 28",
     "UTC",
     0,
     30,
     11,
     0,
     "0000000",
     0,
     {2025, 1, 31, 12, 0, 0},
     Stamp{2025, 2, 28, 11, 0, 0},
     0},
    {"day 31: in a 30-day month carries to the 1st",
     "UTC",
     0,
     30,
     11,
     0,
     "0000000",
     0,
     {2024, 4, 10, 12, 0, 0},
     Stamp{2024, 5, 1, 11, 0, 0},
     0},
    {"day 31: 31 December after the time",
     "UTC",
     0,
     30,
     11,
     0,
     "0000000",
     0,
     {2024, 12, 31, 12, 0, 0},
     Stamp{2025, 1, 31, 11, 0, 0},
     0},
    {"day 31: next month June cut to 30",
     "UTC",
     0,
     30,
     11,
     0,
     "0000000",
     0,
     {2024, 5, 31, 12, 0, 0},
     Stamp{2024, 6, 30, 11, 0, 0},
     0},
    {"day 29: leap February still cut to 28",
     "UTC",
     0,
     28,
     11,
     0,
     "0000000",
     0,
     {2024, 1, 29, 12, 0, 0},
     Stamp{2024, 2, 28, 11, 0, 0},
     0},
    {"day unset: no moment",
     "UTC",
     0,
     -1,
     10,
     0,
     "0000000",
     0,
     {2024, 3, 15, 9, 0, 0},
     std::nullopt,
     kInfinite},
    {"day: hour out of range",
     "UTC",
     0,
     14,
     24,
     0,
     "0000000",
     0,
     {2024, 3, 15, 9, 0, 0},
     std::nullopt,
     kInfinite},
    // 18 March 2024 is a Monday.
    {"weekday: Monday before the time",
     "UTC",
     1,
     0,
     9,
     0,
     "0100000",
     0,
     {2024, 3, 18, 8, 0, 0},
     Stamp{2024, 3, 18, 9, 0, 0},
     0},
    {"weekday: Monday after the time",
     "UTC",
     1,
     0,
     9,
     0,
     "0100000",
     0,
     {2024, 3, 18, 10, 0, 0},
     Stamp{2024, 3, 25, 9, 0, 0},
     0},
    {"weekday: none chosen",
     "UTC",
     1,
     0,
     9,
     0,
     "0000000",
     0,
     {2024, 3, 20, 8, 0, 0},
     Stamp{2024, 3, 27, 9, 0, 0},
     0},
    {"weekday: Saturday to Sunday",
     "UTC",
     1,
     0,
     9,
     0,
     "1000000",
     0,
     {2024, 3, 23, 10, 0, 0},
     Stamp{2024, 3, 24, 9, 0, 0},
     0},
    {"weekday: across the year end",
     "UTC",
     1,
     0,
     9,
     0,
     "0001000",
     0,
     {2024, 12, 31, 10, 0, 0},
     Stamp{2025, 1, 1, 9, 0, 0},
     0},
    {"weekday: minute out of range",
     "UTC",
     1,
     0,
     9,
     60,
     "1111111",
     0,
     {2024, 3, 18, 8, 0, 0},
     std::nullopt,
     kInfinite},
    {"daily: midnight from 23:59:50",
     "UTC",
     2,
     0,
     0,
     0,
     "0000000",
     0,
     {2024, 3, 15, 23, 59, 50},
     std::nullopt,
     10000},
    {"daily: within the minute counts as passed",
     "UTC",
     2,
     0,
     10,
     0,
     "0000000",
     0,
     {2024, 2, 28, 10, 0, 30},
     Stamp{2024, 2, 29, 10, 0, 0},
     0},
    {"daily: unset time",
     "UTC",
     2,
     0,
     -1,
     -1,
     "0000000",
     0,
     {2024, 3, 15, 9, 0, 0},
     std::nullopt,
     kInfinite},
    {"interval: one hour",
     "UTC",
     3,
     0,
     0,
     0,
     "0000000",
     0,
     {2024, 3, 15, 9, 0, 0},
     std::nullopt,
     3600000},
    {"interval: 24 hours",
     "UTC",
     3,
     0,
     0,
     0,
     "0000000",
     23,
     {2024, 3, 15, 9, 0, 0},
     std::nullopt,
     86400000},
    {"interval: unset", "UTC", 3, 0, 0, 0, "0000000", -1, {2024, 3, 15, 9, 0, 0}, std::nullopt, 0},
    {"unknown kind", "UTC", 7, 0, 0, 0, "0000000", 0, {2024, 3, 15, 9, 0, 0}, std::nullopt, 0},
    // 27 October 2024 has 25 hours in Berlin (clocks go back at 03:00).
    {"daily: day with 25 hours",
     "Europe/Berlin",
     2,
     0,
     0,
     15,
     "0000000",
     0,
     {2024, 10, 27, 0, 30, 0},
     Stamp{2024, 10, 28, 0, 15, 0},
     0},
    {"weekday: Sunday with 25 hours",
     "Europe/Berlin",
     1,
     0,
     0,
     15,
     "1000000",
     0,
     {2024, 10, 27, 0, 30, 0},
     Stamp{2024, 11, 3, 0, 15, 0},
     0},
    {"daily: day with 23 hours",
     "Europe/Berlin",
     2,
     0,
     23,
     30,
     "0000000",
     0,
     {2024, 3, 30, 23, 45, 0},
     Stamp{2024, 3, 31, 23, 30, 0},
     0},
};

TEST_F(BackupScheduleTest, CalculatesTheWaitUntilTheNextMoment) {
    FakeClock clock;
    NamedEvents events;
    CBackupSchedule schedule(clock, events, nullptr, nullptr);
    for (const auto& c : kCalculationCases) {
        SCOPED_TRACE(c.name);
        UseTimeZone(c.zone);
        CBackupSetting setting(nullptr);
        setting.isSchedule = true;
        setting.scheduleSetting = c.kind;
        setting.dateDay = c.dateDay;
        setting.dateHour = setting.weekdayHour = setting.hourHour = c.hour;
        setting.dateMinute = setting.weekdayMinute = setting.hourMinute = c.minute;
        for (int i = 0; i < 7; ++i) setting.weekdays[i] = c.weekdays[i] == '1';
        setting.interval = c.interval;
        const std::time_t now = Local(c.now);
        clock.Set(now);
        const std::uint32_t expected =
            c.next ? static_cast<std::uint32_t>((Local(*c.next) - now) * 1000) : c.expectedMs;
        EXPECT_EQ(schedule.CalculateTimeout(setting), expected);
    }
}

TEST_F(BackupScheduleTest, ScheduleOffWaitsWithoutTimeOut) {
    FakeClock clock(Local({2024, 3, 15, 9, 59, 59}));
    NamedEvents events;
    CBackupSchedule schedule(clock, events, nullptr, nullptr);
    CBackupSetting setting(nullptr);
    setting.isSchedule = false;
    setting.scheduleSetting = 3;
    EXPECT_EQ(schedule.CalculateTimeout(setting), kInfinite);
    EXPECT_EQ(CountOf(LogText(), "RADezore Schedule OFF"), 1);
}

TEST_F(BackupScheduleTest, CalculationTracesTheMomentAndTheWait) {
    FakeClock clock(Local({2024, 3, 15, 9, 59, 59}));
    NamedEvents events;
    CBackupSchedule schedule(clock, events, nullptr, nullptr);
    CBackupSetting setting(nullptr);
    setting.isSchedule = true;
    setting.scheduleSetting = 0;
    setting.dateDay = 14;
    setting.dateHour = 10;
    setting.dateMinute = 0;
    schedule.CalculateTimeout(setting);
    setting.scheduleSetting = 9;
    schedule.CalculateTimeout(setting);

    const std::string log = LogText();
    EXPECT_EQ(CountOf(log, "Next RADezore:2024/03/15 10:00:00"), 1) << log;
    EXPECT_EQ(CountOf(log, "Setting:0 Wait(ms):1000\r\n"), 1) << log;
    EXPECT_EQ(CountOf(log, "Invalid Backup Schedule Setting. Setting:9["), 1) << log;
    EXPECT_EQ(CountOf(log, "Setting:9 Wait(ms):0\r\n"), 1) << log;
}

// ---------------------------------------------------------------------------------------------
// The loop, driven with a runner that holds each run until the test opens its gate

struct RunRecord {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    std::chrono::milliseconds startDelay{0};  // before the run marks itself running
    std::vector<int> modes;                   // shutdown mode of each run
    std::vector<int> calcsAtStart;            // timeout calculations done when each run began
    int finished = 0;
    int runnersDestroyed = 0;
    bool releasedDuringRun = false;
    std::atomic<CBackupRunner*> runner{nullptr};  // the last one made

    void Open() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
    int Started() {
        std::lock_guard lock(mutex);
        return static_cast<int>(modes.size());
    }
    int Finished() {
        std::lock_guard lock(mutex);
        return finished;
    }
};

class GatedRunner : public CBackupRunner {
public:
    GatedRunner(RunRecord& record, const std::atomic<int>& calcs) : record_(record), calcs_(calcs) {
        record_.runner = this;
    }
    ~GatedRunner() override {
        {
            std::lock_guard lock(record_.mutex);
            if (record_.finished < static_cast<int>(record_.modes.size()))
                record_.releasedDuringRun = true;
            ++record_.runnersDestroyed;
        }
        CBackupRunner* self = this;
        record_.runner.compare_exchange_strong(self, nullptr);
        record_.Open();
    }

protected:
    int ThreadCore() override {
        ThreadControlBlock* block = GetControlBlock();
        std::this_thread::sleep_for(record_.startDelay);
        block->executorRunning->store(1);
        std::unique_lock lock(record_.mutex);
        record_.modes.push_back(GetShutdownMode());
        record_.calcsAtStart.push_back(calcs_.load());
        record_.changed.wait(lock, [this] { return record_.open; });
        ++record_.finished;
        lock.unlock();
        block->executorRunning->store(0);
        return 0;
    }

private:
    RunRecord& record_;
    const std::atomic<int>& calcs_;
};

// A scheduler over fakes: settings from `setting` (or `loader`), waits from `calculator`.
struct ScheduleHarness {
    explicit ScheduleHarness(bool createEvents = true) {
        if (createEvents)
            for (auto name : kNamedEventsInOrder) events.Create(std::string(name));
        block.stopRequested = &stop;
        block.threadRunning = &threadRunning;
        block.executorRunning = &executorRunning;
    }
    ~ScheduleHarness() {
        record.Open();
        Destroy();
    }

    void Start(int startupLoads = 1) {
        schedule = MakeWorker<CBackupSchedule>(
            clock, events, nullptr,
            [this] { return WorkerPtr<CBackupRunner>(MakeWorker<GatedRunner>(record, calcs)); },
            [this](CBackupSetting& out) {
                int result = 0;
                if (loader)
                    result = loader(out, loads.load());
                else
                    out = setting;
                ++loads;
                return result;
            });
        schedule->SetTimeoutCalculator([this](const CBackupSetting&) {
            const int call = ++calcs;
            return calculator ? calculator(call) : kInfinite;
        });
        schedule->SetControlBlock(&block);
        schedule->SetNextRunTime(nextRunTime);
        ASSERT_TRUE(schedule->StartThread());
        // The first turn has loaded its settings; later signals are seen by its wait.
        ASSERT_TRUE(WaitFor([&] { return loads.load() >= startupLoads + 1; }));
    }

    // Signals `name` and returns once the turn it caused has made its start decision.
    void SignalAndSettle(std::string_view name) {
        const int before = loads.load();
        events.Signal(std::string(name));
        ASSERT_TRUE(WaitFor([&] { return loads.load() >= before + 1; }));
        events.Signal(std::string(kEventBackupSettingChanged));
        ASSERT_TRUE(WaitFor([&] { return loads.load() >= before + 2; }));
    }

    void Stop() {
        if (!schedule) return;
        stop = 1;
        events.Signal(std::string(kEventBackupShutDown));
        schedule->StopThread();
    }
    void Destroy() {
        // A run the test let through ends on its own; waiting for it keeps the scheduler's exit
        // wait, which the fake clock makes instant, from taking it for a hung one.
        bool open = false;
        {
            std::lock_guard lock(record.mutex);
            open = record.open;
        }
        if (open) {
            EXPECT_TRUE(WaitFor([&] {
                CBackupRunner* runner = record.runner.load();
                return runner == nullptr || !runner->IsThreadRunning();
            }));
        }
        Stop();
        schedule.reset();
    }

    FakeClock clock{1700000000};
    NamedEvents events;
    std::atomic<int> stop{0};
    std::atomic<int> threadRunning{0};
    std::atomic<int> executorRunning{0};
    ThreadControlBlock block;
    RunRecord record;
    std::atomic<int> loads{0};
    std::atomic<int> calcs{0};
    CBackupSetting setting{nullptr};
    std::function<int(CBackupSetting&, int)> loader;
    std::function<std::uint32_t(int)> calculator;
    std::atomic<std::int64_t>* nextRunTime = nullptr;
    WorkerPtr<CBackupSchedule> schedule;
};

TEST_F(BackupScheduleTest, BackupNowStartsOneRunAndDropsRequestsDuringIt) {
    ScheduleHarness h;
    h.setting.isBackupWhenShutdown = true;
    h.Start();
    EXPECT_EQ(h.threadRunning.load(), 1);
    EXPECT_EQ(h.record.Started(), 0);  // the first turn starts nothing

    h.SignalAndSettle(kEventBackupNow);
    ASSERT_TRUE(WaitFor([&] { return h.record.Started() == 1; }));
    h.SignalAndSettle(kEventBackupNow);
    h.SignalAndSettle(kEventBackupWindowsShutDown);
    EXPECT_EQ(h.record.Started(), 1);
    EXPECT_EQ(h.executorRunning.load(), 1);

    h.record.Open();
    ASSERT_TRUE(WaitFor([&] { return h.executorRunning.load() == 0; }));
    h.SignalAndSettle(kEventBackupNow);  // dropped requests were not queued: this is the second
    ASSERT_TRUE(WaitFor([&] { return h.record.Finished() == 2; }));
    h.Destroy();
    EXPECT_EQ(h.record.modes, (std::vector<int>{0, 0}));
    EXPECT_EQ(h.threadRunning.load(), 0);
    EXPECT_EQ(h.record.runnersDestroyed, 1);
    EXPECT_FALSE(h.record.releasedDuringRun);
}

TEST_F(BackupScheduleTest, RequestBeforeTheNewRunMarksItselfIsDropped) {
    ScheduleHarness h;
    h.record.startDelay = 300ms;
    h.Start();
    h.SignalAndSettle(kEventBackupNow);
    h.SignalAndSettle(kEventBackupNow);  // the first run's thread has not set its flag yet
    EXPECT_EQ(h.executorRunning.load(), 1);
    h.record.Open();
    ASSERT_TRUE(WaitFor([&] { return h.record.Finished() == 1 && h.executorRunning == 0; }));
    h.Destroy();
    EXPECT_EQ(h.record.modes, (std::vector<int>{0}));
}

TEST_F(BackupScheduleTest, WindowsShutDownRunsOnlyWhenConfigured) {
    struct Case {
        bool isBackupWhenShutdown;
        std::vector<int> expectedModes;
    };
    const Case cases[] = {{false, {}}, {true, {1}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.isBackupWhenShutdown);
        ScheduleHarness h;
        h.setting.isBackupWhenShutdown = c.isBackupWhenShutdown;
        h.record.Open();
        h.Start();
        h.SignalAndSettle(kEventBackupWindowsShutDown);
        h.Destroy();
        EXPECT_EQ(h.record.modes, c.expectedModes);
    }
}

TEST_F(BackupScheduleTest, ShutdownModeIsResetForTheNextRun) {
    ScheduleHarness h;
    h.setting.isBackupWhenShutdown = true;
    h.record.Open();
    h.Start();
    h.SignalAndSettle(kEventBackupWindowsShutDown);
    ASSERT_TRUE(WaitFor([&] { return h.record.Finished() == 1 && h.executorRunning == 0; }));
    h.SignalAndSettle(kEventBackupNow);
    h.Destroy();
    EXPECT_EQ(h.record.modes, (std::vector<int>{1, 0}));
}

// The moment of the next run is published for the tray's tool tip each time the wait is
// computed (after a run too), from the clock of that moment; none when scheduling is off.
TEST_F(BackupScheduleTest, NextRunMomentIsPublishedWithEveryWait) {
    ScheduleHarness h;
    std::atomic<std::int64_t> nextRun{-1};
    h.nextRunTime = &nextRun;
    h.record.Open();
    h.calculator = [](int call) { return call >= 4 ? kInfinite : 7200000u; };
    h.Start();
    EXPECT_TRUE(WaitFor([&] { return nextRun.load() == 1700000000 + 7200; })) << nextRun.load();

    h.clock.Advance(std::chrono::seconds(150));
    h.SignalAndSettle(kEventBackupNow);
    ASSERT_TRUE(WaitFor([&] { return h.record.Finished() == 1; }));
    EXPECT_TRUE(WaitFor([&] { return nextRun.load() == 1700000000 + 150 + 7200; }))
        << nextRun.load();

    h.SignalAndSettle(kEventBackupSettingChanged);  // the fourth wait: scheduling is off
    EXPECT_TRUE(WaitFor([&] { return nextRun.load() == 0; })) << nextRun.load();
}

TEST_F(BackupScheduleTest, TimerStartsARunOnlyWhenTheNextWaitIsLong) {
    struct Case {
        const char* name;
        std::vector<std::uint32_t> waits;  // computed waits of the turns, then infinite
        std::vector<int> calcsAtStart;
    };
    const Case cases[] = {
        // Woken 150 ms before the moment: the rest is waited, then the run starts.
        {"fired early", {200, 150, kInfinite}, {3}},
        {"just below the threshold", {100, 5999}, {}},
        {"at the threshold", {100, 6000}, {2}},
        {"scheduling turned off meanwhile", {100, kInfinite}, {2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScheduleHarness h;
        h.record.Open();
        h.calculator = [&c](int call) {
            return call <= static_cast<int>(c.waits.size()) ? c.waits[call - 1] : kInfinite;
        };
        h.Start();
        // A started run records the calculations done so far; nothing wakes its infinite wait.
        ASSERT_TRUE(WaitFor([&] {
            return h.calcs.load() >= static_cast<int>(c.waits.size()) &&
                   h.record.Started() == static_cast<int>(c.calcsAtStart.size());
        }));
        h.Destroy();
        EXPECT_EQ(h.record.calcsAtStart, c.calcsAtStart);
        EXPECT_EQ(CountOf(LogText(), "Event:258\r\n"), static_cast<int>(c.waits.size()) - 1);
        testing::WriteFile(CAppLog::Get().LogFilePath(), "");
    }
}

TEST_F(BackupScheduleTest, StartupBackupAfterTheDelay) {
    struct Case {
        const char* name;
        bool startAtFirstLoad;
        bool startAtSecondLoad;
        bool stopDuringDelay;
        int startupLoads;
        std::vector<int> expectedModes;
        std::chrono::milliseconds expectedDelay;
    };
    const Case cases[] = {
        {"on", true, true, false, 2, {0}, 30000ms},
        {"turned off during the delay", true, false, false, 2, {}, 30000ms},
        {"off", false, false, false, 1, {}, 0ms},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScheduleHarness h;
        h.record.Open();
        h.loader = [&c](CBackupSetting& out, int call) {
            out.isBackupWhenStart = call == 0 ? c.startAtFirstLoad : c.startAtSecondLoad;
            return 0;
        };
        h.Start(c.startupLoads);
        if (!c.expectedModes.empty()) {
            ASSERT_TRUE(WaitFor([&] { return h.record.Finished() == 1; }));
        } else {
            // No signal is pending: nothing wakes the infinite wait.
            std::this_thread::sleep_for(100ms);
            EXPECT_EQ(h.calcs.load(), 1);
        }
        EXPECT_EQ(h.clock.TotalSlept(), c.expectedDelay);
        h.Destroy();
        EXPECT_EQ(h.record.modes, c.expectedModes);
    }
}

TEST_F(BackupScheduleTest, ExitDuringTheStartupDelayEndsWithoutABackup) {
    ScheduleHarness h;
    h.setting.isBackupWhenStart = true;
    h.clock.SetSleepHook([&h](std::chrono::milliseconds) { h.stop = 1; });
    h.Start(1);
    ASSERT_TRUE(WaitFor([&] { return h.calcs.load() == 1 && h.threadRunning.load() == 0; }));
    h.schedule->StopThread();
    EXPECT_LT(h.clock.TotalSlept(), 30000ms);
    EXPECT_EQ(h.record.Started(), 0);
    EXPECT_EQ(h.loads.load(), 2);  // no second start-up load
}

TEST_F(BackupScheduleTest, ExitWaitsABoundedTimeForARunningBackup) {
    struct Case {
        const char* name;
        std::chrono::milliseconds runEndsAfter;  // 0: the run outlasts the wait
        std::chrono::milliseconds expectedWait;
    };
    const Case cases[] = {{"run ends after 25 s", 25000ms, 25000ms},
                          {"run outlasts the wait", 0ms, CBackupSchedule::kExitWaitLimit}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScheduleHarness h;
        h.Start();
        h.SignalAndSettle(kEventBackupNow);
        ASSERT_TRUE(WaitFor([&] { return h.record.Started() == 1; }));

        std::chrono::milliseconds waited{0};
        h.clock.SetSleepHook([&](std::chrono::milliseconds duration) {
            EXPECT_LE(duration, CBackupSchedule::kExitWaitSlice);
            waited += duration;
            if (waited == c.runEndsAfter) {
                h.record.Open();
                WaitFor([&] { return h.executorRunning.load() == 0; });
            }
        });
        h.stop = 1;
        h.events.Signal(std::string(kEventBackupShutDown));
        ASSERT_TRUE(WaitFor([&] { return h.threadRunning.load() == 0; }));
        h.schedule->StopThread();

        // A run that ends is noticed within one slice; one that does not costs the limit.
        EXPECT_EQ(waited, c.expectedWait);
        const std::string log = LogText();
        EXPECT_EQ(CountOf(log, "Wait Backup Thread."), 1);
        EXPECT_EQ(CountOf(log, "Backup thread is still running. The scheduler ends without it."),
                  c.runEndsAfter.count() == 0 ? 1 : 0);
        if (c.runEndsAfter.count() == 0) {
            // The scheduler has ended; the runner is kept until its run is over.
            EXPECT_EQ(h.executorRunning.load(), 1);
            EXPECT_EQ(h.record.runnersDestroyed, 0);
            h.record.Open();
            ASSERT_TRUE(WaitFor([&] { return !h.record.runner.load()->IsThreadRunning(); }));
        }
        h.schedule.reset();
        EXPECT_EQ(h.record.runnersDestroyed, 1);
        EXPECT_FALSE(h.record.releasedDuringRun);
        testing::WriteFile(CAppLog::Get().LogFilePath(), "");
    }
}

TEST_F(BackupScheduleTest, DeletingTheSchedulerLeavesARunThatNeverEndsAlone) {
    ScheduleHarness h;
    h.Start();
    h.SignalAndSettle(kEventBackupNow);
    ASSERT_TRUE(WaitFor([&] { return h.record.Started() == 1; }));
    h.Stop();  // the exit wait gives up on the run
    ASSERT_EQ(h.threadRunning.load(), 0);

    // Deleting the scheduler must neither wait for the run nor free the runner it still uses.
    auto deleted = std::async(std::launch::async, [&h] { h.schedule.reset(); });
    const bool returned = deleted.wait_for(5s) == std::future_status::ready;
    if (!returned) h.record.Open();  // let a hung deletion end, so the failure is reported
    ASSERT_TRUE(returned) << "deleting the scheduler waited for the run";
    EXPECT_EQ(h.record.runnersDestroyed, 0);
    EXPECT_EQ(h.executorRunning.load(), 1);
    const std::string log = LogText();
    EXPECT_EQ(CountOf(log, "Backup thread is still running. The scheduler ends without it."), 1);
    EXPECT_EQ(
        CountOf(log, "Backup thread is still running. Its runner is left to the process end."), 1);

    // The process would end here; the test ends the run and frees the runner itself.
    h.record.Open();
    CBackupRunner* runner = h.record.runner.load();
    ASSERT_TRUE(WaitFor([runner] { return !runner->IsThreadRunning(); }));
    delete runner;
    EXPECT_EQ(h.record.runnersDestroyed, 1);
    EXPECT_FALSE(h.record.releasedDuringRun);
}

TEST_F(BackupScheduleTest, UnreadableSettingsWaitForEventsOnly) {
    ScheduleHarness h;
    h.record.Open();
    // The start-up load and the first turn succeed; every later load fails.
    h.loader = [&h](CBackupSetting& out, int call) {
        if (call >= 2) return -1;
        out = h.setting;
        out.isBackupWhenShutdown = true;
        return 0;
    };
    h.Start();
    h.SignalAndSettle(kEventBackupSettingChanged);
    const int turns = h.loads.load();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(h.loads.load(), turns);  // infinite wait: no turn without an event
    EXPECT_EQ(h.calcs.load(), 1);

    h.SignalAndSettle(kEventBackupWindowsShutDown);  // the last loaded value decides
    ASSERT_TRUE(WaitFor([&] { return h.record.Finished() == 1 && h.executorRunning == 0; }));
    h.SignalAndSettle(kEventBackupNow);
    h.Destroy();
    EXPECT_EQ(h.record.modes, (std::vector<int>{1, 0}));
    EXPECT_GE(CountOf(LogText(), "Can't load BackupSetting."), 1);
}

TEST_F(BackupScheduleTest, ZeroWaitIsPacedAndReportedOnce) {
    ScheduleHarness h;
    h.calculator = [](int) { return 0u; };
    h.Start();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(h.calcs.load(), 1);  // not recomputed at once
    h.SignalAndSettle(kEventBackupSettingChanged);
    h.Destroy();
    EXPECT_EQ(CountOf(LogText(), "Backup schedule gives no wait."), 1);
    EXPECT_EQ(h.record.Started(), 0);
}

TEST_F(BackupScheduleTest, MissingEventsAreOpenedLater) {
    ScheduleHarness h(/*createEvents=*/false);
    h.record.Open();
    h.clock.SetSleepHook([](std::chrono::milliseconds) { std::this_thread::sleep_for(1ms); });
    h.Start();
    ASSERT_TRUE(WaitFor([&] { return h.calcs.load() >= 3; }));
    for (auto name : kNamedEventsInOrder) h.events.Create(std::string(name));
    h.events.Signal(std::string(kEventBackupNow));
    ASSERT_TRUE(WaitFor([&] { return h.record.Finished() == 1; }));
    h.Destroy();

    const std::string log = LogText();
    EXPECT_EQ(CountOf(log, "Can't open event. Name:BackupNow"), 1);
    EXPECT_EQ(CountOf(log, "Event wait failed."), 1);
    EXPECT_EQ(h.record.modes, (std::vector<int>{0}));
}

}  // namespace
}  // namespace tessarine
