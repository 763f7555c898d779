#include "platform/device_share.h"

namespace tessarine {

CopyTicket DeviceShare::QueueCopyToShare(const CopyRequest& request,
                                         const std::atomic<int>* cancel) {
    const CopyTicket ticket = nextTicket_++;
    queuedCopies_.emplace(ticket, QueuedCopy{request, cancel});
    return ticket;
}

IoStatus DeviceShare::TakeCopyResult(CopyTicket ticket) {
    const auto found = queuedCopies_.find(ticket);
    if (found == queuedCopies_.end()) return IoStatus{EINVAL};
    const QueuedCopy copy = std::move(found->second);
    queuedCopies_.erase(found);
    return CopyToShare(copy.request.localPath, copy.request.path, copy.cancel);
}

void DeviceShare::DropQueuedCopies() { queuedCopies_.clear(); }

}  // namespace tessarine
