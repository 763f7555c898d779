#include "platform/posix/mount_drive_list.h"

#include <cstdlib>
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

DriveLayout ChosenDriveList::Read() {
    DriveLayout layout = MountDriveList().Read();
    layout.fixedRoots = roots_;
    return layout;
}

std::shared_ptr<FixedDriveList> FixedDriveListFromEnvironment(std::string& problem) {
    problem.clear();
    const char* value = std::getenv("TESSARINE_FIXED_DRIVES");
    if (value == nullptr || *value == '\0') return std::make_shared<MountDriveList>();
    std::vector<std::string> roots;
    std::string text = value;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find(':', pos);
        if (end == std::string::npos) end = text.size();
        const std::string root = text.substr(pos, end - pos);
        if (!root.empty() && root.front() == '/') {
            roots.push_back(root);
        } else if (!root.empty()) {
            problem += "TESSARINE_FIXED_DRIVES: not an absolute path: " + root + ". ";
        }
        pos = end + 1;
    }
    return std::make_shared<ChosenDriveList>(std::move(roots));
}

}  // namespace tessarine
