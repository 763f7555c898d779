#include "platform/posix/copier_pool.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

// How often a copier's thread looks at the caller's cancel flag while a copy runs (a job's own
// stop and the pool's end wake it at once).
constexpr int kPollMs = 100;
// How long a copy asked to stop at shutdown may take to answer before its copier is killed
// (a copier stops within one block unless the server is silent).
constexpr auto kStopWait = std::chrono::seconds(2);
// How long an idle copier may take to log off once its requests end.
constexpr auto kExitWait = std::chrono::seconds(1);
// A copy its caller makes itself while no copier has logged on yet: a few requests and one
// block, over a LAN less than a copier's program start and log-on.
constexpr off_t kSmallCopyBytes = off_t{1} << 20;

void CloseQuietly(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// A listing's entries from the fields after the error number; false when they are malformed.
bool ReadEntries(const std::vector<std::string>& fields, std::vector<ShareEntry>& entries) {
    if ((fields.size() - 1) % 4 != 0) return false;
    for (std::size_t i = 1; i < fields.size(); i += 4) {
        ShareEntry entry{fields[i], fields[i + 1] == "1", 0, 0};
        long long time = 0;
        const std::string& size = fields[i + 2];
        const std::string& when = fields[i + 3];
        if (std::from_chars(size.data(), size.data() + size.size(), entry.size).ec != std::errc() ||
            std::from_chars(when.data(), when.data() + when.size(), time).ec != std::errc())
            return false;
        entry.lastWriteTime = static_cast<std::time_t>(time);
        entries.push_back(std::move(entry));
    }
    return true;
}

// Reads one answer within `timeoutMs` (-1: none came, or the copier is gone); a listing's
// entries go to `entries`.
int AwaitResult(int fd, int timeoutMs, std::vector<ShareEntry>* entries = nullptr) {
    pollfd waiting{fd, POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&waiting, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return -1;
    CopierFrame frame;
    if (posix::ReadCopierFrame(fd, frame) != 1 || frame.kind != CopierMessage::kResult ||
        frame.fields.empty() || (entries == nullptr && frame.fields.size() != 1) ||
        (entries != nullptr && !ReadEntries(frame.fields, *entries)))
        return -1;
    int value = -1;
    const std::string& text = frame.fields[0];
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= 0 ? value : -1;
}

// In the child between fork and exec (async-signal-safe calls only): the requests pipe becomes
// its standard input, the answers pipe its standard output, and its standard error is the
// program's or /dev/null, never one of the pipes. A program started with 0, 1 or 2 closed gets
// pipe ends among them: each end is first moved above 2, since dup2 onto the same number would
// keep FD_CLOEXEC and the copier would lose its channel at exec.
bool SetUpChildDescriptors(const int requests[2], const int answers[2]) {
    int in = requests[0];
    int out = answers[1];
    if (in <= STDERR_FILENO) in = ::fcntl(in, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (out <= STDERR_FILENO) out = ::fcntl(out, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (in < 0 || out < 0) return false;
    const bool errorIsPipe = STDERR_FILENO == requests[0] || STDERR_FILENO == requests[1] ||
                             STDERR_FILENO == answers[0] || STDERR_FILENO == answers[1];
    if (errorIsPipe || ::fcntl(STDERR_FILENO, F_GETFD) < 0) {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null < 0) return false;
        if (null == STDERR_FILENO) {
            if (::fcntl(null, F_SETFD, 0) < 0) return false;
        } else if (::dup2(null, STDERR_FILENO) < 0) {
            return false;
        }
    }
    // `in` and `out` are above 2: each dup2 makes a new descriptor without FD_CLOEXEC.
    return ::dup2(in, STDIN_FILENO) >= 0 && ::dup2(out, STDOUT_FILENO) >= 0;
}

// A whole copy to the share whose source is at most kSmallCopyBytes.
bool IsSmallCopyToShare(const CopierTask& task) {
    if (task.IsRange() || task.fromShare || task.list) return false;
    struct stat source {};
    return ::stat(task.request.localPath.c_str(), &source) == 0 &&
           source.st_size <= kSmallCopyBytes;
}

}  // namespace

CopierPool::CopierPool(CopierPoolOptions options, Fallback fallback)
    : options_(std::move(options)), fallback_(std::move(fallback)) {}

CopierPool::~CopierPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
        for (auto& copier : copiers_)
            if (copier->wake >= 0) ::eventfd_write(copier->wake, 1);
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
        if (!SetUpChildDescriptors(requests, answers)) ::_exit(127);
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
    // The log-on itself is bounded by the copier's request time-out; the pool's end (the wake
    // eventfd) cuts the wait short.
    const auto deadline = Clock::now() + std::chrono::milliseconds(options_.timeoutMs + 5000);
    for (;;) {
        if (stopping_) return -1;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return -1;
        pollfd waiting[2] = {{copier.answers, POLLIN, 0}, {copier.wake, POLLIN, 0}};
        const int ready = ::poll(waiting, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) return -1;
        if (ready > 0 && waiting[0].revents != 0) return AwaitResult(copier.answers, 0);
    }
}

void CopierPool::Start(const std::string& host, const std::string& user,
                       const std::string& password, int count) {
    for (; started_ < std::min(count, options_.copiers); ++started_) {
        auto copier = std::make_unique<Copier>();
        if (!Spawn(*copier)) {
            LOG_ERROR_CODE(errno, "Share Copier Start Error. Program:" + options_.executable);
            started_ = options_.copiers;  // none more is tried
            break;
        }
        copier->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (copier->wake < 0 ||
            !posix::WriteCopierFrame(
                copier->requests, CopierMessage::kConnect,
                {host, user, password, IntToString(options_.port), IntToString(options_.timeoutMs),
                 options_.sender, options_.logOnShare})) {
            LOG_ERROR_CODE(errno, "Share Copier Start Error. Program:" + options_.executable);
            End(*copier);
            continue;
        }
        {
            std::lock_guard lock(mutex_);
            ++loggingOn_;
        }
        // Only the threads started here and the destructor look at copiers_; each thread has
        // its own copier.
        Copier* starting = copier.get();
        copiers_.push_back(std::move(copier));
        starting->thread = std::thread([this, starting, host] { LogOnAndServe(*starting, host); });
    }
}

int CopierPool::AwaitLogons() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return loggingOn_ == 0; });
    return serving_;
}

