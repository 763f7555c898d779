// The long-lived backup scheduler: waits on the backup events with a time-out until the next
// scheduled moment of the backup settings, and starts the backup runner (one run at a time) when
// the moment comes, on "BackupNow", or before the PC shuts down.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

#include "backup/backup_runner.h"
#include "core/thread_common.h"
#include "platform/clock.h"
#include "platform/named_events.h"
#include "settings/setting_records.h"

namespace tessarine {

class CBackupSchedule : public CThreadCommon {
public:
    using RunnerFactory = std::function<WorkerPtr<CBackupRunner>()>;
    // Loads a fresh record made on the scheduler's profile store; 0 on success.
    using SettingLoader = std::function<int(CBackupSetting&)>;
    using TimeoutCalculator = std::function<std::uint32_t(const CBackupSetting&)>;

    // Indexes of the wait result: the order in which the events are opened.
    static constexpr std::uint32_t kWaitSettingChanged = 0;
    static constexpr std::uint32_t kWaitShutDown = 1;
    static constexpr std::uint32_t kWaitWindowsShutDown = 2;
    static constexpr std::uint32_t kWaitBackupNow = 3;

    static constexpr std::chrono::milliseconds kStartupDelay{30000};
    // A timer wake-up whose next wait is shorter than this fired early: no run yet.
    static constexpr std::uint32_t kMinimumRunWaitMs = 6000;
    // At its end the scheduler waits this long for a run still going, looking every slice.
    static constexpr std::chrono::milliseconds kExitWaitLimit{100000};
    static constexpr std::chrono::milliseconds kExitWaitSlice{100};
    // A computed wait of 0 (unusable schedule) is waited as this instead of spinning.
    static constexpr std::uint32_t kNoWaitPaceMs = 60000;

    // The runner is made by `runnerFactory` when the thread starts. Without a loader the
    // settings are read with CBackupSetting::Load from `profileStore` (null: never readable).
    CBackupSchedule(Clock& clock, NamedEvents& events, CProfileStore* profileStore,
                    RunnerFactory runnerFactory, SettingLoader settingLoader = {});
    // Owners hold the scheduler in a WorkerPtr, so its loop has ended by now. A run still
    // going is abandoned with its runner.
    ~CBackupSchedule() override;

    // Replaces CalculateTimeout in the loop (tests drive the loop with short waits). Set it
    // before StartThread.
    void SetTimeoutCalculator(TimeoutCalculator calculator) {
        timeoutCalculator_ = std::move(calculator);
    }

    // Where the scheduler publishes the moment of its next run (seconds since the epoch, 0 for
    // none) each time it computes its wait; null: nowhere. Set it before StartThread.
    void SetNextRunTime(std::atomic<std::int64_t>* nextRunTime) { nextRunTime_ = nextRunTime; }

    // Milliseconds until the next scheduled moment; kInfinite when scheduling is off or the
    // stored time cannot form a moment; 0 for an unknown kind or an unset interval.
    std::uint32_t CalculateTimeout(const CBackupSetting& setting) const;
    // Kind 0: a day of the month at a time.
    std::uint32_t CalculateDateTimeout(const CBackupSetting& setting) const;
    // Kind 1: chosen weekdays at a time.
    std::uint32_t CalculateWeekdayTimeout(const CBackupSetting& setting) const;
    // Kind 2: every day at a time.
    std::uint32_t CalculateHourTimeout(const CBackupSetting& setting) const;
    // Kind 3: every (Interval + 1) hours.
    std::uint32_t CalculateIntervalTimeout(const CBackupSetting& setting) const;

protected:
    int ThreadCore() override;

private:
    int LoadSetting(CBackupSetting& setting) const;
    // Sleeps through the clock in short slices; false when the stop flag ended it early.
    bool SleepUnlessStopped(std::chrono::milliseconds duration);
    void SignalStartupBackup();
    // Opens the events still missing from `handles` (all four on the first call).
    void OpenEvents(std::vector<EventHandle>& handles, bool reportMissing) const;
    void StartRun(ThreadControlBlock& block, int shutdownMode);
    void ReleaseRunner();
    // The wait from `now` to the local moment of that day at hour:minute:00, with the
    // "Next RADezore:" trace; infinite (and an error line) when the moment cannot be built.
    std::uint32_t WaitUntil(int year, int month, int day, int hour, int minute,
                            std::time_t now) const;

    Clock& clock_;
    NamedEvents& events_;
    CProfileStore* profileStore_;
    RunnerFactory runnerFactory_;
    SettingLoader settingLoader_;
    TimeoutCalculator timeoutCalculator_;
    std::atomic<std::int64_t>* nextRunTime_ = nullptr;
    // Made when the thread starts; released when it ends, or by the destructor when a run was
    // still going when the thread ended. A run still going even then keeps it: never freed.
    WorkerPtr<CBackupRunner> runner_;
};

}  // namespace tessarine
