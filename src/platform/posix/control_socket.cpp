#include "platform/posix/control_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "infra/app_log.h"
#include "infra/string_utility.h"
#include "platform/app_paths.h"
#include "platform/posix/single_instance.h"

namespace tessarine {

namespace {

constexpr char kSignalVerb[] = "SIGNAL ";
constexpr char kAnswerOk[] = "OK\n";
constexpr char kAnswerUnknown[] = "UNKNOWN\n";
constexpr char kAnswerBad[] = "BAD\n";
constexpr char kAnswerDenied[] = "DENIED\n";
constexpr std::size_t kAnswerMax = 16;

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

std::string WithoutSlash(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

// Fills `address` with a file path or, for a leading '@', an abstract name. Returns the length
// to pass to bind/connect, or 0 when the address does not fit.
socklen_t MakeAddress(const std::string& text, sockaddr_un& address) {
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (!text.empty() && text.front() == '@') {
        const std::string name = text.substr(1);
        if (name.size() + 1 > sizeof(address.sun_path)) return 0;
        std::memcpy(address.sun_path + 1, name.data(), name.size());
        return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    }
    if (text.empty() || text.size() + 1 > sizeof(address.sun_path)) return 0;
    std::memcpy(address.sun_path, text.data(), text.size());
    return static_cast<socklen_t>(sizeof(address));
}

std::string AddressFor(const std::string& folder, const std::string& title) {
    std::string path = ControlSocketPath(folder, title);
    return path.empty() ? ControlAbstractName(folder, title) : path;
}

bool PeerUid(int fd, uid_t& uid) {
    ucred credentials{};
    socklen_t length = sizeof(credentials);
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return false;
    uid = credentials.uid;
    return true;
}

void SendAnswer(int fd, const char* answer) {
    // MSG_NOSIGNAL: a client that went away must not raise SIGPIPE in the whole process.
    if (send(fd, answer, std::strlen(answer), MSG_NOSIGNAL) < 0) {
        LOG_TRACE("Control Answer Not Sent.");
    }
}

// The folder must belong to us and be closed to everyone else; a missing one is made 0700.
bool PreparePrivateFolder(const std::string& folder) {
    const std::string path = WithoutSlash(folder);
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        if (errno != ENOENT || mkdir(path.c_str(), 0700) != 0 || lstat(path.c_str(), &info) != 0) {
            LOG_ERROR("Create Control Folder Error. Path:" + path);
            return false;
        }
    }
    if (S_ISLNK(info.st_mode) && stat(path.c_str(), &info) != 0) {
        LOG_ERROR("Control Folder Link Broken. Path:" + path);
        return false;
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid() || (info.st_mode & 077) != 0) {
        errno = EPERM;
        LOG_ERROR(Format("Control Folder Not Private. uid:%u mode:%o Path:",
                         static_cast<unsigned>(info.st_uid),
                         static_cast<unsigned>(info.st_mode & 07777)) +
                  path);
        return false;
    }
    return true;
}

}  // namespace

std::string ControlSocketFolder(const std::string& dataFolder) {
    return RuntimeFolderPath(dataFolder.empty() ? std::string() : WithSlash(dataFolder) + "run/");
}

std::string ControlSocketPath(const std::string& folder, const std::string& title) {
    const std::string path = WithSlash(folder) + title + ".sock";
    if (path.size() + 1 > sizeof(sockaddr_un::sun_path)) return std::string();
    return path;
}

std::string ControlAbstractName(const std::string& folder, const std::string& title) {
    // FNV-1a: the same value in every process, unlike std::hash.
    std::uint64_t hash = 14695981039346656037ull;
    const std::string key = WithSlash(folder) + '\0' + title;
    for (unsigned char c : key) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return Format("@tessarine-%u-%016llx", static_cast<unsigned>(geteuid()),
                  static_cast<unsigned long long>(hash));
}

ControlServer::ControlServer(NamedEvents& events) : events_(events) {}

ControlServer::~ControlServer() { Stop(); }

bool ControlServer::Start(const std::string& folder, const std::string& title) {
    LOG_METHOD();
    if (IsRunning()) return true;
    if (folder.empty() || title.empty()) {
        LOG_ERROR("Control Socket Folder Or Title Empty.");
        return false;
    }
    if (!PreparePrivateFolder(folder)) return false;

    address_ = AddressFor(folder, title);
    sockaddr_un address{};
    const socklen_t addressLength = MakeAddress(address_, address);
    if (addressLength == 0) {
        LOG_ERROR("Control Socket Address Too Long. Address:" + address_);
        return false;
    }
    const bool isFile = address_.front() != '@';
    if (isFile) {
        struct stat info {};
        if (lstat(address_.c_str(), &info) == 0) {
            if (!S_ISSOCK(info.st_mode)) {
                LOG_ERROR("Control Socket Path Taken. Path:" + address_);
                return false;
            }
            // Left behind by an instance that ended without clean-up; we hold the lock now.
            unlink(address_.c_str());
        }
    }

    listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        LOG_ERROR("Control Socket Error.");
        return false;
    }
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), addressLength) != 0) {
        LOG_ERROR("Control Socket Bind Error. Address:" + address_);
        Stop();
        return false;
    }
    ownsSocketFile_ = isFile;
    if (isFile && chmod(address_.c_str(), 0600) != 0) {
        LOG_ERROR("Control Socket Mode Error. Path:" + address_);
        Stop();
        return false;
    }
    if (listen(listenFd_, 8) != 0 || pipe2(wakeFds_, O_CLOEXEC | O_NONBLOCK) != 0) {
        LOG_ERROR("Control Socket Listen Error. Address:" + address_);
        Stop();
        return false;
    }
    thread_ = std::thread(&ControlServer::Serve, this);
    LOG_TRACE("Control Socket Listening. Address:" + address_);
    return true;
}

