#include "app/backup_run_reporter.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "base/app_log.h"
#include "base/string_utility.h"
#include "platform/control_request.h"

namespace tessarine {

namespace {

constexpr char kProgressWord[] = "PROGRESS";
constexpr char kResultWord[] = "RESULT";

// A decimal number, optionally negative, of at most nine digits.
std::optional<int> ParseNumber(std::string_view text) {
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) text.remove_prefix(1);
    if (text.empty() || text.size() > 9) return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

}  // namespace

std::string MakeBackupProgressLine(int done, int total) {
    return Format("%s %d %d\n", kProgressWord, done, total);
}

std::string MakeBackupResultLine(int code) { return Format("%s %d\n", kResultWord, code); }

std::optional<BackupReportLine> ParseBackupReportLine(std::string_view line) {
    std::vector<std::string_view> words;
    for (;;) {
        const std::size_t space = line.find(' ');
        words.push_back(line.substr(0, space));
        if (space == std::string_view::npos) break;
        line.remove_prefix(space + 1);
    }
    BackupReportLine report;
    if (words.size() == 3 && words[0] == kProgressWord) {
        const auto done = ParseNumber(words[1]);
        const auto total = ParseNumber(words[2]);
        if (!done || !total || *done < 0 || *total < -1) return std::nullopt;
        report.kind = BackupReportLine::Kind::kProgress;
        report.done = *done;
        report.total = *total;
        return report;
    }
    if (words.size() == 2 && words[0] == kResultWord) {
        const auto code = ParseNumber(words[1]);
        if (!code || *code < -1) return std::nullopt;
        report.kind = BackupReportLine::Kind::kResult;
        report.code = *code;
        return report;
    }
    return std::nullopt;
}

BackupRunReporter::BackupRunReporter(const BackupProgress& progress,
                                     const std::atomic<int>& executing,
                                     std::function<bool()> startRun)
    : progress_(progress), executing_(executing), startRun_(std::move(startRun)) {}

BackupRunReporter::~BackupRunReporter() { Stop(); }

std::size_t BackupRunReporter::Waiting() const {
    std::lock_guard lock(mutex_);
    return watchers_.size();
}

BackupRunReporter::Sent BackupRunReporter::Send(int fd, const std::string& line) {
    // Lines are short; a client whose buffer is full gets them later (or not at all).
    const ssize_t sent = send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent == static_cast<ssize_t>(line.size())) return Sent::kDone;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return Sent::kLater;
    return Sent::kGone;
}

bool BackupRunReporter::Take(const std::string& name, int fd) {
    if (name != kBackupRunName) return false;
    if (stopping_.load()) return false;
    Watcher watcher;
    watcher.fd = fd;
    const std::uint32_t started = progress_.runsStarted.load();
    const std::uint32_t ended = progress_.runsEnded.load();
    const char* answer = kControlAnswerRunning;
    if (started != ended) {
        watcher.run = started;
        LOG_NOTICE("Backup Run Requested. Already Running.");
    } else if (executing_.load() != 0) {
        // The flag without a run: the settings window saves, or a restore holds it. (A run the
        // scheduler has just begun, before its thread counts it, is told "busy" too.)
        LOG_NOTICE("Backup Run Requested. Busy.");
        Send(fd, kControlAnswerBusy);
        close(fd);
        return true;
    } else if (!startRun_ || !startRun_()) {
        LOG_ERROR("Backup Run Requested. Not Started.");
        return false;
    } else {
        watcher.run = started + 1;
        answer = kControlAnswerStarted;
        LOG_NOTICE("Backup Run Requested. Started.");
    }
    watcher.startBy = std::chrono::steady_clock::now() + kStartLimit;
    if (Send(fd, answer) != Sent::kDone) {
        close(fd);
        return true;
    }
    std::lock_guard lock(mutex_);
    if (!thread_.joinable()) {
        if (pipe2(wakeFds_, O_CLOEXEC | O_NONBLOCK) != 0) {
            LOG_ERROR("Backup Run Reporter Pipe Error.");
            close(fd);
            return true;
        }
        thread_ = std::thread(&BackupRunReporter::Serve, this);
    }
    watchers_.push_back(watcher);
    Wake();
    return true;
}

void BackupRunReporter::Wake() {
    const char byte = 1;
    if (wakeFds_[1] >= 0) {
        while (write(wakeFds_[1], &byte, 1) < 0 && errno == EINTR) {
        }
    }
}

bool BackupRunReporter::Report(Watcher& watcher) {
    const std::uint32_t ended = progress_.runsEnded.load();
    const std::uint32_t started = progress_.runsStarted.load();
    if (static_cast<std::int32_t>(started - watcher.run) < 0) {
        if (std::chrono::steady_clock::now() < watcher.startBy) return true;
        LOG_ERROR("Backup Run Requested. No Run Began.");
        return Send(watcher.fd, MakeBackupResultLine(-1)) == Sent::kLater;
    }
    const bool finished = static_cast<std::int32_t>(ended - watcher.run) >= 0;
    const int code = progress_.lastResultCode.load();
    const int total = progress_.totalCount.load();
    const int done = progress_.doneCount.load();
    if (done != watcher.sentDone || total != watcher.sentTotal) {
        switch (Send(watcher.fd, MakeBackupProgressLine(done, total))) {
            case Sent::kDone:
                watcher.sentDone = done;
                watcher.sentTotal = total;
                break;
            case Sent::kLater:
                return true;
            case Sent::kGone:
                return false;
        }
    }
    if (!finished) return true;
    return Send(watcher.fd, MakeBackupResultLine(code)) == Sent::kLater;
}

void BackupRunReporter::Serve() {
    std::vector<pollfd> fds;
    while (!stopping_.load()) {
        {
            std::lock_guard lock(mutex_);
            fds.clear();
            fds.push_back({wakeFds_[0], POLLIN, 0});
            for (const Watcher& watcher : watchers_) fds.push_back({watcher.fd, POLLIN, 0});
        }
        const int ready = poll(fds.data(), fds.size(), static_cast<int>(kReportInterval.count()));
        if (ready < 0 && errno != EINTR) {
            LOG_ERROR("Backup Run Reporter Poll Error.");
            break;
        }
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
            char drain[16];
            while (read(wakeFds_[0], drain, sizeof(drain)) > 0) {
            }
        }
        std::lock_guard lock(mutex_);
        std::vector<Watcher> open;
        for (Watcher& watcher : watchers_) {
            // A client says nothing after its request: readable means it went away.
            bool gone = false;
            for (std::size_t i = 1; i < fds.size(); ++i)
                if (fds[i].fd == watcher.fd && fds[i].revents != 0) gone = true;
            if (!gone && Report(watcher)) {
                open.push_back(watcher);
            } else {
                close(watcher.fd);
            }
        }
        watchers_ = std::move(open);
    }
}

void BackupRunReporter::Stop() {
    stopping_.store(true);
    std::thread thread;
    {
        std::lock_guard lock(mutex_);
        Wake();
        thread = std::move(thread_);
    }
    if (thread.joinable()) thread.join();
    std::lock_guard lock(mutex_);
    for (const Watcher& watcher : watchers_) close(watcher.fd);
    watchers_.clear();
    for (int& fd : wakeFds_) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

}  // namespace tessarine
