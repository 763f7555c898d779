#include "platform/posix/pooled_smb_share.h"

#include <cctype>

#include "platform/unc_path.h"

namespace tessarine {

namespace {

std::string LowerHost(std::string host) {
    while (!host.empty() && host.front() == '\\') host.erase(0, 1);
    for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return host;
}

}  // namespace

PooledSmbShare::PooledSmbShare(CopierPoolOptions pool)
    : options_(std::move(pool)), share_(options_.port, options_.timeoutMs) {}

PooledSmbShare::~PooledSmbShare() = default;

int PooledSmbShare::Connect(const std::string& host, const std::string& user,
                            const std::string& password) {
    const int result = share_.Connect(host, user, password);
    if (result != kShareConnected || pool_ || options_.copiers <= 0 || options_.executable.empty())
        return result;
    pool_ = std::make_unique<CopierPool>(
        options_, [this](const CopyRequest& request, const std::atomic<int>* cancel) {
            return share_.CopyRequestToShare(request, cancel);
        });
    poolHost_ = LowerHost(host);
    pool_->Start(host, user, password);
    return result;
}

void PooledSmbShare::Cancel(const std::string& host) {
    if (pool_ && LowerHost(host) == poolHost_) {
        pool_.reset();
        poolHost_.clear();
    }
    share_.Cancel(host);
}

CopyTicket PooledSmbShare::QueueCopyToShare(const CopyRequest& request,
                                            const std::atomic<int>* cancel) {
    DevicePath target;
    if (pool_ && ParseDevicePath(request.path, target) && LowerHost(target.host) == poolHost_)
        return pool_->Queue(request, cancel);
    return DeviceShare::QueueCopyToShare(request, cancel) | kLocalTicket;
}

IoStatus PooledSmbShare::TakeCopyResult(CopyTicket ticket) {
    if ((ticket & kLocalTicket) != 0) return DeviceShare::TakeCopyResult(ticket & ~kLocalTicket);
    if (!pool_) return IoStatus{EINVAL};
    const IoStatus copied = pool_->Take(ticket);
    // What one connection to the server found holds for this process's connection as well:
    // it is not asked again (each request would wait a whole time-out).
    if (IsConnectionLoss(copied.error)) share_.MarkConnectionLost();
    return copied;
}

void PooledSmbShare::DropQueuedCopies() {
    DeviceShare::DropQueuedCopies();
    if (pool_) pool_->DropQueued();
}

std::vector<pid_t> PooledSmbShare::CopierProcessIds() const {
    return pool_ ? pool_->CopierProcessIds() : std::vector<pid_t>{};
}

}  // namespace tessarine
