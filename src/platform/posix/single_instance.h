// One running instance per user session: an exclusive flock on "<title>.lock", held for the
// process's life. The kernel drops the lock when the process ends, however it ends, so a crashed
// instance never blocks the next start.
#pragma once

#include <string>

namespace tessarine {

enum class LockResult {
    kAcquired,  // this object holds the lock
    kBusy,      // another holder has it: another instance runs
    kFailed,    // the lock file cannot be opened or locked (logged)
};

class SingleInstanceLock {
public:
    SingleInstanceLock() = default;
    ~SingleInstanceLock() { Release(); }
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // Opens (creating with mode 0600) the lock file and takes an exclusive lock without
    // waiting. Calling it again while holding the lock gives kAcquired.
    LockResult Acquire(const std::string& lockFilePath);
    // Drops the lock and closes the file; the file itself stays (removing it would let a third
    // process lock a fresh file while a second one still holds the old one).
    void Release();
    bool IsHeld() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

    // "<folder><title>.lock".
    static std::string LockFilePath(const std::string& folder, const std::string& title);

private:
    int fd_ = -1;
    std::string path_;
};

// The folder for the per-session runtime files (lock and control socket), with a trailing '/':
// $XDG_RUNTIME_DIR when it is set to an absolute path, else `fallbackFolder`.
std::string RuntimeFolderPath(const std::string& fallbackFolder);

}  // namespace tessarine
