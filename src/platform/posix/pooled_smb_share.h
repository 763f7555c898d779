// The SMB share with copier processes behind its queued copies: everything else (and every
// copy asked for with CopyToShare or CopyFromShare) goes through one SmbShare in this process,
// as before; the copies of QueueCopyToShare and QueueCopyFromShare go to a CopierPool, several
// at a time. With no
// copier ready the queued copies are made one at a time by the SmbShare, as on any share.
//
// A large file is striped: its temporary file is named here when it is queued and made by the
// first of its ranges to start (no new one begins while as many striped files are begun and not
// taken as copiers serve, see CopierPool::Queue), its ranges go to several copiers (one SMB
// connection has one write in flight at a time, so one copier cannot fill the link with one file),
// and when its result is taken and every range arrived, this process gives it its time and renames
// it into place. A range that failed (a copier killed, the stop flag, a lost server) fails the
// whole file; its temporary file is removed, or left for the next run's listing when the server is
// gone.
//
// The copiers are started (and log on) when the first copy is queued, with the credentials of
// Connect; they die with the thread that queued it (their parent-death signal is bound to it):
// connect, queue and destroy on the thread of one run.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/copier_pool.h"
#include "platform/posix/smb_share.h"

namespace tessarine {

class PooledSmbShare : public DeviceShare {
public:
    // `pool.executable` is the program to start in copier mode; `pool.port` and
    // `pool.timeoutMs` are used by this process's SmbShare too.
    explicit PooledSmbShare(CopierPoolOptions pool);
    ~PooledSmbShare() override;

    int Connect(const std::string& host, const std::string& user,
                const std::string& password) override;
    void Cancel(const std::string& host) override;
    // Copier processes started from now on take the sender too.
    void SetCopySender(const std::string& sender) override {
        DeviceShare::SetCopySender(sender);
        share_.SetCopySender(sender);
        options_.sender = sender;
    }

    // Every change made through this share drops the listings asked for ahead of the folders it
    // touches (see PrefetchListings).
    IoStatus CreateFolder(const std::string& path) override {
        ForgetListings(path);
        return share_.CreateFolder(path);
    }
    IoStatus Exists(const std::string& path) override { return share_.Exists(path); }
    IoResult<bool> IsFolder(const std::string& path) override { return share_.IsFolder(path); }
    IoResult<bool> IsReadOnly(const std::string& path) override { return share_.IsReadOnly(path); }
    IoStatus ClearReadOnly(const std::string& path) override { return share_.ClearReadOnly(path); }
    IoStatus CopyToShare(const std::string& localPath, const std::string& path,
                         const std::atomic<int>* cancel) override {
        ForgetListings(path);
        return share_.CopyToShare(localPath, path, cancel);
    }
    IoStatus CopyFromShare(const std::string& path, const std::string& localPath,
                           const std::atomic<int>* cancel) override {
        return share_.CopyFromShare(path, localPath, cancel);
    }
    IoStatus ReserveName(const std::string& path) override {
        ForgetListings(path);
        return share_.ReserveName(path);
    }
    IoStatus DeleteFile(const std::string& path) override {
        ForgetListings(path);
        return share_.DeleteFile(path);
    }
    IoStatus Rename(const std::string& path, const std::string& newPath) override {
        ForgetListings(path);
        ForgetListings(newPath);
        return share_.Rename(path, newPath);
    }
    IoStatus RemoveFolder(const std::string& path) override {
        ForgetListings(path);
        return share_.RemoveFolder(path);
    }
    // A folder whose listing was asked for ahead is answered from it (see PrefetchListings).
    IoResult<std::vector<ShareEntry>> List(const std::string& folder,
                                           const std::string& wildcard) override;
    // Where the link makes each request wait (CopierPoolOptions::prefetchListings), the
    // folders' listings are made by a few copiers (kListingCopiers, started for them) at once,
    // ahead of the copies queued, and kept for List (at most kListingsAhead). Each listing is
    // the folder as it was when a copier listed it: the caller asks only for folders it does
    // not change before it lists them.
    void PrefetchListings(const std::vector<std::string>& folders) override;

    // Copies to the host the pool logged on to go to the copiers; others are made one at a
    // time here.
    CopyTicket QueueCopyToShare(const CopyRequest& request,
                                const std::atomic<int>* cancel) override;
    // Copies from the share go to the copiers the same way (each with CopyFromShare's
    // guarantees, in the copier's process).
    CopyTicket QueueCopyFromShare(const std::string& path, const std::string& localPath,
                                  const std::atomic<int>* cancel) override;
    IoStatus TakeCopyResult(CopyTicket ticket) override;
    void DropQueuedCopies() override;

    // The copiers' process ids; empty when no pool runs (none before the first queued copy).
    std::vector<pid_t> CopierProcessIds() const;
    // Starts every copier not started yet and waits until each has logged on or was left out;
    // returns how many serve (0 without a pool). Copies queued afterwards are spread over them
    // from the first one on.
    int StartAllCopiers();

private:
    // Tickets of copies that no copier makes carry this bit, striped copies the next one.
    static constexpr CopyTicket kLocalTicket = CopyTicket{1} << 63;
    static constexpr CopyTicket kStripedTicket = CopyTicket{1} << 62;

    struct StripedCopy {
        CopyRequest request;
        std::string temporaryPath;
        std::uint64_t size = 0;
        std::vector<CopyTicket> ranges;
    };
    static constexpr int kListingCopiers = 4;
    static constexpr std::size_t kListingsAhead = 256;
    // Copiers started for a large file when fewer serve: with 1 MiB writes two or three already
    // fill a LAN link, and every further one costs a process start and a log-on on both machines
    // before the first byte moves.
    static constexpr int kStripingCopiers = 4;

    // Starts copiers up to `copiers` when they were not yet; false without a pool.
    bool PoolReady(int copiers);
    // Starts copiers as jobs wait for them: one more than those serving and queued (and at least
    // `atLeast`), up to the pool's count (a run that copies one small file starts one); false
    // without a pool.
    bool PoolReadyForAnotherJob(int atLeast = 1);
    bool ToPoolHost(const std::string& path) const;
    // Drops the listings asked for ahead of `path` and of the folder that holds it.
    void ForgetListings(const std::string& path);
    // The quickest of a few cheap requests to the server just logged on to.
    std::chrono::microseconds MeasureRoundTrip(const std::string& host);
    // Starts a striped copy when the file is large enough and copiers are there; 0 otherwise.
    CopyTicket QueueStriped(const CopyRequest& request, const std::atomic<int>* cancel);
    IoStatus TakeStriped(CopyTicket ticket);

    CopierPoolOptions options_;
    SmbShare share_;  // declared before the pool: the pool's fallback uses it
    std::unique_ptr<CopierPool> pool_;
    std::string poolHost_;  // lower case
    struct PoolLogon {
        std::string host, user, password;
    };
    std::optional<PoolLogon> poolLogon_;  // until the copiers are started
    std::map<CopyTicket, StripedCopy> striped_;
    bool prefetch_ = false;
    struct Prefetched {
        std::string folder;  // as asked for
        CopyTicket ticket = 0;
    };
    // Listings asked for ahead, by the folder's path as the share compares it (FolderKey).
    std::map<std::string, Prefetched> prefetched_;
    CopyTicket nextStriped_ = 1;
};

}  // namespace tessarine
