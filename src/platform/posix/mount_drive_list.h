// The fixed drives of this machine, from /proc/self/mountinfo and the removable flags of
// /sys/dev/block.
#pragma once

#include "platform/fixed_drive_list.h"

namespace tessarine {

class MountDriveList : public FixedDriveList {
public:
    DriveLayout Read() override;
};

// The removable flag of the disk that holds block device major:minor (the disk's own flag for
// a partition); false when it cannot be read.
bool IsRemovableBlockDevice(unsigned major, unsigned minor);

}  // namespace tessarine
