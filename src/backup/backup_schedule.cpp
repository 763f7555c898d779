#include "backup/backup_schedule.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <utility>

#include "base/app_log.h"
#include "base/string_utility.h"
#include "base/time_utility.h"
#include "core/deadline_wait.h"
#include "core/event_names.h"
#include "platform/worker_events.h"

namespace tessarine {

namespace {

// The events of the wait, in the order of the wait result.
constexpr std::array<std::string_view, 4> kScheduleEvents = {
    kEventBackupSettingChanged, kEventBackupShutDown, kEventBackupWindowsShutDown, kEventBackupNow};

constexpr std::time_t kSecondsPerDay = 86400;
constexpr std::chrono::milliseconds kStopCheckSlice{1000};

struct CalendarDay {
    int year = 0;
    int month = 0;  // 1-12
    int day = 0;
    int weekday = 0;  // 0 Sunday
};

std::tm LocalParts(std::time_t when) {
    std::tm parts{};
    localtime_r(&when, &parts);
    return parts;
}

CalendarDay DayOf(const std::tm& parts) {
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_wday};
}

// The calendar day `days` after the day of `now`. Counted from noon, so a day of 23 or 25 hours
// (daylight saving) never skips or repeats a date.
bool DayAfter(std::time_t now, int days, CalendarDay& result) {
    const CalendarDay today = DayOf(LocalParts(now));
    std::time_t noon = 0;
    if (!MakeLocalTime(today.year, today.month, today.day, 12, 0, 0, noon)) return false;
    result = DayOf(LocalParts(noon + days * kSecondsPerDay));
    return true;
}

// A moment counts as passed once its minute has been reached.
bool IsBefore(const std::tm& now, int hour, int minute) {
    return now.tm_hour < hour || (now.tm_hour == hour && now.tm_min < minute);
}

bool IsValidTime(int hour, int minute) {
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59;
}

int ReadFlag(const std::atomic<int>* flag) { return flag != nullptr ? flag->load() : 0; }

}  // namespace

CBackupSchedule::CBackupSchedule(Clock& clock, NamedEvents& events, CProfileStore* profileStore,
                                 RunnerFactory runnerFactory, SettingLoader settingLoader)
    : clock_(clock),
      events_(events),
      profileStore_(profileStore),
      runnerFactory_(std::move(runnerFactory)),
      settingLoader_(std::move(settingLoader)) {}

CBackupSchedule::~CBackupSchedule() {
    if (runner_ && runner_->IsThreadRunning()) {
        // A run that ignores the stop flag (a hung share call) may never end: joining it would
        // hang the caller, and freeing the runner would pull it from under the run. The runner
        // is left to end with the process.
        LOG_ERROR("Backup thread is still running. Its runner is left to the process end.");
        AbandonWorker(std::move(runner_));
        return;
    }
    ReleaseRunner();
}

int CBackupSchedule::LoadSetting(CBackupSetting& setting) const {
    return settingLoader_ ? settingLoader_(setting) : setting.Load();
}

bool CBackupSchedule::SleepUnlessStopped(std::chrono::milliseconds duration) {
    return !WaitUntilDone(clock_, duration, kStopCheckSlice, [this] { return IsStopRequested(); });
}

void CBackupSchedule::SignalStartupBackup() {
    LOG_METHOD();
    CBackupSetting setting(profileStore_);
    if (LoadSetting(setting) != 0 || !setting.isBackupWhenStart) return;
    if (!SleepUnlessStopped(kStartupDelay)) {
        LOG_TRACE("Stop requested during the start-up delay. No start-up backup.");
        return;
    }
    CBackupSetting again(profileStore_);
    if (LoadSetting(again) != 0 || !again.isBackupWhenStart) return;
    if (!events_.Signal(std::string(kEventBackupNow)))
        LOG_ERROR("Can't open event. Name:" + std::string(kEventBackupNow));
}

void CBackupSchedule::OpenEvents(std::vector<EventHandle>& handles, bool reportMissing) const {
    OpenWorkerEvents(events_, kScheduleEvents, handles, reportMissing);
}

void CBackupSchedule::StartRun(ThreadControlBlock& block, int shutdownMode) {
    if (!runner_) {
        LOG_ERROR("No backup runner. Request dropped.");
        return;
    }
    // Taken in one step, not only by the runner: a request arriving before the new thread has
    // set the flag is not a second run, and the settings window, which holds the flag while it
    // saves, never sees a run start between its check and its save.
    int idle = 0;
    if (!block.executorRunning->compare_exchange_strong(idle, 1)) {
        LOG_TRACE("Backup is running. Request dropped.");
        return;
    }
    runner_->SetShutdownMode(shutdownMode);
    if (!runner_->StartThread()) block.executorRunning->store(0);
}

