// The PC's fixed drives as a walk over every local file sees them: the roots to walk, in
// mount-path order, and every mount point of the system, so that a walk stays on the drive it
// started on. Tests give their own lists.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tessarine {

struct DriveLayout {
    // Mount paths of local block-device file systems on non-removable disks, sorted, one per
    // device.
    std::vector<std::string> fixedRoots;
    // Every mount path of the system, of any kind (pseudo file systems, removable and network
    // drives included).
    std::vector<std::string> mountPoints;
};

class FixedDriveList {
public:
    virtual ~FixedDriveList() = default;
    virtual DriveLayout Read() = 0;
};

// Whether the block device major:minor is (on) a removable disk.
using RemovableLookup = std::function<bool(unsigned major, unsigned minor)>;

// The layout described by the text of /proc/self/mountinfo. A fixed root is a mount whose
// source is a device node ("/dev/..."), whose device is not a loop device or removable, whose
// file system is not a pseudo, memory or disc-image one, and whose mount path is not below
// /proc, /sys, /dev or /run. Lines that cannot be read are passed over.
DriveLayout ParseMountInfo(std::string_view mountInfo, const RemovableLookup& isRemovable);

}  // namespace tessarine
