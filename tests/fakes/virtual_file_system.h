// A LocalFileSystem held in memory, for walks over trees and faults the disk cannot be made to
// show: a folder that breaks off while it is read, an entry whose status cannot be read, a
// source folder found on another mount. Paths are absolute, '/'-separated; a folder lists its
// entries in byte order.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/local_file_system.h"

namespace tessarine::testing {

class VirtualFileSystem : public LocalFileSystem {
public:
    // Adds (or replaces) a file, and every missing folder above it.
    void AddFile(const std::string& path, std::uint64_t size, std::time_t lastWriteTime);
    // Adds a folder, and every missing folder above it.
    void AddFolder(const std::string& path, std::time_t lastWriteTime = 0);
    // Takes in a real folder tree as it stands (names, kinds, sizes and times).
    void AddFromDisk(const std::string& folder);
    // Removes an entry and everything below it.
    void Remove(const std::string& path);

    // Opening the folder fails with `error`.
    void FailOpen(const std::string& folder, int error);
    // Reading the folder breaks off with `error` after its first `entries` entries.
    void FailReadAfter(const std::string& folder, std::size_t entries, int error);
    // The entry's status cannot be read: it is listed with `error` and nothing else.
    void FailStatus(const std::string& path, int error);
    // `path` and everything below it are on the mount rooted at `root` ("/" by default).
    void SetMountRoot(const std::string& path, const std::string& root);

    // Folders read so far, in order.
    std::vector<std::string> FoldersRead() const;

    LocalFolder ReadFolder(const std::string& path, FolderReadOptions options) override;
    IoResult<bool> IsFolder(const std::string& path) override;
    std::string MountRoot(const std::string& path) override;

private:
    struct Node {
        bool isFolder = false;
        std::uint64_t size = 0;
        std::time_t lastWriteTime = 0;
        int statusError = 0;
        int openError = 0;
        int readError = 0;
        std::size_t readErrorAfter = 0;
    };

    void AddParents(const std::string& path);

    mutable std::mutex mutex_;
    std::map<std::string, Node> nodes_;  // by path
    std::map<std::string, std::string> mountRoots_;
    std::vector<std::string> foldersRead_;
};

}  // namespace tessarine::testing
