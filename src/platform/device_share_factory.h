// Chooses how the device share is reached: over SMB (the normal case) or, when a local root
// folder is configured, through that folder (a share that is already mounted, tests, the demo).
#pragma once

#include <memory>
#include <string>

#include "platform/device_share.h"

namespace tessarine {

struct ShareOptions {
    int port = 445;         // the SMB server's TCP port
    int timeoutMs = 20000;  // bound on each SMB request, the connection included
    std::string localRoot;  // non-empty: "\\host\share\x" is <localRoot>/share/x
    // Non-empty: SMB copies that callers queue go to copier processes running this program
    // (see posix/share_copier.h), `copiers` of them (below 0: as many as suit where the server
    // is, chosen at log-on); empty: one copy at a time, in-process.
    std::string copierExecutable;
    int copiers = -1;  // posix/copier_pool.h: kCopiersChosenAtLogOn
    // The share every device path is under: SMB log-ons go through it (SmbShare::SetLogOnShare).
    std::string logOnShare = kDeviceShareName;
    std::string problem;  // why an environment value was not taken; "" when none
};

// Defaults, overridden by TESSARINE_SMB_PORT (a port number, 1-65535), TESSARINE_SHARE_ROOT
// (a local folder) and TESSARINE_SHARE_COPIERS (copier processes, 0-16; 0: none; unset: chosen
// at log-on). A value that is not usable is left out and described in `problem` for the caller
// to log.
ShareOptions ShareOptionsFromEnvironment();

// A LocalShare when `localRoot` is set, else an SmbShare on `port` (with copier processes when
// `copierExecutable` is set).
std::unique_ptr<DeviceShare> MakeDeviceShare(const ShareOptions& options);

}  // namespace tessarine
