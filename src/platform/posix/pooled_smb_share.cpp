#include "platform/posix/pooled_smb_share.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>

#include "base/app_log.h"
#include "base/string_utility.h"
#include "platform/posix/copier_plan.h"
#include "platform/share_name.h"
#include "platform/unc_path.h"
#include "platform/wildcard.h"

namespace tessarine {

namespace {

// A device folder as the share compares paths: host and names folded.
std::string FolderKey(const DevicePath& path) {
    std::string key = FoldShareName(path.host);
    key.push_back('/');
    key.append(FoldShareName(path.share));
    for (const std::string& part : path.parts) {
        key.push_back('/');
        key.append(FoldShareName(part));
    }
    return key;
}

std::string LowerHost(std::string host) {
    while (!host.empty() && host.front() == '\\') host.erase(0, 1);
    for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return host;
}

}  // namespace

PooledSmbShare::PooledSmbShare(CopierPoolOptions pool)
    : options_(std::move(pool)), share_(options_.port, options_.timeoutMs) {
    share_.SetLogOnShare(options_.logOnShare);
}

PooledSmbShare::~PooledSmbShare() = default;

int PooledSmbShare::Connect(const std::string& host, const std::string& user,
                            const std::string& password) {
    const int result = share_.Connect(host, user, password);
    if (result != kShareConnected || pool_ || options_.copiers == 0 || options_.executable.empty())
        return result;
    // The configured options stay as they are: a later log-on (to another server) chooses anew.
    CopierPoolOptions pool = options_;
    if (pool.copiers < 0) {
        const std::chrono::microseconds roundTrip = MeasureRoundTrip(host);
        const unsigned processors = UsableProcessors();
        const CopierPlan plan = PlanCopiers(roundTrip, processors);
        pool.copiers = plan.copiers;
        if (!plan.stripe) pool.stripeThreshold = 0;
        // Where striping pays (each request waits for the link), so do listings ahead.
        if (pool.prefetchListings < 0) pool.prefetchListings = plan.stripe ? 1 : 0;
        LOG_NOTICE("Share Copiers Planned. Count:" + IntToString(plan.copiers) +
                   " Striping:" + (plan.stripe ? "On" : "Off") +
                   " RoundTripUs:" + std::to_string(roundTrip.count()) +
                   " Processors:" + IntToString(static_cast<int>(processors)));
    }
    pool_ = std::make_unique<CopierPool>(
        std::move(pool), [this](const CopierTask& task, const std::atomic<int>* cancel) {
            if (task.fromShare)
                return share_.CopyFromShare(task.request.path, task.request.localPath, cancel);
            if (task.IsRange())
                return share_.WriteRange(task.request.localPath, task.temporaryPath, task.offset,
                                         task.length, cancel);
            return share_.CopyRequestToShare(task.request, cancel);
        });
    poolHost_ = LowerHost(host);
    poolLogon_ = PoolLogon{host, user, password};
    prefetch_ = pool_->Options().prefetchListings > 0 && pool_->Options().copiers > 0;
    // No copier starts here: on two cores the program loads of four copiers took the run's own
    // first requests 17-24 ms each, and a run of a few files needs none (its copies are made
    // here while no copier has logged on, see CopierPool::Take).
    return result;
}

bool PooledSmbShare::PoolReady(int copiers) {
    if (!pool_) return false;
    if (poolLogon_ && pool_->Started() < copiers) {
        // Started by the first copy queued (a few by the first listings asked for ahead): a run
        // that copies nothing (a differential run that finds no change) never pays for the
        // start and log-on of them all.
        pool_->Start(poolLogon_->host, poolLogon_->user, poolLogon_->password, copiers);
        if (pool_->Started() >= pool_->Options().copiers) {
            std::fill(poolLogon_->password.begin(), poolLogon_->password.end(), '\0');
            poolLogon_.reset();
        }
    }
    return true;
}

bool PooledSmbShare::PoolReadyForAnotherJob(int atLeast) {
    if (!pool_) return false;
    return PoolReady(std::min(pool_->Options().copiers,
                              std::max(atLeast, pool_->Serving() + pool_->Queued() + 1)));
}

bool PooledSmbShare::ToPoolHost(const std::string& path) const {
    DevicePath parsed;
    return pool_ && ParseDevicePath(path, parsed) && LowerHost(parsed.host) == poolHost_;
}

void PooledSmbShare::PrefetchListings(const std::vector<std::string>& folders) {
    if (!prefetch_ || folders.empty() || !ToPoolHost(folders.front())) return;
    if (!PoolReady(std::min(kListingCopiers, pool_->Options().copiers))) return;
    for (const std::string& folder : folders) {
        if (prefetched_.size() >= kListingsAhead) break;
        DevicePath parsed;
        if (!ToPoolHost(folder) || !ParseDevicePath(folder, parsed)) continue;
        const std::string key = FolderKey(parsed);
        if (prefetched_.count(key) != 0) continue;
        CopierTask task{CopyRequest{{}, folder, false}, {}, 0, 0};
        task.list = true;
        prefetched_.emplace(key, Prefetched{folder, pool_->Queue(task, nullptr)});
    }
}

void PooledSmbShare::ForgetListings(const std::string& path) {
    DevicePath parsed;
    if (prefetched_.empty() || !ParseDevicePath(path, parsed)) return;
    std::vector<CopyTicket> dropped;
    for (int level = 0; level < 2; ++level) {
        if (const auto found = prefetched_.find(FolderKey(parsed)); found != prefetched_.end()) {
            dropped.push_back(found->second.ticket);
            prefetched_.erase(found);
        }
        if (parsed.parts.empty()) break;
        parsed.parts.pop_back();
    }
    // One under way ends before the change is made: it must not list half of it.
    if (pool_ && !dropped.empty()) pool_->Withdraw(dropped);
}

IoResult<std::vector<ShareEntry>> PooledSmbShare::List(const std::string& folder,
                                                       const std::string& wildcard) {
    DevicePath parsed;
    const auto found = prefetched_.empty() || !ParseDevicePath(folder, parsed)
                           ? prefetched_.end()
                           : prefetched_.find(FolderKey(parsed));
    if (found == prefetched_.end() || found->second.folder != folder || !pool_)
        return share_.List(folder, wildcard);
    const CopyTicket ticket = found->second.ticket;
    prefetched_.erase(found);
    IoResult<std::vector<ShareEntry>> listed = pool_->TakeListing(ticket);
    // No copier made it (none left, one died, or the listing was too large for the pipe):
    // made here.
    if (listed.error == ENOTSUP || listed.error == EMSGSIZE || listed.error == EINVAL ||
        listed.error == EIO)
        return share_.List(folder, wildcard);
    if (IsConnectionLoss(listed.error)) share_.MarkConnectionLost();
    if (!listed) return listed;
    // The copier listed "*" (set-aside copies already put back), sorted by name.
    std::erase_if(listed.value,
                  [&](const ShareEntry& entry) { return !MatchWildcard(wildcard, entry.name); });
    return listed;
}

std::chrono::microseconds PooledSmbShare::MeasureRoundTrip(const std::string& host) {
    // A look-up of a name that is not there, in the tree the log-on connected (the share's
    // root, or IPC$): next to no file system work on the server, so what it takes is the link's
    // round trip plus the server's least time per request. The quickest of a few, since a busy
    // machine only ever adds to it; what it answers does not matter.
    constexpr int kProbes = 5;
    std::string name = host;
    while (!name.empty() && name.front() == '\\') name.erase(0, 1);
    const std::string probe = "\\\\" + name + "\\" + share_.LogOnTree(host) + "\\tessarine-probe";
    auto quickest = std::chrono::microseconds::max();
    for (int i = 0; i < kProbes; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const IoStatus looked = share_.Exists(probe);
        const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - start);
        quickest = std::min(quickest, took);
        if (IsConnectionLoss(looked.error)) break;
    }
    return quickest;
}

