// The reason a failed share or file-system call gives the user, from the error number the call
// returned (an IoStatus): the same error means different things for a copy, a new folder on the
// device, a deletion there and a read of this PC's folders.
#pragma once

#include "backup/backup_failure.h"

namespace tessarine {

FailureReason ClassifyCopyError(int error);
FailureReason ClassifyCreateFolderError(int error);
FailureReason ClassifyDeleteError(int error);
FailureReason ClassifyLocalReadError(int error);

}  // namespace tessarine
