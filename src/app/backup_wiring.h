// Joins the backup subsystem to the application: the file-list database in start-up and the
// backup scheduler (with its executor on the device share) as the first long-lived worker.
#pragma once

#include <string>

namespace tessarine {

class CBackupUtilityApp;

// `copierProgram`: the program to start as the share's copier processes (this program, which
// must then handle kShareCopierOption); empty: every copy is made in-process.
void WireBackup(CBackupUtilityApp& app, const std::string& copierProgram = "");

}  // namespace tessarine
