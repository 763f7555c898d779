#include "platform/posix/local_file_ops.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <memory>
#include <random>

#include "platform/share_name.h"

namespace tessarine::posix {

namespace {

std::uint64_t RandomNumber() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    return generator();
}

// Closes a descriptor on every path; the copy checks the close of the written file itself.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }
    // Closes now; 0 or errno.
    int Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    int fd_;
};

int WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return 0;
}

// One block from `in` to `out` by read/write; sets `done` at the end of the input.
int CopyBlockBuffered(int in, int out, std::unique_ptr<char[]>& buffer, size_t& blockBytes,
                      bool& done) {
    if (!buffer) buffer = std::make_unique<char[]>(kCopyBlockSize);
    size_t filled = 0;
    while (filled < kCopyBlockSize) {
        const ssize_t got = ::read(in, buffer.get() + filled, kCopyBlockSize - filled);
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (got == 0) {
            done = true;
            break;
        }
        filled += static_cast<size_t>(got);
    }
    blockBytes = filled;
    return WriteAll(out, buffer.get(), filled);
}

}  // namespace

std::string MakeTemporaryName(const char* suffix) {
    char name[40];
    std::snprintf(name, sizeof name, "~tess%016" PRIx64 "%s", RandomNumber(), suffix);
    return name;
}

std::string MakeAsideName(const std::string& finalName) {
    return AsideCopyName(finalName, RandomNumber());
}

std::string ParentFolder(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

int CheckLocalTarget(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return errno == ENOENT ? 0 : errno;
    if (S_ISDIR(info.st_mode)) return EISDIR;
    if ((info.st_mode & S_IWUSR) == 0) return EACCES;
    return 0;
}

int CreateTemporaryFile(const std::string& folder, std::string& path,
                        const std::string& preferredName) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string candidate =
            folder + "/" +
            (attempt == 0 && !preferredName.empty() ? preferredName : MakeTemporaryName());
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            path = std::move(candidate);
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

int OpenCopySource(const std::string& path, struct stat& info) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return -1;
    }
    // Regular files ignore O_NONBLOCK; clear it anyway so reads behave normally.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

int CommitTemporaryFile(const std::string& temporaryPath, const std::string& target) {
    if (::rename(temporaryPath.c_str(), target.c_str()) == 0) return 0;
    const int error = errno;
    ::unlink(temporaryPath.c_str());
    return error;
}

int CopyLocalFile(const std::string& source, const std::string& target,
                  const std::atomic<int>* cancel, const BlockObserver& observer,
                  std::string_view sender) {
    if (IsCancelled(cancel)) return ECANCELED;
    struct stat info {};
    FileDescriptor in(OpenCopySource(source, info));
    if (in.Get() < 0) return errno;
    if (const int error = CheckLocalTarget(target); error != 0) return error;

    std::string temporaryPath;
    const std::size_t slash = target.find_last_of('/');
    FileDescriptor out(CreateTemporaryFile(
        ParentFolder(target), temporaryPath,
        TemporaryCopyNameFor(slash == std::string::npos ? target : target.substr(slash + 1),
                             sender)));
    if (out.Get() < 0) return errno;

    auto fail = [&](int error) {
        ::unlink(temporaryPath.c_str());
        return error;
    };

    // copy_file_range keeps the data in the kernel (and clones it where the file system can);
    // read/write takes over where it is not supported between these two files.
    bool useCopyRange = true;
    std::unique_ptr<char[]> buffer;
    std::uint64_t copiedBytes = 0;
    for (bool done = false; !done;) {
        if (IsCancelled(cancel)) return fail(ECANCELED);
        if (useCopyRange) {
            const ssize_t copied =
                ::copy_file_range(in.Get(), nullptr, out.Get(), nullptr, kCopyBlockSize, 0);
            if (copied > 0) {
                copiedBytes += static_cast<std::uint64_t>(copied);
                if (observer) observer(copiedBytes);
                continue;
            }
            if (copied == 0) {
                done = true;
                continue;
            }
            if (errno == EINTR) continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP &&
                errno != EPERM)
                return fail(errno);
            useCopyRange = false;
        }
        size_t blockBytes = 0;
        if (const int error = CopyBlockBuffered(in.Get(), out.Get(), buffer, blockBytes, done);
            error != 0)
            return fail(error);
        copiedBytes += blockBytes;
        if (observer && blockBytes > 0) observer(copiedBytes);
    }

    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    if (::futimens(out.Get(), times) != 0) return fail(errno);
    if (const int error = out.Close(); error != 0) return fail(error);
    return CommitTemporaryFile(temporaryPath, target);
}

}  // namespace tessarine::posix
