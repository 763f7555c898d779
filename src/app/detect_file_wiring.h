// Joins the detection forwarder to the application: the detection file list in start-up and the
// detection scheduler (with its forwarder on the device share) as the second long-lived worker.
#pragma once

#include <string>

namespace tessarine {

class CBackupUtilityApp;

// `copierProgram`: the program to start as the share's copier processes (as for WireBackup);
// empty: every copy is made in-process.
void WireDetectFile(CBackupUtilityApp& app, const std::string& copierProgram = "");

}  // namespace tessarine
