#include "platform/posix/posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace tessarine {

namespace {

// Null with errno set on failure.
DIR* OpenFolder(const std::string& path, bool followLink) {
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) return nullptr;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return dir;
}

// Pipes, sockets and devices are no files to back up (reading a pipe would block).
bool IsSpecialFile(unsigned char type) {
    return type == DT_FIFO || type == DT_SOCK || type == DT_CHR || type == DT_BLK;
}

enum class Kind { kSkip, kFile, kFolder, kError };

// The kind of one listed entry, links resolved as the walk wants them; `status` is filled
// unless the kind came from the listing alone (kinds only).
Kind Classify(int dirFd, const dirent& item, const FolderReadOptions& options, struct stat& status,
              int& error) {
    const bool kindsOnly = options.kindsOnly;
    if (kindsOnly && item.d_type == DT_DIR) return Kind::kFolder;
    if (kindsOnly && item.d_type == DT_REG &&
        !(options.statusFor && options.statusFor(item.d_name)))
        return Kind::kFile;
    if (::fstatat(dirFd, item.d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return Kind::kSkip;  // gone since it was listed
        error = errno != 0 ? errno : EIO;
        return Kind::kError;
    }
    if (S_ISLNK(status.st_mode)) {
        if (::fstatat(dirFd, item.d_name, &status, 0) != 0) {
            // A dangling link; a count passes over any link it cannot follow.
            if (errno == ENOENT || kindsOnly) return Kind::kSkip;
            error = errno != 0 ? errno : EIO;
            return Kind::kError;
        }
        if (!S_ISREG(status.st_mode)) return Kind::kSkip;  // a link to a folder is not followed
    }
    if (S_ISREG(status.st_mode)) return Kind::kFile;
    if (S_ISDIR(status.st_mode)) return Kind::kFolder;
    return Kind::kSkip;
}

}  // namespace

LocalFolder PosixFileSystem::ReadFolder(const std::string& path, FolderReadOptions options) {
    LocalFolder folder;
    DIR* dir = OpenFolder(path, options.followLink);
    if (dir == nullptr) {
        folder.openError = errno != 0 ? errno : EIO;
        return folder;
    }
    const int dirFd = ::dirfd(dir);
    for (;;) {
        errno = 0;
        const dirent* item = ::readdir(dir);
        if (item == nullptr) {
            folder.readError = errno;
            break;
        }
        const std::string_view name(item->d_name);
        if (name == "." || name == ".." || IsSpecialFile(item->d_type)) continue;
        struct stat status {};
        int error = 0;
        const Kind kind = Classify(dirFd, *item, options, status, error);
        if (kind == Kind::kSkip) continue;
        LocalEntry entry;
        entry.name = name;
        if (kind == Kind::kError) {
            entry.statusError = error;
        } else {
            entry.isFolder = kind == Kind::kFolder;
            entry.lastWriteTime = status.st_mtime;
            entry.size = entry.isFolder ? 0 : static_cast<std::uint64_t>(status.st_size);
        }
        folder.entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    return folder;
}

IoResult<bool> PosixFileSystem::IsFolder(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return {false, IoFailure(errno).error};
    return {S_ISDIR(status.st_mode), 0};
}

std::string PosixFileSystem::MountRoot(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return "";
    std::string current = resolved;
    struct stat status {};
    if (::stat(current.c_str(), &status) != 0) return "";
    const dev_t device = status.st_dev;
    while (current != "/") {
        const std::size_t slash = current.find_last_of('/');
        const std::string parent = slash == 0 ? "/" : current.substr(0, slash);
        if (::stat(parent.c_str(), &status) != 0 || status.st_dev != device) break;
        current = parent;
    }
    return current;
}

}  // namespace tessarine
