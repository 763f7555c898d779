#include "fakes/virtual_file_system.h"

#include <cerrno>
#include <filesystem>

#include "fakes/test_support.h"

namespace tessarine::testing {

namespace {

std::string Normalised(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string ParentOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return path.substr(0, slash);
}

bool IsBelow(const std::string& path, const std::string& folder) {
    if (path == folder) return true;
    const std::string prefix = folder == "/" ? "/" : folder + "/";
    return path.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

void VirtualFileSystem::AddParents(const std::string& path) {
    for (std::string parent = ParentOf(path); nodes_.count(parent) == 0;
         parent = ParentOf(parent)) {
        nodes_[parent].isFolder = true;
        if (parent == "/") break;
    }
}

void VirtualFileSystem::AddFile(const std::string& path, std::uint64_t size,
                                std::time_t lastWriteTime) {
    std::lock_guard lock(mutex_);
    const std::string key = Normalised(path);
    AddParents(key);
    nodes_[key] = Node{false, size, lastWriteTime};
}

void VirtualFileSystem::AddFolder(const std::string& path, std::time_t lastWriteTime) {
    std::lock_guard lock(mutex_);
    const std::string key = Normalised(path);
    AddParents(key);
    Node& node = nodes_[key];
    node.isFolder = true;
    node.lastWriteTime = lastWriteTime;
}

void VirtualFileSystem::AddFromDisk(const std::string& folder) {
    namespace fs = std::filesystem;
    AddFolder(folder, ModifiedTime(folder));
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string path = entry.path().string();
        if (entry.is_directory())
            AddFolder(path, ModifiedTime(path));
        else if (entry.is_regular_file())
            AddFile(path, entry.file_size(), ModifiedTime(path));
    }
}

void VirtualFileSystem::Remove(const std::string& path) {
    std::lock_guard lock(mutex_);
    const std::string key = Normalised(path);
    for (auto it = nodes_.lower_bound(key); it != nodes_.end() && IsBelow(it->first, key);)
        it = nodes_.erase(it);
}

void VirtualFileSystem::FailOpen(const std::string& folder, int error) {
    std::lock_guard lock(mutex_);
    nodes_[Normalised(folder)].openError = error;
}

void VirtualFileSystem::FailReadAfter(const std::string& folder, std::size_t entries, int error) {
    std::lock_guard lock(mutex_);
    Node& node = nodes_[Normalised(folder)];
    node.readError = error;
    node.readErrorAfter = entries;
}

void VirtualFileSystem::FailStatus(const std::string& path, int error) {
    std::lock_guard lock(mutex_);
    nodes_[Normalised(path)].statusError = error;
}

void VirtualFileSystem::SetMountRoot(const std::string& path, const std::string& root) {
    std::lock_guard lock(mutex_);
    mountRoots_[Normalised(path)] = root;
}

std::vector<std::string> VirtualFileSystem::FoldersRead() const {
    std::lock_guard lock(mutex_);
    return foldersRead_;
}

LocalFolder VirtualFileSystem::ReadFolder(const std::string& path, FolderReadOptions) {
    std::lock_guard lock(mutex_);
    const std::string key = Normalised(path);
    foldersRead_.push_back(key);
    LocalFolder folder;
    const auto found = nodes_.find(key);
    if (found == nodes_.end()) {
        folder.openError = ENOENT;
        return folder;
    }
    const Node& self = found->second;
    if (!self.isFolder) {
        folder.openError = ENOTDIR;
        return folder;
    }
    if (self.openError != 0) {
        folder.openError = self.openError;
        return folder;
    }
    const std::string prefix = key == "/" ? "/" : key + "/";
    for (auto it = nodes_.upper_bound(prefix); it != nodes_.end() && IsBelow(it->first, key);
         ++it) {
        const std::string name = it->first.substr(prefix.size());
        if (name.find('/') != std::string::npos) continue;  // deeper down
        if (self.readError != 0 && folder.entries.size() == self.readErrorAfter) {
            folder.readError = self.readError;
            break;
        }
        LocalEntry entry;
        entry.name = name;
        if (it->second.statusError != 0) {
            entry.statusError = it->second.statusError;
        } else {
            entry.isFolder = it->second.isFolder;
            entry.size = entry.isFolder ? 0 : it->second.size;
            entry.lastWriteTime = it->second.lastWriteTime;
        }
        folder.entries.push_back(std::move(entry));
    }
    if (self.readError != 0 && folder.entries.size() == self.readErrorAfter)
        folder.readError = self.readError;
    return folder;
}

IoResult<bool> VirtualFileSystem::IsFolder(const std::string& path) {
    std::lock_guard lock(mutex_);
    const auto found = nodes_.find(Normalised(path));
    if (found == nodes_.end()) return {false, ENOENT};
    if (found->second.statusError != 0) return {false, found->second.statusError};
    return {found->second.isFolder, 0};
}

std::string VirtualFileSystem::MountRoot(const std::string& path) {
    std::lock_guard lock(mutex_);
    std::string key = Normalised(path);
    if (nodes_.count(key) == 0) return "";
    // The closest folder with a root of its own.
    for (;; key = ParentOf(key)) {
        if (const auto found = mountRoots_.find(key); found != mountRoots_.end())
            return found->second;
        if (key == "/") return "/";
    }
}

}  // namespace tessarine::testing
