// Creating the program's folders one level at a time, with a few patient retries (a folder can
// be briefly unavailable while a virus scanner or an indexer holds its parent).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

#include "platform/clock.h"

namespace tessarine {

enum class FolderResult {
    kExisted,  // the folder was already there and was left alone
    kCreated,  // the folder was made by this call
    kFailed,   // it could not be made, or something other than a folder holds the name
};

inline constexpr int kFolderCreateAttempts = 3;
inline constexpr std::chrono::milliseconds kFolderRetryPause{500};

// Makes sure `path` is a folder. Its parent must exist: parents are never created here. A
// missing folder is created with up to `attempts` tries, sleeping `pause` on `clock` after each
// failed try. Every failure is logged.
FolderResult EnsureFolder(const std::string& path, Clock& clock,
                          int attempts = kFolderCreateAttempts,
                          std::chrono::milliseconds pause = kFolderRetryPause, mode_t mode = 0755);

// Empty when `path` is a folder owned by the running user that neither group nor others may
// write in; otherwise what is wrong with it, as a sentence for a message.
std::string CheckPrivateFolder(const std::string& path);

}  // namespace tessarine