void CBackupSchedule::ReleaseRunner() { runner_.reset(); }

int CBackupSchedule::ThreadCore() {
    LOG_BANNER("BackupSchedule Start up");
    ThreadControlBlock* block = GetControlBlock();
    if (block == nullptr || block->stopRequested == nullptr || block->threadRunning == nullptr ||
        block->executorRunning == nullptr) {
        LOG_ERROR("Thread control block is not set.");
        LOG_BANNER("BackupSchedule Finish");
        return 0;
    }

    SignalStartupBackup();
    block->threadRunning->store(1);

    // A runner left going by an earlier life of this thread is finished first.
    ReleaseRunner();
    if (runnerFactory_) runner_ = runnerFactory_();
    if (runner_)
        runner_->SetControlBlock(block);
    else
        LOG_ERROR("Can't create the backup runner.");

    std::vector<EventHandle> handles;
    OpenEvents(handles, true);

    // The setting of the last successful load decides a backup before shutdown.
    CBackupSetting heldSetting(profileStore_);
    std::uint32_t lastResult = kWaitSettingChanged;
    bool noWaitReported = false;
    CEventWaitFailures waitFailures;
    for (;;) {
        CBackupSetting setting(profileStore_);
        std::uint32_t wait = kInfinite;
        if (LoadSetting(setting) == 0) {
            heldSetting = setting;
            wait = timeoutCalculator_ ? timeoutCalculator_(setting) : CalculateTimeout(setting);
        } else {
            LOG_ERROR("Can't load BackupSetting. Waiting for an event only.");
        }

        bool start = false;
        switch (lastResult) {
            case kWaitTimeout:
                // Unsigned: an infinite wait counts. A short one means the timer fired early.
                start = wait >= kMinimumRunWaitMs;
                break;
            case kWaitBackupNow:
                start = true;
                break;
            case kWaitWindowsShutDown:
                start = heldSetting.isBackupWhenShutdown;
                break;
            default:
                break;
        }
        if (start) StartRun(*block, lastResult == kWaitWindowsShutDown ? 1 : 0);

        if (IsStopRequested()) break;

        if (nextRunTime_ != nullptr) {
            const bool due = wait != kInfinite && wait != 0;
            nextRunTime_->store(due ? static_cast<std::int64_t>(clock_.Now()) + (wait + 999) / 1000
                                    : 0);
        }

        std::uint32_t waitMs = wait;
        if (wait == 0) {
            if (!noWaitReported) {
                LOG_ERROR("Backup schedule gives no wait. Waiting " + ULongToString(kNoWaitPaceMs) +
                          " ms between checks. Setting:" + IntToString(setting.scheduleSetting));
                noWaitReported = true;
            }
            waitMs = kNoWaitPaceMs;
        } else {
            noWaitReported = false;
        }

        lastResult = events_.WaitAny(handles, waitMs);
        LOG_TRACE("Event:" + ULongToString(lastResult));
        if (waitFailures.Failed(lastResult, clock_)) OpenEvents(handles, false);
    }

    handles.clear();

    if (ReadFlag(block->executorRunning) != 0) LOG_TRACE("Wait Backup Thread.");
    const bool runEnded = WaitUntilDone(clock_, kExitWaitLimit, kExitWaitSlice,
                                        [block] { return ReadFlag(block->executorRunning) == 0; });

    // Logged before the flag drops, so it precedes what the application logs about it.
    if (!runEnded) LOG_ERROR("Backup thread is still running. The scheduler ends without it.");
    block->threadRunning->store(0);
    if (runEnded) ReleaseRunner();
    LOG_BANNER("BackupSchedule Finish");
    return 0;
}

std::uint32_t CBackupSchedule::CalculateTimeout(const CBackupSetting& setting) const {
    LOG_METHOD();
    if (!setting.isSchedule) {
        LOG_TRACE("RADezore Schedule OFF");
        return kInfinite;
    }
    std::uint32_t result = 0;
    switch (setting.scheduleSetting) {
        case 0:
            result = CalculateDateTimeout(setting);
            break;
        case 1:
            result = CalculateWeekdayTimeout(setting);
            break;
        case 2:
            result = CalculateHourTimeout(setting);
            break;
        case 3:
            result = CalculateIntervalTimeout(setting);
            break;
        default:
            LOG_ERROR("Invalid Backup Schedule Setting. Setting:" +
                      IntToString(setting.scheduleSetting));
            result = 0;
            break;
    }
    LOG_TRACE("Setting:" + IntToString(setting.scheduleSetting) +
              " Wait(ms):" + ULongToString(result));
    return result;
}

