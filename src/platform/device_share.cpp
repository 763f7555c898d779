#include "platform/device_share.h"

#include <cerrno>

namespace tessarine {

CopyTicket DeviceShare::QueueCopyToShare(const CopyRequest& request,
                                         const std::atomic<int>* cancel) {
    const CopyTicket ticket = nextTicket_++;
    queuedCopies_.emplace(ticket, QueuedCopy{request, cancel});
    return ticket;
}

CopyTicket DeviceShare::QueueCopyFromShare(const std::string& path, const std::string& localPath,
                                           const std::atomic<int>* cancel) {
    const CopyTicket ticket = nextTicket_++;
    queuedCopies_.emplace(ticket, QueuedCopy{CopyRequest{localPath, path, false}, cancel, true});
    return ticket;
}

IoStatus DeviceShare::TakeCopyResult(CopyTicket ticket) {
    const auto found = queuedCopies_.find(ticket);
    if (found == queuedCopies_.end()) return IoStatus{EINVAL};
    const QueuedCopy copy = std::move(found->second);
    queuedCopies_.erase(found);
    if (copy.fromShare)
        return CopyFromShare(copy.request.path, copy.request.localPath, copy.cancel);
    return CopyToShare(copy.request.localPath, copy.request.path, copy.cancel);
}

void DeviceShare::DropQueuedCopies() { queuedCopies_.clear(); }

IoStatus DeviceShare::ReserveName(const std::string&) { return IoStatus{ENOSYS}; }

}  // namespace tessarine
