// TessarineTool --restore [--pair N] [--to DIR] [--dry-run] [--overwrite] [PATH...]: brings the
// device copies of the backup pairs back (see backup/restore_engine.h), printing progress and a
// summary. It logs on to the device itself and reads the file list through a read-only
// connection; it holds the single-instance lock meanwhile, so no backup (and no mirroring) can
// run beside it.
#pragma once

namespace tessarine {

inline constexpr int kRestoreExitComplete = 0;     // everything asked for restored or equal
inline constexpr int kRestoreExitIncomplete = 1;   // something skipped, failed or cancelled
inline constexpr int kRestoreExitUnavailable = 2;  // device unreachable, settings unusable
inline constexpr int kRestoreExitUsage = 64;

// The usage lines of the option, for the program's usage text.
extern const char* const kRestoreUsage;

// `argv` holds the arguments after "--restore".
int RunRestoreCommand(int argc, char** argv);

}  // namespace tessarine
