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
    std::string problem;    // why an environment value was not taken; "" when none
};

// Defaults, overridden by TESSARINE_SMB_PORT (a port number, 1-65535) and TESSARINE_SHARE_ROOT
// (a local folder). A value that is not usable is left out and described in `problem` for the
// caller to log.
ShareOptions ShareOptionsFromEnvironment();

// A LocalShare when `localRoot` is set, else an SmbShare on `port`.
std::unique_ptr<DeviceShare> MakeDeviceShare(const ShareOptions& options);

}  // namespace tessarine
