#include "platform/posix/folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/app_log.h"
#include "base/string_utility.h"

namespace tessarine {

namespace {

enum class Probe { kFolder, kMissing, kOther };

Probe ProbePath(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return errno == ENOENT ? Probe::kMissing : Probe::kOther;
    return S_ISDIR(info.st_mode) ? Probe::kFolder : Probe::kOther;
}

}  // namespace

FolderResult EnsureFolder(const std::string& path, Clock& clock, int attempts,
                          std::chrono::milliseconds pause, mode_t mode) {
    if (path.empty()) {
        LOG_ERROR("Folder Path Empty.");
        return FolderResult::kFailed;
    }
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        switch (ProbePath(path)) {
            case Probe::kFolder:
                return FolderResult::kExisted;
            case Probe::kOther:
                // A file (or an entry we may not inspect) holds the name; retrying cannot help.
                LOG_ERROR("Not A Folder. Path:" + path);
                return FolderResult::kFailed;
            case Probe::kMissing:
                break;
        }
        if (mkdir(path.c_str(), mode) == 0) {
            LOG_TRACE("Folder Created. Path:" + path);
            return FolderResult::kCreated;
        }
        if (errno == EEXIST && ProbePath(path) == Probe::kFolder) {
            return FolderResult::kExisted;  // made by someone else in the meantime
        }
        LOG_ERROR(Format("Create Folder Error. Attempt:%d Path:", attempt) + path);
        if (attempt < attempts) clock.Sleep(pause);
    }
    return FolderResult::kFailed;
}

std::string CheckPrivateFolder(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return "It cannot be inspected.";
    if (!S_ISDIR(info.st_mode)) return "It is not a folder.";
    if (info.st_uid != geteuid()) {
        return Format("It belongs to user %u, not to the running user %u.",
                      static_cast<unsigned>(info.st_uid), static_cast<unsigned>(geteuid()));
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return Format("It is writable by group or others (mode %04o).",
                      static_cast<unsigned>(info.st_mode & 07777));
    }
    return std::string();
}

}  // namespace tessarine
