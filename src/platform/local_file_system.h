// The local disk as a walk over folders sees it: folders read whole, the kind of a path and the
// mount that holds it. The backup walks its source folders through this, and so can any other
// walker; tests give it a virtual file system instead.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/io_result.h"

namespace tessarine {

// One entry of a local folder.
struct LocalEntry {
    std::string name;  // without the folder
    bool isFolder = false;
    std::uint64_t size = 0;  // 0 for a folder
    std::time_t lastWriteTime = 0;
    int statusError = 0;  // errno when the entry's status could not be read (nothing else known)
};

struct LocalFolder {
    int openError = 0;                // errno when the folder could not be opened (no entries then)
    int readError = 0;                // errno when reading broke off after `entries`
    std::vector<LocalEntry> entries;  // in the order the file system lists them
};

struct FolderReadOptions {
    // The folder itself may be reached through a link (a configured source folder); folders a
    // walk found are opened only as what they were found to be.
    bool followLink = false;
    // Names and kinds only (a count): size and time stay 0 where the kind is known without
    // reading the entry's status, and a link whose target cannot be read is passed over.
    bool kindsOnly = false;
    // With kindsOnly: the files whose names this accepts still get their size and time (a walk
    // that needs them for a few names only).
    std::function<bool(std::string_view name)> statusFor = nullptr;
};

class LocalFileSystem {
public:
    virtual ~LocalFileSystem() = default;

    // Reads a folder whole. Listed are regular files (also through a link) and folders (never
    // through a link, so a walk cannot loop); pipes, sockets, devices, dangling links, links to
    // folders and entries that vanished since they were listed are passed over.
    virtual LocalFolder ReadFolder(const std::string& path, FolderReadOptions options) = 0;
    // Whether `path` (links followed) is a folder; the stat error otherwise.
    virtual IoResult<bool> IsFolder(const std::string& path) = 0;
    // The root of the mounted file system that holds `path` ("/", "/media/u/disk"); "" when
    // the path cannot be resolved. A disk that is not mounted shows as another root.
    virtual std::string MountRoot(const std::string& path) = 0;
};

}  // namespace tessarine
