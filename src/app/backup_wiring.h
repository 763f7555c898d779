// Joins the backup subsystem to the application: the file-list database in start-up and the
// backup scheduler (with its executor on the device share) as the first long-lived worker.
#pragma once

namespace tessarine {

class CBackupUtilityApp;

void WireBackup(CBackupUtilityApp& app);

}  // namespace tessarine
