// Why one entry of a backup run failed: a kind the result window turns into a sentence of the
// string table, plus the one name or path that sentence needs (the other name of a letter-case
// clash, the missing destination folder).
#pragma once

#include <string>

namespace tessarine {

// Stored by number beside the detail result file: append new kinds, never renumber.
enum class FailureReason : int {
    kUnknown = 0,
    kNameRefused = 1,          // the share would not take the name (characters, length)
    kCaseClash = 2,            // another entry differs only in letter case (detail: its name)
    kDestinationMissing = 3,   // the pair's destination folder is not on the device (detail)
    kPermissionDenied = 4,     // refused by the device or by this PC's file permissions
    kConnectionLost = 5,       // the device stopped answering
    kFileChanged = 6,          // the file changed while it was copied
    kSourceMissing = 7,        // the pair's source folder is not there
    kDestinationNotSet = 8,    // the pair has no destination
    kSourceUnreadable = 9,     // a folder or file of this PC could not be read
    kDeviceFull = 10,          // no room left on the device
    kNotRecorded = 11,         // copied, but the file list could not be written
    kMirroringHeldBack = 12,   // mirroring would have deleted every copy: nothing deleted
    kSourceMountChanged = 13,  // the source is on another disk than before: nothing deleted
    kDeleteFailed = 14,        // the copy of a deleted entry could not be deleted
    kFileVanished = 15,        // the entry disappeared before or while it was copied
    kFolderNotCreated = 16,    // the folder could not be made on the device
};

// The largest kind a stored file may carry; anything else reads as kUnknown.
inline constexpr int kLastFailureReason = static_cast<int>(FailureReason::kFolderNotCreated);

struct BackupFailure {
    std::string path;
    FailureReason reason = FailureReason::kUnknown;
    std::string detail;  // empty when the reason needs none
};

}  // namespace tessarine
