#include "platform/posix/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/app_log.h"
#include "platform/app_paths.h"

namespace tessarine {

LockResult SingleInstanceLock::Acquire(const std::string& lockFilePath) {
    if (fd_ >= 0) return LockResult::kAcquired;
    const int fd = open(lockFilePath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        LOG_ERROR("Open Lock File Error. Path:" + lockFilePath);
        return LockResult::kFailed;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // EWOULDBLOCK is the ordinary "another instance runs" case and stays silent.
        const bool busy = errno == EWOULDBLOCK;
        if (!busy) LOG_ERROR("Lock File Error. Path:" + lockFilePath);
        close(fd);
        return busy ? LockResult::kBusy : LockResult::kFailed;
    }
    fd_ = fd;
    path_ = lockFilePath;
    return LockResult::kAcquired;
}

void SingleInstanceLock::Release() {
    if (fd_ < 0) return;
    flock(fd_, LOCK_UN);
    close(fd_);
    fd_ = -1;
}

std::string SingleInstanceLock::LockFilePath(const std::string& folder, const std::string& title) {
    std::string path = folder;
    if (!path.empty() && path.back() != '/') path += '/';
    return path + title + ".lock";
}

std::string RuntimeFolderPath(const std::string& fallbackFolder) {
    std::string runtime;
    if (GetEnvironmentValue("XDG_RUNTIME_DIR", runtime) && !runtime.empty() &&
        runtime.front() == '/') {
        if (runtime.back() != '/') runtime += '/';
        return runtime;
    }
    return fallbackFolder;
}

}  // namespace tessarine