std::uint32_t CBackupSchedule::WaitUntil(int year, int month, int day, int hour, int minute,
                                         std::time_t now) const {
    std::time_t moment = 0;
    if (!MakeLocalTime(year, month, day, hour, minute, 0, moment)) {
        LOG_ERROR("Can't build the backup moment. Date:" + IntToString(year) + "/" +
                  IntToString(month) + "/" + IntToString(day));
        return kInfinite;
    }
    LOG_TRACE("Next RADezore:" + FormatLocalTime(moment, kLogTimeFormat));
    if (moment <= now) {
        // Only a time-zone change between the readings can do this; wake again shortly.
        LOG_ERROR("Next backup moment is not in the future. Checking again in 1000 ms.");
        return 1000;
    }
    return static_cast<std::uint32_t>((moment - now) * 1000);
}

std::uint32_t CBackupSchedule::CalculateDateTimeout(const CBackupSetting& setting) const {
    LOG_METHOD();
    const std::time_t now = clock_.Now();
    int day = setting.dateDay + 1;
    const int hour = setting.dateHour;
    const int minute = setting.dateMinute;
    if (day < 1 || day > 31 || !IsValidTime(hour, minute)) {
        LOG_ERROR("Invalid backup date. Day:" + IntToString(day) + " Hour:" + IntToString(hour) +
                  " Minute:" + IntToString(minute));
        return kInfinite;
    }

    const std::tm nowParts = LocalParts(now);
    int year = nowParts.tm_year + 1900;
    int month = nowParts.tm_mon + 1;
    const int today = nowParts.tm_mday;
    if (!(today < day || (today == day && IsBefore(nowParts, hour, minute)))) {
        if (++month > 12) {
            month = 1;
            ++year;
        }
        if ((month == 4 || month == 6 || month == 9 || month == 11) && day > 30) day = 30;
        if (month == 2 && day > 28) day = 28;
    }
    // In the current month a day past its end carries into the next month.
    return WaitUntil(year, month, day, hour, minute, now);
}

std::uint32_t CBackupSchedule::CalculateWeekdayTimeout(const CBackupSetting& setting) const {
    LOG_METHOD();
    const std::time_t now = clock_.Now();
    const int hour = setting.weekdayHour;
    const int minute = setting.weekdayMinute;
    if (!IsValidTime(hour, minute)) {
        LOG_ERROR("Invalid backup time. Hour:" + IntToString(hour) +
                  " Minute:" + IntToString(minute));
        return kInfinite;
    }

    const std::tm nowParts = LocalParts(now);
    CalendarDay target = DayOf(nowParts);
    if (!setting.weekdays[target.weekday] || !IsBefore(nowParts, hour, minute)) {
        // Up to a week ahead; with no weekday chosen the search ends on the same weekday.
        for (int days = 1; days <= 7; ++days) {
            if (!DayAfter(now, days, target)) {
                LOG_ERROR("Can't build the next backup day.");
                return kInfinite;
            }
            if (setting.weekdays[target.weekday]) break;
        }
    }
    return WaitUntil(target.year, target.month, target.day, hour, minute, now);
}

std::uint32_t CBackupSchedule::CalculateHourTimeout(const CBackupSetting& setting) const {
    LOG_METHOD();
    const std::time_t now = clock_.Now();
    const int hour = setting.hourHour;
    const int minute = setting.hourMinute;
    if (!IsValidTime(hour, minute)) {
        LOG_ERROR("Invalid backup time. Hour:" + IntToString(hour) +
                  " Minute:" + IntToString(minute));
        return kInfinite;
    }

    const std::tm nowParts = LocalParts(now);
    CalendarDay target = DayOf(nowParts);
    if (!IsBefore(nowParts, hour, minute) && !DayAfter(now, 1, target)) {
        LOG_ERROR("Can't build the next backup day.");
        return kInfinite;
    }
    return WaitUntil(target.year, target.month, target.day, hour, minute, now);
}

std::uint32_t CBackupSchedule::CalculateIntervalTimeout(const CBackupSetting& setting) const {
    LOG_METHOD();
    // Interval -1 (unset) gives 0; the loop paces that.
    const std::int64_t hours = static_cast<std::int64_t>(setting.interval) + 1;
    if (hours <= 0) return 0;
    const std::int64_t milliseconds = hours * 3600 * 1000;
    if (milliseconds >= kInfinite) {
        LOG_ERROR("Invalid backup interval. Interval:" + IntToString(setting.interval));
        return kInfinite;
    }
    return static_cast<std::uint32_t>(milliseconds);
}

}  // namespace tessarine