void CopierPool::LogOnAndServe(Copier& copier, const std::string& host) {
    const int result = AwaitLogon(copier);
    const bool ready = result == kShareConnected || result == kShareCredentialConflict;
    if (!ready && !stopping_)
        LOG_ERROR_CODE(result > 0 ? result : EIO,
                       "Share Copier Logon Error. Address:" + host +
                           " Process:" + IntToString(static_cast<int>(copier.pid)));
    int lastOfStart = -1;  // how many serve, when this was the last log-on under way
    {
        std::lock_guard lock(mutex_);
        --loggingOn_;
        if (ready) ++serving_;
        if (loggingOn_ == 0) lastOfStart = serving_;
        // A copier left out ends now (under the lock: the destructor wakes copiers by their
        // eventfd under it).
        if (!ready) End(copier);
    }
    // Callers waiting for a copier that is not coming make their jobs themselves.
    done_.notify_all();
    if (lastOfStart >= 0 && !stopping_)
        LOG_TRACE("Share Copiers Ready. Count:" + IntToString(lastOfStart));
    if (ready) Serve(copier);
}

CopyTicket CopierPool::Queue(const CopierTask& task, const std::atomic<int>* cancel) {
    CopyTicket ticket = 0;
    {
        std::lock_guard lock(mutex_);
        ticket = nextTicket_++;
        Job& job = jobs_[ticket];
        job.task = task;
        job.cancel = cancel;
        if (task.list)
            queue_.insert(std::find_if(queue_.begin(), queue_.end(),
                                       [&](CopyTicket queued) { return !jobs_[queued].task.list; }),
                          ticket);
        else
            queue_.push_back(ticket);
    }
    work_.notify_one();
    return ticket;
}

