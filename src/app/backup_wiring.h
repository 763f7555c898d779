// Joins the backup subsystem to the application: the file-list database in start-up and the
// backup scheduler (with its executor on the device share) as the first long-lived worker.
#pragma once

#include <string>

namespace tessarine {

class CBackupUtilityApp;
class CommandRunner;

// `copierProgram`: the program to start as the share's copier processes (this program, which
// must then handle kShareCopierOption); empty: every copy is made in-process.
// `shutdownRunner`: runs the shutdown command after a backup before shutdown (the tray program);
// null: no run asks about or performs a shutdown (the headless program).
void WireBackup(CBackupUtilityApp& app, const std::string& copierProgram = "",
                CommandRunner* shutdownRunner = nullptr);

}  // namespace tessarine
