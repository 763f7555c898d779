#include "platform/posix/local_share.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "platform/posix/local_file_ops.h"
#include "platform/share_name.h"
#include "platform/unc_path.h"
#include "platform/wildcard.h"

namespace tessarine {

LocalShare::LocalShare(std::string root) : root_(std::move(root)) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

std::string LocalShare::ResolveName(const std::string& folder, const std::string& name) const {
    if (!foldCase_) return name;
    struct stat info {};
    const std::string exact = folder + "/" + name;
    if (::lstat(exact.c_str(), &info) == 0) return name;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return name;
    const std::string wanted = FoldShareName(name);
    std::string found = name;
    while (const struct dirent* entry = ::readdir(dir)) {
        if (FoldShareName(entry->d_name) == wanted) {
            found = entry->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

IoStatus LocalShare::MapPath(const std::string& path, std::string& localPath) const {
    DevicePath parsed;
    if (!ParseDevicePath(path, parsed) || parsed.share.empty()) return IoStatus{EINVAL};
    localPath = root_;
    auto append = [&](const std::string& name) {
        const std::string resolved = ResolveName(localPath, name);
        localPath += '/';
        localPath += resolved;
    };
    append(parsed.share);
    for (const auto& part : parsed.parts) append(part);
    return {};
}

IoStatus LocalShare::MapParent(const std::string& path, std::string& folder,
                               std::string& name) const {
    DevicePath parsed;
    if (!ParseDevicePath(path, parsed) || parsed.share.empty() || parsed.parts.empty())
        return IoStatus{EINVAL};
    name = parsed.parts.back();
    parsed.parts.pop_back();
    return MapPath(ToUncPath(parsed), folder);
}

int LocalShare::Connect(const std::string& host, const std::string&, const std::string&) {
    if (connectResult_) return *connectResult_;
    DevicePath parsed;
    if (!ParseDevicePath("\\\\" + host, parsed)) return EINVAL;
    struct stat info {};
    if (::stat(root_.c_str(), &info) != 0) return errno;
    if (!S_ISDIR(info.st_mode)) return ENOTDIR;
    return kShareConnected;
}

void LocalShare::Cancel(const std::string&) {}

IoStatus LocalShare::CreateFolder(const std::string& path) {
    std::string local;
    if (const IoStatus mapped = MapPath(path, local); !mapped) return mapped;
    if (::mkdir(local.c_str(), 0777) != 0) return IoFailure(errno);
    return {};
}

IoStatus LocalShare::Exists(const std::string& path) {
    std::string local;
    if (const IoStatus mapped = MapPath(path, local); !mapped) return mapped;
    struct stat info {};
    if (::stat(local.c_str(), &info) != 0) return IoFailure(errno);
    return {};
}

IoResult<bool> LocalShare::IsFolder(const std::string& path) {
    std::string local;
    if (const IoStatus mapped = MapPath(path, local); !mapped) return {false, mapped.error};
    struct stat info {};
    if (::stat(local.c_str(), &info) != 0) return {false, IoFailure(errno).error};
    return {S_ISDIR(info.st_mode), 0};
}

IoResult<bool> LocalShare::IsReadOnly(const std::string& path) {
    std::string local;
    if (const IoStatus mapped = MapPath(path, local); !mapped) return {false, mapped.error};
    struct stat info {};
    if (::stat(local.c_str(), &info) != 0) return {false, IoFailure(errno).error};
    return {(info.st_mode & S_IWUSR) == 0, 0};
}

IoStatus LocalShare::SetReadOnly(const std::string& path, bool readOnly) {
    std::string local;
    if (const IoStatus mapped = MapPath(path, local); !mapped) return mapped;
    struct stat info {};
    if (::stat(local.c_str(), &info) != 0) return IoFailure(errno);
    const mode_t mode =
        readOnly ? (info.st_mode & ~mode_t{S_IWUSR | S_IWGRP | S_IWOTH}) : (info.st_mode | S_IWUSR);
    if ((mode & 07777) == (info.st_mode & 07777)) return {};
    if (::chmod(local.c_str(), mode & 07777) != 0) return IoFailure(errno);
    return {};
}

IoStatus LocalShare::ClearReadOnly(const std::string& path) { return SetReadOnly(path, false); }

IoStatus LocalShare::CopyToShare(const std::string& localPath, const std::string& path,
                                 const std::atomic<int>* cancel) {
    std::string folder;
    std::string name;
    if (const IoStatus mapped = MapParent(path, folder, name); !mapped) return mapped;
    // Under the case rule a file whose name differs only in case is the target: the copy
    // replaces it under the new name, as the device's rename into place does.
    const std::string existing = ResolveName(folder, name);
    if (existing != name) {
        if (const int error = posix::CheckLocalTarget(folder + "/" + existing); error != 0)
            return IoFailure(error);
    }
    if (const int error = posix::CopyLocalFile(localPath, folder + "/" + name, cancel,
                                               blockObserver_, CopySender());
        error != 0)
        return IoFailure(error);
    if (existing != name) ::unlink((folder + "/" + existing).c_str());
    return {};
}

IoStatus LocalShare::CopyFromShare(const std::string& path, const std::string& localPath,
                                   const std::atomic<int>* cancel) {
    std::string local;
    if (const IoStatus mapped = MapPath(path, local); !mapped) return mapped;
    if (const int error = posix::CopyLocalFile(local, localPath, cancel, blockObserver_);
        error != 0)
        return IoFailure(error);
    return {};
}

IoStatus LocalShare::ReserveName(const std::string& path) {
    std::string folder;
    std::string name;
    if (const IoStatus mapped = MapParent(path, folder, name); !mapped) return mapped;
    // Under the case rule a name differing only in case is taken as well.
    if (ResolveName(folder, name) != name) return IoStatus{EEXIST};
    const int fd =
        ::open((folder + "/" + name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return IoFailure(errno);
    ::close(fd);
    return {};
}

IoStatus LocalShare::DeleteFile(const std::string& path) {
    std::string local;
    if (const IoStatus mapped = MapPath(path, local); !mapped) return mapped;
    struct stat info {};
    if (::lstat(local.c_str(), &info) != 0) return IoFailure(errno);
    if (S_ISDIR(info.st_mode)) return IoStatus{EISDIR};
    if (::unlink(local.c_str()) != 0) return IoFailure(errno);
    return {};
}

IoStatus LocalShare::RemoveFolder(const std::string& path) {
    std::string local;
    if (const IoStatus mapped = MapPath(path, local); !mapped) return mapped;
    if (::rmdir(local.c_str()) != 0) return IoFailure(errno);
    return {};
}

IoStatus LocalShare::Rename(const std::string& path, const std::string& newPath) {
    std::string from;
    std::string folder;
    std::string name;
    if (const IoStatus mapped = MapPath(path, from); !mapped) return mapped;
    if (const IoStatus mapped = MapParent(newPath, folder, name); !mapped) return mapped;
    const std::string to = folder + "/" + name;
    if (from == to) return {};
    const std::string existing = folder + "/" + ResolveName(folder, name);
    // Another entry under the new name (a change of case only is no clash).
    struct stat fromInfo {};
    struct stat toInfo {};
    if (::lstat(existing.c_str(), &toInfo) == 0 &&
        (::lstat(from.c_str(), &fromInfo) != 0 || fromInfo.st_ino != toInfo.st_ino ||
         fromInfo.st_dev != toInfo.st_dev))
        return IoStatus{EEXIST};
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0)
        return IoFailure(errno);
    return {};
}

IoResult<std::vector<ShareEntry>> LocalShare::List(const std::string& folder,
                                                   const std::string& wildcard) {
    IoResult<std::vector<ShareEntry>> result;
    std::string local;
    if (const IoStatus mapped = MapPath(folder, local); !mapped) {
        result.error = mapped.error;
        return result;
    }
    DIR* dir = ::opendir(local.c_str());
    if (dir == nullptr) {
        result.error = IoFailure(errno).error;
        return result;
    }
    std::vector<ShareEntry>& entries = result.value;
    const int dirFd = ::dirfd(dir);
    int readError = 0;
    for (;;) {
        errno = 0;
        const struct dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            readError = errno;
            break;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (!MatchWildcard(wildcard, name)) continue;
        struct stat info {};
        // An entry that vanished since readdir, or a dangling link, is not listed.
        if (::fstatat(dirFd, entry->d_name, &info, 0) != 0) continue;
        ShareEntry shareEntry;
        shareEntry.name = std::string(name);
        shareEntry.isFolder = S_ISDIR(info.st_mode);
        shareEntry.size = shareEntry.isFolder ? 0 : static_cast<std::uint64_t>(info.st_size);
        shareEntry.lastWriteTime = info.st_mtim.tv_sec;
        entries.push_back(std::move(shareEntry));
    }
    ::closedir(dir);
    if (readError != 0) {
        entries.clear();
        result.error = readError;
        return result;
    }
    std::sort(entries.begin(), entries.end(),
              [](const ShareEntry& a, const ShareEntry& b) { return a.name < b.name; });
    return result;
}

}  // namespace tessarine
