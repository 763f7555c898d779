// Serves the control socket's "RUN Backup" request (TessarineTool --backup-now): starts a backup
// through the scheduler's BackupNow event, or finds one going, and reports on each requesting
// connection the run's progress and, when it ends, its result code. One thread serves every
// waiting connection; a client that stops reading or goes away is dropped.
//
// Report lines, one per change: "PROGRESS <done> <total>" (total -1 while the files are
// counted) and at the end "RESULT <code>": the run's result code (0 success, 1 the device was
// not reached, 2 something failed), or -1 when no result came: the settings were unusable, or
// no run started within kStartLimit.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/progress_counters.h"

namespace tessarine {

// The name of the run in the control request.
inline constexpr char kBackupRunName[] = "Backup";

struct BackupReportLine {
    enum class Kind { kProgress, kResult };
    Kind kind = Kind::kProgress;
    int done = 0;
    int total = 0;
    int code = -1;
};

std::string MakeBackupProgressLine(int done, int total);
std::string MakeBackupResultLine(int code);
// A report line without its newline; nothing when it is not one.
std::optional<BackupReportLine> ParseBackupReportLine(std::string_view line);

class BackupRunReporter {
public:
    // How often the progress is looked at.
    static constexpr std::chrono::milliseconds kReportInterval{200};
    // A requested run that has not begun by then is given up (the scheduler may hold the
    // request through its start-up delay, or drop it while the settings are being saved).
    static constexpr std::chrono::milliseconds kStartLimit{90000};

    // `executing`: the backup running flag (held by a run, the settings window's save or a
    // restore). `startRun` signals the scheduler; false when it cannot.
    BackupRunReporter(const BackupProgress& progress, const std::atomic<int>& executing,
                      std::function<bool()> startRun);
    ~BackupRunReporter();
    BackupRunReporter(const BackupRunReporter&) = delete;
    BackupRunReporter& operator=(const BackupRunReporter&) = delete;

    // The control server's run handler: answers "STARTED", "RUNNING" (both followed by the
    // report) or "BUSY" (closed) on `fd` and returns true; false for another name.
    bool Take(const std::string& name, int fd);
    // Ends the thread and closes every connection: their clients learn that no result comes.
    void Stop();
    // Connections still waiting for their run's end.
    std::size_t Waiting() const;

private:
    struct Watcher {
        int fd = -1;
        std::uint32_t run = 0;  // the number runsStarted has once the awaited run has begun
        std::chrono::steady_clock::time_point startBy;
        int sentDone = -2;
        int sentTotal = -2;
    };
    enum class Sent { kDone, kLater, kGone };
    static Sent Send(int fd, const std::string& line);
    // Sends what is new; false when the watcher is finished (result sent, or client gone).
    bool Report(Watcher& watcher);
    void Serve();
    void Wake();

    const BackupProgress& progress_;
    const std::atomic<int>& executing_;
    std::function<bool()> startRun_;
    mutable std::mutex mutex_;
    std::vector<Watcher> watchers_;  // under mutex_
    std::atomic<bool> stopping_{false};
    int wakeFds_[2] = {-1, -1};
    std::thread thread_;
};

}  // namespace tessarine
