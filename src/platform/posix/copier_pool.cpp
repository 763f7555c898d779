#include "platform/posix/copier_pool.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <chrono>

#include "base/app_log.h"
#include "base/string_utility.h"
#include "platform/posix/copier_channel.h"
#include "platform/posix/local_file_ops.h"
#include "platform/posix/share_copier.h"

namespace tessarine {

namespace {

using posix::CopierFrame;
using posix::CopierMessage;
using Clock = std::chrono::steady_clock;

// How often a copier's thread looks at the cancel flag while a copy runs.
constexpr int kPollMs = 100;
// How long a copy asked to stop at shutdown may take to answer before its copier is killed
// (a copier stops within one block unless the server is silent).
constexpr auto kStopWait = std::chrono::seconds(2);
// How long an idle copier may take to log off once its requests end.
constexpr auto kExitWait = std::chrono::seconds(1);

void CloseQuietly(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Reads one answer within `timeoutMs` (-1: none came, or the copier is gone).
int AwaitResult(int fd, int timeoutMs) {
    pollfd waiting{fd, POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&waiting, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return -1;
    CopierFrame frame;
    if (posix::ReadCopierFrame(fd, frame) != 1 || frame.kind != CopierMessage::kResult ||
        frame.fields.size() != 1)
        return -1;
    int value = -1;
    const std::string& text = frame.fields[0];
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= 0 ? value : -1;
}

}  // namespace

CopierPool::CopierPool(CopierPoolOptions options, Fallback fallback)
    : options_(std::move(options)), fallback_(std::move(fallback)) {}

CopierPool::~CopierPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    work_.notify_all();
    for (auto& copier : copiers_)
        if (copier->thread.joinable()) copier->thread.join();
    for (auto& copier : copiers_) CloseQuietly(copier->requests);  // an idle copier ends now
    const auto deadline = Clock::now() + kExitWait;
    for (auto& copier : copiers_) {
        while (copier->pid > 0) {
            const pid_t ended = ::waitpid(copier->pid, nullptr, WNOHANG);
            if (ended == copier->pid || (ended < 0 && errno != EINTR)) copier->pid = -1;
            if (copier->pid < 0 || Clock::now() >= deadline) break;
            ::usleep(5000);
        }
        End(*copier);
    }
}

bool CopierPool::Spawn(Copier& copier) {
    int requests[2];
    int answers[2];
    if (::pipe2(requests, O_CLOEXEC) != 0) return false;
    if (::pipe2(answers, O_CLOEXEC) != 0) {
        ::close(requests[0]);
        ::close(requests[1]);
        return false;
    }
    // Everything the child needs is made before fork: between fork and exec only
    // async-signal-safe calls are allowed.
    std::string program = options_.executable;
    std::string option = kShareCopierOption;
    char* const argv[] = {program.data(), option.data(), nullptr};
    const pid_t parent = ::getpid();
    sigset_t none;
    ::sigemptyset(&none);

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
        // Killed with the program (strictly: with this thread, which lives as long as the
        // pool); and a program that died before this line is caught by the check after it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        if (::dup2(requests[0], STDIN_FILENO) < 0 || ::dup2(answers[1], STDOUT_FILENO) < 0)
            ::_exit(127);
        ::close_range(3, ~0U, 0);  // nothing else of the program's (sockets, databases)
        ::execv(argv[0], argv);
        ::_exit(127);
    }
    ::close(requests[0]);
    ::close(answers[1]);
    if (pid < 0) {
        ::close(requests[1]);
        ::close(answers[0]);
        return false;
    }
    copier.pid = pid;
    copier.requests = requests[1];
    copier.answers = answers[0];
    return true;
}

int CopierPool::AwaitLogon(Copier& copier) {
    // The log-on itself is bounded by the copier's request time-out.
    return AwaitResult(copier.answers, options_.timeoutMs + 5000);
}

int CopierPool::Start(const std::string& host, const std::string& user,
                      const std::string& password) {
    std::vector<std::unique_ptr<Copier>> starting;
    for (int i = 0; i < options_.copiers; ++i) {
        auto copier = std::make_unique<Copier>();
        if (!Spawn(*copier)) {
            LOG_ERROR_CODE(errno, "Share Copier Start Error. Program:" + options_.executable);
            break;
        }
        if (!posix::WriteCopierFrame(copier->requests, CopierMessage::kConnect,
                                     {host, user, password, IntToString(options_.port),
                                      IntToString(options_.timeoutMs)})) {
            LOG_ERROR_CODE(errno, "Share Copier Start Error. Program:" + options_.executable);
            End(*copier);
            continue;
        }
        starting.push_back(std::move(copier));
    }
    for (auto& copier : starting) {
        const int result = AwaitLogon(*copier);
        if (result != kShareConnected && result != kShareCredentialConflict) {
            LOG_ERROR_CODE(result > 0 ? result : EIO,
                           "Share Copier Logon Error. Address:" + host +
                               " Process:" + IntToString(static_cast<int>(copier->pid)));
            End(*copier);
            continue;
        }
        copiers_.push_back(std::move(copier));
    }
    {
        std::lock_guard lock(mutex_);
        serving_ = static_cast<int>(copiers_.size());
    }
    for (auto& copier : copiers_) {
        Copier* serving = copier.get();
        copier->thread = std::thread([this, serving] { Serve(*serving); });
    }
    LOG_TRACE("Share Copiers Ready. Count:" + IntToString(static_cast<int>(copiers_.size())));
    return static_cast<int>(copiers_.size());
}

CopyTicket CopierPool::Queue(const CopierTask& task, const std::atomic<int>* cancel) {
    CopyTicket ticket = 0;
    {
        std::lock_guard lock(mutex_);
        ticket = nextTicket_++;
        Job& job = jobs_[ticket];
        job.task = task;
        job.cancel = cancel;
        queue_.push_back(ticket);
    }
    work_.notify_one();
    return ticket;
}

IoStatus CopierPool::Take(CopyTicket ticket) {
    std::unique_lock lock(mutex_);
    const auto found = jobs_.find(ticket);
    if (found == jobs_.end() || found->second.dropped) return IoStatus{EINVAL};
    Job& job = found->second;
    done_.wait(lock, [&] { return job.done || (!job.started && serving_ == 0); });
    if (job.done) {
        const int error = job.error;
        jobs_.erase(found);
        return IoStatus{error};
    }
    // No copier is left: the copy is made here.
    std::erase(queue_, ticket);
    const Job orphan = std::move(job);
    jobs_.erase(found);
    lock.unlock();
    return fallback_(orphan.task, orphan.cancel);
}

void CopierPool::DropQueued() {
    std::lock_guard lock(mutex_);
    queue_.clear();
    for (auto it = jobs_.begin(); it != jobs_.end();) {
        if (it->second.started && !it->second.done) {
            it->second.dropped = true;
            ++it;
        } else {
            it = jobs_.erase(it);
        }
    }
}

void CopierPool::Withdraw(CopyTicket ticket) {
    std::unique_lock lock(mutex_);
    const auto found = jobs_.find(ticket);
    if (found == jobs_.end()) return;
    Job& job = found->second;
    if (job.started) done_.wait(lock, [&] { return job.done; });
    std::erase(queue_, ticket);
    jobs_.erase(found);
}

int CopierPool::Serving() const {
    std::lock_guard lock(mutex_);
    return serving_;
}

std::vector<pid_t> CopierPool::CopierProcessIds() const {
    std::vector<pid_t> pids;
    for (const auto& copier : copiers_)
        if (copier->pid > 0) pids.push_back(copier->pid);
    return pids;
}

void CopierPool::Serve(Copier& copier) {
    for (;;) {
        CopyTicket ticket = 0;
        CopierTask task;
        const std::atomic<int>* cancel = nullptr;
        {
            std::unique_lock lock(mutex_);
            work_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (stopping_) break;
            ticket = queue_.front();
            queue_.pop_front();
            Job& job = jobs_[ticket];
            job.started = true;
            task = job.task;
            cancel = job.cancel;
        }
        int error = ECANCELED;
        const bool alive = posix::IsCancelled(cancel) || CopyOn(copier, task, cancel, error);
        {
            std::lock_guard lock(mutex_);
            if (const auto found = jobs_.find(ticket); found != jobs_.end()) {
                if (found->second.dropped) {
                    jobs_.erase(found);
                } else {
                    found->second.done = true;
                    found->second.error = error;
                }
            }
            if (!alive) --serving_;
        }
        done_.notify_all();
        if (!alive) return;
    }
    std::lock_guard lock(mutex_);
    --serving_;
}

bool CopierPool::CopyOn(Copier& copier, const CopierTask& task, const std::atomic<int>* cancel,
                        int& error) {
    error = EIO;
    const CopyRequest& request = task.request;
    const bool sent =
        task.IsRange()
            ? posix::WriteCopierFrame(copier.requests, CopierMessage::kWriteRange,
                                      {request.localPath, task.temporaryPath,
                                       std::to_string(task.offset), std::to_string(task.length)})
            : posix::WriteCopierFrame(
                  copier.requests, CopierMessage::kCopy,
                  {request.localPath, request.path, request.targetAbsent ? "1" : "0"});
    if (!sent) {
        LOG_ERROR_CODE(errno, "Share Copier Lost. Process:" + IntToString(copier.pid));
        return false;
    }
    bool stopSent = false;
    Clock::time_point giveUp = Clock::time_point::max();
    for (;;) {
        pollfd waiting{copier.answers, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, kPollMs);
        if (ready > 0) {
            const int result = AwaitResult(copier.answers, 0);
            if (result >= 0) {
                error = result;
                return true;
            }
            LOG_ERROR("Share Copier Lost. Process:" + IntToString(copier.pid) +
                      " file:" + request.localPath);
            return false;
        }
        if (ready < 0 && errno != EINTR) return false;
        const bool stopping = stopping_;
        if (!stopSent && (stopping || posix::IsCancelled(cancel))) {
            posix::WriteCopierFrame(copier.requests, CopierMessage::kCancel, {});
            stopSent = true;
        }
        if (stopping && giveUp == Clock::time_point::max()) giveUp = Clock::now() + kStopWait;
        if (Clock::now() >= giveUp) {
            // A copier stuck on a silent server is killed by the destructor; its temporary
            // file is left for the next run to remove.
            error = ECANCELED;
            return false;
        }
    }
}

void CopierPool::End(Copier& copier) {
    CloseQuietly(copier.requests);
    CloseQuietly(copier.answers);
    if (copier.pid > 0) {
        ::kill(copier.pid, SIGKILL);
        while (::waitpid(copier.pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        copier.pid = -1;
    }
}

}  // namespace tessarine
