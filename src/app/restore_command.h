// TessarineTool --restore [--pair N] [--to DIR] [--dry-run] [--overwrite] [PATH...]: brings the
// device copies of the backup pairs back (see backup/restore_engine.h), printing progress and a
// summary. It logs on to the device itself and reads the file list through a read-only
// connection. No backup (and so no mirroring) runs beside it: with no instance running it holds
// the single-instance lock, else it holds the instance's backup running flag through the
// control socket (refused while a backup or a settings change runs).
#pragma once

namespace tessarine {

inline constexpr int kRestoreExitComplete = 0;     // everything asked for restored or equal
inline constexpr int kRestoreExitIncomplete = 1;   // something skipped, failed or cancelled
inline constexpr int kRestoreExitUnavailable = 2;  // device unreachable, settings unusable,
                                                   // a backup running
inline constexpr int kRestoreExitUsage = 64;

// The usage lines of the option, for the program's usage text.
extern const char* const kRestoreUsage;

// The claim a restore asks of a running instance: its backup running flag.
inline constexpr char kBackupRunningClaim[] = "BackupRunning";

// `argv` holds the arguments after "--restore".
int RunRestoreCommand(int argc, char** argv);

}  // namespace tessarine