void ControlServer::Stop() {
    if (thread_.joinable()) {
        const char byte = 1;
        while (write(wakeFds_[1], &byte, 1) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
    for (int* fd : {&listenFd_, &wakeFds_[0], &wakeFds_[1]}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    if (ownsSocketFile_) {
        unlink(address_.c_str());
        ownsSocketFile_ = false;
    }
}

void ControlServer::Serve() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        const int ready = poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            LOG_ERROR("Control Socket Poll Error.");
            return;
        }
        if (fds[1].revents != 0) return;
        if ((fds[0].revents & POLLIN) == 0) continue;
        const int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN) continue;
            LOG_ERROR("Control Socket Accept Error.");
            // Out of descriptors or memory: pause instead of spinning, but still heed Stop.
            pollfd wake{wakeFds_[0], POLLIN, 0};
            if (poll(&wake, 1, 100) > 0) return;
            continue;
        }
        HandleConnection(client);
        close(client);
    }
}

void ControlServer::HandleConnection(int fd) {
    uid_t uid = 0;
    if (!PeerUid(fd, uid) || uid != geteuid()) {
        errno = EACCES;
        LOG_ERROR(Format("Control Peer Refused. uid:%d", static_cast<int>(uid)));
        SendAnswer(fd, kAnswerDenied);
        return;
    }
    std::string request;
    if (!ReadRequest(fd, request)) {
        SendAnswer(fd, kAnswerBad);
        return;
    }
    if (!request.empty() && request.back() == '\r') request.pop_back();
    const std::size_t verbLength = std::strlen(kSignalVerb);
    const bool isSignal = request.compare(0, verbLength, kSignalVerb) == 0;
    const std::string name = isSignal ? request.substr(verbLength) : std::string();
    bool printable = !name.empty();
    for (unsigned char c : name) printable = printable && c >= 0x20 && c != 0x7F;
    if (!isSignal || !printable) {
        LOG_ERROR("Control Request Malformed.");
        SendAnswer(fd, kAnswerBad);
        return;
    }
    if (events_.Signal(name)) {
        LOG_NOTICE("Control Signal. Event:" + name);
        SendAnswer(fd, kAnswerOk);
    } else {
        LOG_NOTICE("Control Signal Unknown Event. Event:" + name);
        SendAnswer(fd, kAnswerUnknown);
    }
}

bool ControlServer::ReadRequest(int fd, std::string& request) {
    const auto deadline = std::chrono::steady_clock::now() + readTimeout_;
    char buffer[kControlRequestMax];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            LOG_ERROR("Control Request Timeout.");
            return false;
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        const int ready = poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            LOG_ERROR("Control Request Poll Error.");
            return false;
        }
        if (fds[1].revents != 0) return false;  // shutting down
        if (ready == 0) continue;               // the deadline check above ends the wait
        const std::size_t room = kControlRequestMax - request.size();
        const ssize_t got = recv(fd, buffer, room, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) {
            LOG_ERROR("Control Request Incomplete.");
            return false;
        }
        request.append(buffer, static_cast<std::size_t>(got));
        const std::size_t newline = request.find('\n');
        if (newline != std::string::npos) {
            request.resize(newline);
            return true;
        }
        if (request.size() >= kControlRequestMax) {
            LOG_ERROR(Format("Control Request Too Long. Max:%zu", kControlRequestMax));
            return false;
        }
    }
}

int ControlClient::Signal(const std::string& folder, const std::string& title,
                          const std::string& name, std::chrono::milliseconds timeout) {
    if (name.empty() || name.size() + std::strlen(kSignalVerb) + 1 > kControlRequestMax)
        return kControlFailed;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) return kControlFailed;
    }
    sockaddr_un address{};
    const socklen_t addressLength = MakeAddress(AddressFor(folder, title), address);
    if (addressLength == 0) return kControlNoInstance;

    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kControlFailed;
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};

    timeval limit{};
    limit.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    limit.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));

    if (connect(fd, reinterpret_cast<sockaddr*>(&address), addressLength) != 0) {
        return (errno == ENOENT || errno == ECONNREFUSED || errno == ENOTDIR) ? kControlNoInstance
                                                                              : kControlFailed;
    }
    // Only our own instance may hear what we ask (a name in the abstract namespace could have
    // been taken by another user).
    uid_t uid = 0;
    if (!PeerUid(fd, uid) || uid != geteuid()) return kControlFailed;

    const std::string request = kSignalVerb + name + "\n";
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size()))
        return kControlFailed;

    std::string answer;
    char buffer[kAnswerMax];
    while (answer.size() < kAnswerMax && answer.find('\n') == std::string::npos) {
        const ssize_t got = recv(fd, buffer, sizeof(buffer), 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        answer.append(buffer, static_cast<std::size_t>(got));
    }
    if (answer == kAnswerOk) return kControlDelivered;
    if (answer == kAnswerUnknown) return kControlUnknownName;
    return kControlFailed;
}

int ControlClient::Signal(const std::string& name) {
    return Signal(ControlSocketFolder(GetDataFolderPath()), GetExecutableTitle(), name);
}

}  // namespace tessarine