void PooledSmbShare::Cancel(const std::string& host) {
    if (pool_ && LowerHost(host) == poolHost_) {
        prefetched_.clear();
        pool_.reset();
        poolHost_.clear();
        poolLogon_.reset();
    }
    share_.Cancel(host);
}

CopyTicket PooledSmbShare::QueueCopyToShare(const CopyRequest& request,
                                            const std::atomic<int>* cancel) {
    ForgetListings(request.path);
    DevicePath target;
    if (pool_ && ParseDevicePath(request.path, target) && LowerHost(target.host) == poolHost_) {
        if (const CopyTicket striped = QueueStriped(request, cancel); striped != 0) return striped;
        PoolReadyForAnotherJob();
        return pool_->Queue(CopierTask{request, {}, 0, 0}, cancel);
    }
    return DeviceShare::QueueCopyToShare(request, cancel) | kLocalTicket;
}

CopyTicket PooledSmbShare::QueueStriped(const CopyRequest& request,
                                        const std::atomic<int>* cancel) {
    const CopierPoolOptions& options = pool_->Options();
    if (options.stripeThreshold == 0 || options.stripeRange == 0) return 0;
    struct stat source {};
    if (::stat(request.localPath.c_str(), &source) != 0 || !S_ISREG(source.st_mode)) return 0;
    const auto size = static_cast<std::uint64_t>(source.st_size);
    if (size < options.stripeThreshold) return 0;
    PoolReadyForAnotherJob(kStripingCopiers);
    if (pool_->Serving() < 2 || (cancel != nullptr && cancel->load() != 0)) return 0;
    // The temporary file is made by the first range that starts: queued copies take no room
    // on the device before a copier works on them.
    IoResult<std::string> begun = share_.BeginStripedCopy(request.path);
    if (!begun) return 0;
    StripedCopy copy{request, std::move(begun.value), size, {}};
    const CopyTicket ticket = nextStriped_++ | kStripedTicket;
    // Ranges of whole copy blocks, more than copiers, each copier taking the next one as it
    // comes free; they shrink towards the end (half of what is left over the writers, down to a
    // quarter of `stripeRange`), so the last ones end close together.
    constexpr std::uint64_t kAlign = std::uint64_t{1} << 20;
    const std::uint64_t writers = static_cast<std::uint64_t>(pool_->Serving()) + 1;
    const std::uint64_t largest = std::max(kAlign, options.stripeRange / kAlign * kAlign);
    const std::uint64_t smallest = std::max(kAlign, largest / 4 / kAlign * kAlign);
    for (std::uint64_t offset = 0; offset < size;) {
        const std::uint64_t share = (size - offset) / (2 * writers) / kAlign * kAlign;
        const std::uint64_t length = std::min(std::clamp(share, smallest, largest), size - offset);
        copy.ranges.push_back(
            pool_->Queue(CopierTask{request, copy.temporaryPath, offset, length, ticket}, cancel));
        offset += length;
    }
    striped_.emplace(ticket, std::move(copy));
    return ticket;
}

