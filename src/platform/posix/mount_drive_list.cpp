#include "platform/posix/mount_drive_list.h"

#include <fstream>
#include <sstream>
#include <string>

namespace tessarine {

namespace {

// "1" or "0"; false when the file is not there.
bool ReadFlag(const std::string& path, bool& value) {
    std::ifstream in(path);
    char c = 0;
    if (!(in >> c)) return false;
    value = c == '1';
    return true;
}

}  // namespace

bool IsRemovableBlockDevice(unsigned major, unsigned minor) {
    const std::string device =
        "/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    bool removable = false;
    // A whole disk has the flag itself; a partition's disk is the folder above it.
    if (ReadFlag(device + "/removable", removable)) return removable;
    if (ReadFlag(device + "/../removable", removable)) return removable;
    return false;
}

DriveLayout MountDriveList::Read() {
    std::ifstream in("/proc/self/mountinfo");
    std::stringstream text;
    text << in.rdbuf();
    return ParseMountInfo(text.str(), IsRemovableBlockDevice);
}

}  // namespace tessarine
