#include "backup/failure_reason.h"

#include <cerrno>

#include "platform/io_result.h"

namespace tessarine {
namespace {

// What every kind of request has in common; kUnknown when the error says nothing specific.
FailureReason ClassifyCommon(int error) {
    if (IsConnectionLoss(error)) return FailureReason::kConnectionLost;
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS:
            return FailureReason::kPermissionDenied;
        case ENOSPC:
        case EDQUOT:
            return FailureReason::kDeviceFull;
        case EINVAL:
        case EILSEQ:
        case ENAMETOOLONG:
            // The server answers a name it cannot hold (a reserved character, a name or path
            // too long) with "invalid name", which reaches us as one of these.
            return FailureReason::kNameRefused;
        default:
            return FailureReason::kUnknown;
    }
}

}  // namespace

FailureReason ClassifyCopyError(int error) {
    switch (error) {
        case EAGAIN:  // the source's size differed from the one it had when the copy began
            return FailureReason::kFileChanged;
        case ENOENT:
        case ENOTDIR:
            return FailureReason::kFileVanished;
        default:
            return ClassifyCommon(error);
    }
}

FailureReason ClassifyCreateFolderError(int error) {
    const FailureReason common = ClassifyCommon(error);
    return common == FailureReason::kUnknown ? FailureReason::kFolderNotCreated : common;
}

FailureReason ClassifyDeleteError(int error) {
    const FailureReason common = ClassifyCommon(error);
    if (common == FailureReason::kConnectionLost) return common;
    return FailureReason::kDeleteFailed;
}

FailureReason ClassifyLocalReadError(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return FailureReason::kFileVanished;
        case EACCES:
        case EPERM:
            return FailureReason::kPermissionDenied;
        default:
            return FailureReason::kSourceUnreadable;
    }
}

}  // namespace tessarine
