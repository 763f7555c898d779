// Copier processes (the program itself in its copier mode, see share_copier.h), each with its
// own SMB connection, that make queued copies to the share (and from it) several at a time. Owned
// by the share of one run: the copiers end with it, and when the program dies they are killed by
// the kernel (the parent-death signal) or end when their requests pipe closes.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_share.h"

namespace tessarine {

inline constexpr int kCopiersChosenAtLogOn = -1;

struct CopierPoolOptions {
    std::string executable;  // the program, started with kShareCopierOption
    // Below 0: chosen by PooledSmbShare when it logs on, striping included (copier_plan.h).
    int copiers = kCopiersChosenAtLogOn;
    int port = 445;
    int timeoutMs = 15000;        // each copier's SMB request time-out
    std::string sender = {};      // each copier's DeviceShare::SetCopySender
    std::string logOnShare = {};  // each copier's SmbShare::SetLogOnShare
    // A queued file of at least this size is written by several copiers at once, in ranges of
    // at most `stripeRange` bytes (smaller towards the end) that each copier takes as it comes
    // free (PooledSmbShare); 0: never.
    std::uint64_t stripeThreshold = std::uint64_t{64} << 20;
    std::uint64_t stripeRange = std::uint64_t{32} << 20;
    // Folder listings asked for ahead go to copiers (PooledSmbShare::PrefetchListings): -1 as
    // chosen at log-on (where each request waits for a LAN), 0 never, 1 always.
    int prefetchListings = -1;
};

// What one copier does for a queued job: a whole copy, (with `temporaryPath` set) one range of
// a striped copy (see SmbShare::BeginStripedCopy), or (with `fromShare`) a copy of
// `request.path` on the share to `request.localPath`.
struct CopierTask {
    CopyRequest request;
    std::string temporaryPath;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    // The striped file a range belongs to (any non-zero number the caller chose for it).
    std::uint64_t stripedFile = 0;
    bool fromShare = false;
    bool list = false;  // a listing of the folder `request.path`

    bool IsRange() const { return !temporaryPath.empty(); }
};

class CopierPool {
public:
    // Does a task in the caller's thread when no copier is left to do it.
    using Fallback = std::function<IoStatus(const CopierTask&, const std::atomic<int>*)>;

    CopierPool(CopierPoolOptions options, Fallback fallback);
    // Stops the copies under way (each copier is asked to stop, then killed after a short
    // wait) and ends every copier.
    ~CopierPool();
    CopierPool(const CopierPool&) = delete;
    CopierPool& operator=(const CopierPool&) = delete;

    // Starts copiers, up to `count` in all (at most the options' count), and has each new one
    // log on to `host` with the credentials (sent over its pipe). Returns at once: each copier
    // takes jobs as soon as its own log-on is answered, so the first copies do not wait for the
    // slowest log-on. A copier that could not start or log on is logged and left out. Called
    // again, it starts the ones still missing.
    void Start(const std::string& host, const std::string& user, const std::string& password,
               int count);
    // Copiers started so far (ready, logging on or left out).
    int Started() const { return started_; }
    // Waits until every copier started has logged on or been left out; returns how many serve.
    int AwaitLogons();

    // Striped files hold a temporary copy on the device from their first range's start until
    // the caller lets go of them (Release): no range of a new striped file starts while as
    // many are held as copiers serve, so the device never holds more of them than copies under
    // way (a range the caller writes itself, see Take, counts as one under way).
    CopyTicket Queue(const CopierTask& task, const std::atomic<int>* cancel);
    // The striped file's temporary copy was placed or removed.
    void Release(std::uint64_t stripedFile);
    // Listings (CopierTask::list) go ahead of the copies queued, and their entries are handed
    // over with TakeListing (ENOTSUP when no copier is left to make it: list it in-process).
    IoResult<std::vector<ShareEntry>> TakeListing(CopyTicket ticket);
    // Waits for the copy and hands over its outcome; a copier that died in the middle of it
    // makes it a failure (EIO). A copy no copier is left for, a range of a striped file no
    // copier has started, and a small copy to the share none has started while none has
    // logged on yet, is made here by the fallback.
    IoStatus Take(CopyTicket ticket);
    // Forgets every job whose result was not taken: the ones not started are not made, the ones
    // under way are told to stop (each within one block) and end on their own.
    void DropQueued();
    // Takes a job back without its result: one not started is not made, one under way is told
    // to stop and waited for (it ends within one block, or at once when it had ended).
    void Withdraw(CopyTicket ticket);
    // The same for several jobs (a striped copy's ranges), all told to stop before any is
    // waited for.
    void Withdraw(const std::vector<CopyTicket>& tickets);

    // Copiers still taking jobs, with those still logging on.
    int Serving() const;
    // Jobs queued that no copier has started.
    int Queued() const;
    // As the pool was made (count and striping as chosen at log-on).
    const CopierPoolOptions& Options() const { return options_; }
    // The copiers' process ids (for tests that stop or kill one).
    std::vector<pid_t> CopierProcessIds() const;

private:
    struct Copier {
        pid_t pid = -1;
        int requests = -1;  // our end of its standard input
        int answers = -1;   // our end of its standard output
        int wake = -1;      // an eventfd: a job it runs was withdrawn, or the pool stops
        std::thread thread;
    };
    struct Job {
        CopierTask task;
        const std::atomic<int>* cancel = nullptr;
        // The job's own stop, apart from the caller's flag (shared by a whole run): set when the
        // job is withdrawn or dropped.
        std::atomic<int> withdrawn{0};
        Copier* runner = nullptr;  // while it runs
        bool started = false;
        bool done = false;
        bool dropped = false;  // nobody takes its result
        int error = 0;
        std::vector<ShareEntry> entries;  // of a listing
    };

    bool Spawn(Copier& copier);
    // Waits for the answer to the log-on: the result, or -1 when none came (or the pool ends).
    int AwaitLogon(Copier& copier);
    // A copier's thread: its log-on, then its jobs until the pool ends or it is lost.
    void LogOnAndServe(Copier& copier, const std::string& host);
    void Serve(Copier& copier);
    // No copier serves or is logging on: a job nobody started is made by its caller.
    bool NoneLeft() const { return serving_ == 0 && loggingOn_ == 0; }
    // Sends one copy and waits for its answer; false when the copier is gone (or left behind
    // at shutdown), with `error` set for the copy.
    bool CopyOn(Copier& copier, const CopierTask& task, const std::atomic<int>* cancel,
                const std::atomic<int>* withdrawn, int& error, std::vector<ShareEntry>& entries);
    // Sets a job's own stop and wakes the copier that runs it (under mutex_).
    static void StopJob(Job& job);
    // The first queued job a copier may start now (under mutex_); queue_.end() when none.
    std::deque<CopyTicket>::iterator NextJob();
    void End(Copier& copier);

    CopierPoolOptions options_;
    Fallback fallback_;
    std::vector<std::unique_ptr<Copier>> copiers_;
    mutable std::mutex mutex_;
    std::condition_variable work_;  // a job was queued, or the pool stops
    std::condition_variable done_;  // a job ended, or a copier was lost
    std::map<CopyTicket, Job> jobs_;
    std::deque<CopyTicket> queue_;
    CopyTicket nextTicket_ = 1;
    int serving_ = 0;                     // copiers whose thread still takes jobs
    int loggingOn_ = 0;                   // copiers started whose log-on is not answered yet
    int started_ = 0;                     // copiers started (Start)
    std::set<std::uint64_t> begunFiles_;  // striped files with a range started, not released
    std::atomic<bool> stopping_{false};
};

}  // namespace tessarine