void CopierPool::Release(std::uint64_t stripedFile) {
    {
        std::lock_guard lock(mutex_);
        begunFiles_.erase(stripedFile);
    }
    work_.notify_all();
}

std::deque<CopyTicket>::iterator CopierPool::NextJob() {
    const bool roomForAnother = static_cast<int>(begunFiles_.size()) < serving_;
    return std::find_if(queue_.begin(), queue_.end(), [&](CopyTicket ticket) {
        const std::uint64_t file = jobs_[ticket].task.stripedFile;
        return file == 0 || roomForAnother || begunFiles_.count(file) != 0;
    });
}

IoStatus CopierPool::Take(CopyTicket ticket) {
    std::unique_lock lock(mutex_);
    const auto found = jobs_.find(ticket);
    if (found == jobs_.end() || found->second.dropped) return IoStatus{EINVAL};
    Job& job = found->second;
    if (!job.started && job.task.IsRange()) {
        // A range no copier has started yet is written here, on the caller's own connection,
        // rather than waited for: the caller is idle otherwise, it is logged on before any
        // copier, and the file's last ranges end sooner. It counts as a copy under way.
        begunFiles_.insert(job.task.stripedFile);
    } else if (!job.started && serving_ == 0 && IsSmallCopyToShare(job.task)) {
        // No copier has logged on yet: a small copy is made here at once rather than after a
        // program start and a log-on. A large one would keep the caller from the results the
        // copiers soon make.
    } else {
        done_.wait(lock, [&] { return job.done || (!job.started && NoneLeft()); });
        if (job.done) {
            const int error = job.error;
            jobs_.erase(found);
            return IoStatus{error};
        }
        // No copier is left: the copy is made here.
    }
    std::erase(queue_, ticket);
    const CopierTask task = std::move(job.task);
    const std::atomic<int>* cancel = job.cancel;
    jobs_.erase(found);
    lock.unlock();
    return fallback_(task, cancel);
}

IoResult<std::vector<ShareEntry>> CopierPool::TakeListing(CopyTicket ticket) {
    IoResult<std::vector<ShareEntry>> listing;
    std::unique_lock lock(mutex_);
    const auto found = jobs_.find(ticket);
    if (found == jobs_.end() || found->second.dropped || !found->second.task.list) {
        listing.error = EINVAL;
        return listing;
    }
    Job& job = found->second;
    done_.wait(lock, [&] { return job.done || (!job.started && NoneLeft()); });
    if (job.done) {
        listing.error = job.error;
        listing.value = std::move(job.entries);
    } else {
        std::erase(queue_, ticket);
        listing.error = ENOTSUP;
    }
    jobs_.erase(found);
    return listing;
}

void CopierPool::StopJob(Job& job) {
    job.withdrawn.store(1);
    if (job.runner != nullptr && job.runner->wake >= 0) ::eventfd_write(job.runner->wake, 1);
}

void CopierPool::DropQueued() {
    std::lock_guard lock(mutex_);
    queue_.clear();
    for (auto it = jobs_.begin(); it != jobs_.end();) {
        if (it->second.started && !it->second.done) {
            it->second.dropped = true;
            StopJob(it->second);
            ++it;
        } else {
            it = jobs_.erase(it);
        }
    }
}

void CopierPool::Withdraw(CopyTicket ticket) { Withdraw(std::vector<CopyTicket>{ticket}); }

