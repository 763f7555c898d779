#include "detection/owner_only.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tessarine {

int MakeOwnerOnly(const std::string& path, bool isFolder) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const int flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | (isFolder ? O_DIRECTORY : 0);
    const int fd = ::open(trimmed.c_str(), flags);
    if (fd < 0) return errno;
    const int result = ::fchmod(fd, isFolder ? 0700 : 0600) == 0 ? 0 : errno;
    ::close(fd);
    return result;
}

}  // namespace tessarine