IoStatus PooledSmbShare::TakeStriped(CopyTicket ticket) {
    const auto found = striped_.find(ticket);
    if (found == striped_.end() || !pool_) return IoStatus{EINVAL};
    const StripedCopy copy = std::move(found->second);
    striped_.erase(found);
    // Every range is waited for: none may still write when the file is placed or removed.
    int error = 0;
    for (const CopyTicket range : copy.ranges) {
        const IoStatus written = pool_->Take(range);
        if (IsConnectionLoss(written.error)) share_.MarkConnectionLost();
        if (!written && (error == 0 || error == ECANCELED)) error = written.error;
    }
    IoStatus placed{error};
    if (error == 0)
        placed = share_.FinishStripedCopy(copy.request, copy.temporaryPath, copy.size);
    else
        // Nothing is asked of a server found gone: the next run's listing removes the file.
        share_.AbandonStripedCopy(copy.temporaryPath);
    pool_->Release(ticket);
    return placed;
}

CopyTicket PooledSmbShare::QueueCopyFromShare(const std::string& path, const std::string& localPath,
                                              const std::atomic<int>* cancel) {
    if (ToPoolHost(path) && PoolReadyForAnotherJob()) {
        CopierTask task{CopyRequest{localPath, path, false}, {}, 0, 0};
        task.fromShare = true;
        return pool_->Queue(task, cancel);
    }
    return DeviceShare::QueueCopyFromShare(path, localPath, cancel) | kLocalTicket;
}

IoStatus PooledSmbShare::TakeCopyResult(CopyTicket ticket) {
    if ((ticket & kLocalTicket) != 0) return DeviceShare::TakeCopyResult(ticket & ~kLocalTicket);
    if ((ticket & kStripedTicket) != 0) return TakeStriped(ticket);
    if (!pool_) return IoStatus{EINVAL};
    const IoStatus copied = pool_->Take(ticket);
    // What one connection to the server found holds for this process's connection as well:
    // it is not asked again (each request would wait a whole time-out).
    if (IsConnectionLoss(copied.error)) share_.MarkConnectionLost();
    return copied;
}

void PooledSmbShare::DropQueuedCopies() {
    DeviceShare::DropQueuedCopies();
    // A striped copy's ranges under way are withdrawn (each stops within one block) and waited
    // for, so that its temporary file can go: no cut copy is left beside the target.
    for (const auto& [ticket, copy] : striped_) {
        if (pool_) pool_->Withdraw(copy.ranges);
        share_.AbandonStripedCopy(copy.temporaryPath);
        if (pool_) pool_->Release(ticket);
    }
    striped_.clear();
    prefetched_.clear();
    if (pool_) pool_->DropQueued();
}

int PooledSmbShare::StartAllCopiers() {
    if (!PoolReady(pool_ ? pool_->Options().copiers : 0)) return 0;
    return pool_->AwaitLogons();
}

std::vector<pid_t> PooledSmbShare::CopierProcessIds() const {
    return pool_ ? pool_->CopierProcessIds() : std::vector<pid_t>{};
}

}  // namespace tessarine
