// The fixed drives of this machine, from /proc/self/mountinfo and the removable flags of
// /sys/dev/block.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/fixed_drive_list.h"

namespace tessarine {

class MountDriveList : public FixedDriveList {
public:
    DriveLayout Read() override;
};

// Chosen folders walked as the fixed drives (a support aid, the demo, benchmarks); the mount
// points still come from the mount table, so a walk stays on the mount it starts on.
class ChosenDriveList : public FixedDriveList {
public:
    explicit ChosenDriveList(std::vector<std::string> roots) : roots_(std::move(roots)) {}
    DriveLayout Read() override;

private:
    std::vector<std::string> roots_;
};

// The machine's fixed drives, or the folders TESSARINE_FIXED_DRIVES names (absolute paths
// separated by ':'). Entries that are not absolute are left out and described in `problem`.
std::shared_ptr<FixedDriveList> FixedDriveListFromEnvironment(std::string& problem);

// The removable flag of the disk that holds block device major:minor (the disk's own flag for
// a partition); false when it cannot be read.
bool IsRemovableBlockDevice(unsigned major, unsigned minor);

}  // namespace tessarine