void CopierPool::Withdraw(const std::vector<CopyTicket>& tickets) {
    std::unique_lock lock(mutex_);
    // Every job under way is told to stop before any is waited for: they stop together.
    std::vector<CopyTicket> running;
    for (const CopyTicket ticket : tickets) {
        const auto found = jobs_.find(ticket);
        if (found == jobs_.end()) continue;
        if (found->second.started) {
            StopJob(found->second);
            running.push_back(ticket);
        } else {
            std::erase(queue_, ticket);
            jobs_.erase(found);
        }
    }
    for (const CopyTicket ticket : running) {
        const auto found = jobs_.find(ticket);
        done_.wait(lock, [&] { return found->second.done; });
        jobs_.erase(found);
    }
}

int CopierPool::Serving() const {
    std::lock_guard lock(mutex_);
    return serving_ + loggingOn_;
}

int CopierPool::Queued() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(queue_.size());
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
        const std::atomic<int>* withdrawn = nullptr;
        {
            std::unique_lock lock(mutex_);
            auto next = queue_.end();
            work_.wait(lock, [&] { return stopping_ || (next = NextJob()) != queue_.end(); });
            if (stopping_) break;
            ticket = *next;
            queue_.erase(next);
            Job& job = jobs_[ticket];
            if (job.task.stripedFile != 0) begunFiles_.insert(job.task.stripedFile);
            job.started = true;
            job.runner = &copier;
            task = job.task;
            cancel = job.cancel;
            withdrawn = &job.withdrawn;
        }
        int error = ECANCELED;
        std::vector<ShareEntry> entries;
        const bool alive = posix::IsCancelled(cancel) || posix::IsCancelled(withdrawn) ||
                           CopyOn(copier, task, cancel, withdrawn, error, entries);
        {
            std::lock_guard lock(mutex_);
            if (const auto found = jobs_.find(ticket); found != jobs_.end()) {
                found->second.runner = nullptr;
                if (found->second.dropped) {
                    jobs_.erase(found);
                } else {
                    found->second.done = true;
                    found->second.error = error;
                    found->second.entries = std::move(entries);
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
                        const std::atomic<int>* withdrawn, int& error,
                        std::vector<ShareEntry>& entries) {
    error = EIO;
    const CopyRequest& request = task.request;
    bool sent = false;
    if (task.list)
        sent = posix::WriteCopierFrame(copier.requests, CopierMessage::kList, {request.path});
    else if (task.fromShare)
        sent = posix::WriteCopierFrame(copier.requests, CopierMessage::kFetch,
                                       {request.path, request.localPath});
    else if (task.IsRange())
        sent = posix::WriteCopierFrame(copier.requests, CopierMessage::kWriteRange,
                                       {request.localPath, task.temporaryPath,
                                        std::to_string(task.offset), std::to_string(task.length)});
    else
        sent = posix::WriteCopierFrame(
            copier.requests, CopierMessage::kCopy,
            {request.localPath, request.path, request.targetAbsent ? "1" : "0"});
    if (!sent) {
        LOG_ERROR_CODE(errno, "Share Copier Lost. Process:" + IntToString(copier.pid));
        return false;
    }
    bool stopSent = false;
    Clock::time_point giveUp = Clock::time_point::max();
    for (;;) {
        pollfd waiting[2] = {{copier.answers, POLLIN, 0}, {copier.wake, POLLIN, 0}};
        const int ready = ::poll(waiting, copier.wake >= 0 ? 2 : 1, kPollMs);
        if (ready > 0 && waiting[1].revents != 0) {
            eventfd_t ignored = 0;
            ::eventfd_read(copier.wake, &ignored);
        }
        if (ready > 0 && waiting[0].revents != 0) {
            const int result = AwaitResult(copier.answers, 0, task.list ? &entries : nullptr);
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
        if (!stopSent &&
            (stopping || posix::IsCancelled(cancel) || posix::IsCancelled(withdrawn))) {
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
    CloseQuietly(copier.wake);
    if (copier.pid > 0) {
        ::kill(copier.pid, SIGKILL);
        while (::waitpid(copier.pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        copier.pid = -1;
    }
}

}  // namespace tessarine
