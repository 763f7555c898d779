// Joins the detection forwarder to the application: the detection file list in start-up and the
// detection scheduler (with its forwarder on the device share) as the second long-lived worker.
#pragma once

namespace tessarine {

class CBackupUtilityApp;

void WireDetectFile(CBackupUtilityApp& app);

}  // namespace tessarine
