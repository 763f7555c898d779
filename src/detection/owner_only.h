// The local copies of what the device sends (its detection setting, result files) hold paths
// and detected confidential text: they and their folders are kept to the user alone, as the
// file list is.
#pragma once

#include <string>

namespace tessarine {

// Makes a file 0600 or a folder 0700 (a link is not followed). 0, or the errno value.
int MakeOwnerOnly(const std::string& path, bool isFolder);

}  // namespace tessarine
