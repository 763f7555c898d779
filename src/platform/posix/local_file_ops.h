// Local-disk pieces of the share copier: temporary names, the overwrite check and a block copy
// that either completes under the final name or leaves the final name untouched.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tessarine::posix {

// Copies move in blocks of this size; the cancel flag is read before every block.
inline constexpr std::size_t kCopyBlockSize = 1 << 20;

// Told the bytes copied so far after every block (progress, and tests that act mid-copy).
using BlockObserver = std::function<void(std::uint64_t copiedBytes)>;

// Closes the descriptor it was given (if any) when it goes out of scope.
class ScopedFd {
public:
    explicit ScopedFd(int fd) : fd_(fd) {}
    ~ScopedFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;

private:
    int fd_;
};

inline bool IsCancelled(const std::atomic<int>* cancel) {
    return cancel != nullptr && cancel->load(std::memory_order_relaxed) != 0;
}

// "~tess<16 hex digits><suffix>": the name a copy is written under before it is renamed.
std::string MakeTemporaryName(const char* suffix = ".tmp");

// The name an old copy of `finalName` steps aside under while a new copy takes its place (see
// AsideCopyName): it tells the final name, so a copy cut off between the renames can go back.
std::string MakeAsideName(const std::string& finalName);

// The folder part of a local path ("/a/b.txt" -> "/a", "b.txt" -> ".").
std::string ParentFolder(const std::string& path);

// 0 when `path` may be replaced by a copy (absent, or a writable non-folder); EISDIR for a
// folder, EACCES when read-only (owner write bit off), or the stat error.
int CheckLocalTarget(const std::string& path);

// Creates a new, empty temporary file in `folder` (mode 0666 less the umask), first under
// `preferredName` when one is given, else (or when that name is taken) under a random one.
// Returns its descriptor and sets `path`, or -1 with errno set.
int CreateTemporaryFile(const std::string& folder, std::string& path,
                        const std::string& preferredName = {});

// Opens a local copy source: a regular file (never blocks on a FIFO). Returns the descriptor
// and fills `info`, or -1 with errno set (EISDIR for a folder, EINVAL for other kinds).
int OpenCopySource(const std::string& path, struct stat& info);

// Moves a finished temporary file over `target` (atomic on one file system). 0 or errno; the
// temporary file is removed on failure.
int CommitTemporaryFile(const std::string& temporaryPath, const std::string& target);

// Copies a local file to a local target as the share copier does: 1 MiB blocks, `cancel`
// checked before each (ECANCELED), the source's times on the copy, a read-only target refused,
// written under a temporary name (TemporaryCopyNameFor(target name, `sender`) unless taken) and
// renamed over the target. 0 or an errno value.
int CopyLocalFile(const std::string& source, const std::string& target,
                  const std::atomic<int>* cancel, const BlockObserver& observer = nullptr,
                  std::string_view sender = {});

}  // namespace tessarine::posix
