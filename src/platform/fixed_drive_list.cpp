#include "platform/fixed_drive_list.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <set>
#include <utility>

namespace tessarine {

namespace {

// File systems that are no disk of this PC's own: in memory, kernel views, disc images.
constexpr std::array<std::string_view, 20> kNonDiskTypes = {
    "tmpfs",   "devtmpfs", "ramfs",   "proc",   "sysfs",      "devpts", "cgroup",
    "cgroup2", "debugfs",  "tracefs", "mqueue", "securityfs", "pstore", "bpf",
    "overlay", "squashfs", "iso9660", "udf",    "fuse",       "autofs"};

constexpr std::array<std::string_view, 4> kPseudoTrees = {"/proc", "/sys", "/dev", "/run"};

constexpr unsigned kLoopMajor = 7;

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        const std::size_t end = line.find(' ', pos);
        const std::size_t stop = end == std::string_view::npos ? line.size() : end;
        if (stop > pos) fields.push_back(line.substr(pos, stop - pos));
        pos = stop + 1;
    }
    return fields;
}

// Mount paths escape space, tab, newline and backslash as \ooo.
std::string Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            const std::string_view digits = text.substr(i + 1, 3);
            if (std::all_of(digits.begin(), digits.end(),
                            [](char c) { return c >= '0' && c <= '7'; })) {
                out.push_back(
                    static_cast<char>(std::strtol(std::string(digits).c_str(), nullptr, 8)));
                i += 3;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

bool IsBelow(std::string_view path, std::string_view tree) {
    return path == tree || (path.size() > tree.size() && path.substr(0, tree.size()) == tree &&
                            path[tree.size()] == '/');
}

bool ParseDevice(std::string_view text, unsigned& major, unsigned& minor) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 >= text.size()) return false;
    const std::string majorText(text.substr(0, colon));
    const std::string minorText(text.substr(colon + 1));
    char* end = nullptr;
    major = static_cast<unsigned>(std::strtoul(majorText.c_str(), &end, 10));
    if (*end != '\0') return false;
    minor = static_cast<unsigned>(std::strtoul(minorText.c_str(), &end, 10));
    return *end == '\0';
}

}  // namespace

DriveLayout ParseMountInfo(std::string_view mountInfo, const RemovableLookup& isRemovable) {
    DriveLayout layout;
    std::vector<std::pair<std::string, std::pair<unsigned, unsigned>>> candidates;
    std::set<std::string> mountPoints;
    std::size_t pos = 0;
    while (pos < mountInfo.size()) {
        std::size_t end = mountInfo.find('\n', pos);
        if (end == std::string_view::npos) end = mountInfo.size();
        const std::vector<std::string_view> fields = SplitFields(mountInfo.substr(pos, end - pos));
        pos = end + 1;
        // id parent major:minor root mount-path options [optional...] - type source options
        const auto separator = std::find(fields.begin(), fields.end(), "-");
        if (fields.size() < 6 || separator == fields.end() || fields.end() - separator < 3 ||
            separator - fields.begin() < 6)
            continue;
        std::string mountPath = Unescape(fields[4]);
        if (mountPath.empty() || mountPath.front() != '/') continue;
        mountPoints.insert(mountPath);
        unsigned major = 0;
        unsigned minor = 0;
        if (!ParseDevice(fields[2], major, minor)) continue;
        const std::string_view type = separator[1];
        const std::string_view source = separator[2];
        if (major == 0 || major == kLoopMajor || source.substr(0, 5) != "/dev/") continue;
        if (std::find(kNonDiskTypes.begin(), kNonDiskTypes.end(), type) != kNonDiskTypes.end() ||
            type.substr(0, 5) == "fuse.")
            continue;
        if (std::any_of(kPseudoTrees.begin(), kPseudoTrees.end(),
                        [&](std::string_view tree) { return IsBelow(mountPath, tree); }))
            continue;
        if (isRemovable && isRemovable(major, minor)) continue;
        candidates.emplace_back(std::move(mountPath), std::make_pair(major, minor));
    }
    std::sort(candidates.begin(), candidates.end());
    std::set<std::pair<unsigned, unsigned>> devices;
    std::set<std::string> roots;
    for (auto& [path, device] : candidates) {
        // A device mounted twice (a bind mount) is walked from its first path only.
        if (!devices.insert(device).second || !roots.insert(path).second) continue;
        layout.fixedRoots.push_back(path);
    }
    layout.mountPoints.assign(mountPoints.begin(), mountPoints.end());
    return layout;
}

}  // namespace tessarine
