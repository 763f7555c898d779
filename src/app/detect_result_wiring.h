// Joins the detection results to the application: the results database in start-up (after the
// backup and detection file lists) and the result checker as the third long-lived worker.
#pragma once

namespace tessarine {

class CBackupUtilityApp;

void WireDetectFileResult(CBackupUtilityApp& app);

}  // namespace tessarine
