// The local disk through POSIX calls: readdir, and fstatat relative to the folder's descriptor.
#pragma once

#include "platform/local_file_system.h"

namespace tessarine {

class PosixFileSystem : public LocalFileSystem {
public:
    LocalFolder ReadFolder(const std::string& path, FolderReadOptions options) override;
    IoResult<bool> IsFolder(const std::string& path) override;
    std::string MountRoot(const std::string& path) override;
};

}  // namespace tessarine
