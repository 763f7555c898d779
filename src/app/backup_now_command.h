// TessarineTool --backup-now [--wait]: asks the running instance for a backup through the
// control socket ("RUN Backup"; see app/backup_run_reporter.h), or learns that one is going.
// With --wait it prints the run's progress (a bar on a terminal, plain lines otherwise) and ends
// with the run's result code.
#pragma once

#include <cstdio>
#include <string>

namespace tessarine {

// Exit codes. With --wait, 0-2 are the run's result code; without, 0 says the run was started
// or is going.
inline constexpr int kBackupNowExitSuccess = 0;
inline constexpr int kBackupNowExitUnreachable = 1;  // the device was not reached
inline constexpr int kBackupNowExitFailed = 2;       // something was not backed up
inline constexpr int kBackupNowExitNoInstance = 3;   // no instance of the program runs
// No result: a settings change or a restore holds the backup, the instance refused or ended,
// the settings were unusable, or no run began.
inline constexpr int kBackupNowExitNoResult = 4;
inline constexpr int kBackupNowExitUsage = 64;

// The usage lines of the option, for the program's usage text.
extern const char* const kBackupNowUsage;

// `argv` holds the arguments after "--backup-now".
int RunBackupNowCommand(int argc, char** argv);

// The request to the instance listening in `folder` under `title`; messages to `out` and
// `err`. A bar is drawn only when `terminal`.
int RequestBackup(const std::string& folder, const std::string& title, bool wait, bool terminal,
                  std::FILE* out, std::FILE* err);

}  // namespace tessarine
