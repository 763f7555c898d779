#include "platform/posix/control_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "base/app_log.h"
#include "base/string_utility.h"
#include "platform/app_paths.h"
#include "platform/posix/local_file_ops.h"
#include "platform/posix/single_instance.h"

namespace tessarine {

namespace {

constexpr char kAnswerOk[] = "OK\n";
constexpr char kAnswerUnknown[] = "UNKNOWN\n";
constexpr char kAnswerBad[] = "BAD\n";
constexpr char kAnswerDenied[] = "DENIED\n";
constexpr std::size_t kAnswerMax = 16;
constexpr std::size_t kSocketSuffixLength = 5;  // ".sock"
// Longest file name used for the socket, so that the /proc/self/fd form always fits.
constexpr std::size_t kMaxFileName = 48;

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

std::string WithoutSlash(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

bool FitsSocketAddress(const std::string& path) {
    return !path.empty() && path.size() + 1 <= sizeof(sockaddr_un::sun_path);
}

// Fills `address` with a file path. Returns the length to pass to bind/connect, or 0 when the
// path does not fit.
socklen_t MakeAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (!FitsSocketAddress(path)) return 0;
    std::memcpy(address.sun_path, path.data(), path.size());
    return static_cast<socklen_t>(sizeof(address));
}

// The path that bind/connect use: the plain path when it fits, else the same file reached
// through the open folder descriptor (which needs /proc).
std::string ReachablePath(const std::string& folder, const std::string& fileName, int folderFd) {
    const std::string plain = WithSlash(folder) + fileName;
    if (FitsSocketAddress(plain) || folderFd < 0) return plain;
    return Format("/proc/self/fd/%d/", folderFd) + fileName;
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

// Opens the folder (made 0700 when missing), which must belong to us and be closed to everyone
// else; the check is made on the open folder, so it cannot be swapped afterwards. -1 and
// `problem` on failure.
int OpenPrivateFolder(const std::string& folder, std::string& problem) {
    const std::string path = WithoutSlash(folder);
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        LOG_ERROR("Create Control Folder Error. Path:" + path);
        problem = "cannot create the folder " + path + ": " + std::strerror(errno);
        return -1;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        LOG_ERROR("Open Control Folder Error. Path:" + path);
        problem = "cannot open the folder " + path + ": " + std::strerror(errno);
        return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || info.st_uid != geteuid() || (info.st_mode & 077) != 0) {
        errno = EPERM;
        LOG_ERROR(Format("Control Folder Not Private. uid:%u mode:%o Path:",
                         static_cast<unsigned>(info.st_uid),
                         static_cast<unsigned>(info.st_mode & 07777)) +
                  path);
        problem = Format(
            "the folder %s must belong to user %u and be closed to group and others "
            "(it has user %u, mode %04o)",
            path.c_str(), static_cast<unsigned>(geteuid()), static_cast<unsigned>(info.st_uid),
            static_cast<unsigned>(info.st_mode & 07777));
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::string ControlSocketFolder(const std::string& dataFolder) {
    return RuntimeFolderPath(dataFolder.empty() ? std::string() : WithSlash(dataFolder) + "run/");
}

std::string ControlSocketFileName(const std::string& title) {
    if (title.size() + kSocketSuffixLength <= kMaxFileName) return title + ".sock";
    // FNV-1a: the same value in every process, unlike std::hash.
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : title) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return Format("%016llx.sock", static_cast<unsigned long long>(hash));
}

std::string ControlSocketPath(const std::string& folder, const std::string& title) {
    return WithSlash(folder) + ControlSocketFileName(title);
}

struct ControlServer::Connection {
    int fd = -1;
    ControlRequestReader request;
    std::chrono::steady_clock::time_point deadline;
    std::string held;  // the claim kept for this client; "" while it is a request
};

ControlServer::ControlServer(NamedEvents& events) : events_(events) {}

ControlServer::~ControlServer() { Stop(); }

bool ControlServer::Fail(const std::string& problem) {
    problem_ = problem;
    Stop();
    return false;
}

bool ControlServer::Start(const std::string& folder, const std::string& title) {
    LOG_METHOD();
    if (IsRunning()) return true;
    problem_.clear();
    if (folder.empty() || title.empty()) {
        LOG_ERROR("Control Socket Folder Or Title Empty.");
        return Fail("no folder or program title for the socket");
    }
    std::string problem;
    folderFd_ = OpenPrivateFolder(folder, problem);
    if (folderFd_ < 0) return Fail(problem);

    fileName_ = ControlSocketFileName(title);
    address_ = ControlSocketPath(folder, title);
    const std::string reachable = ReachablePath(folder, fileName_, folderFd_);
    sockaddr_un address{};
    const socklen_t addressLength = MakeAddress(reachable, address);
    if (addressLength == 0) {
        LOG_ERROR("Control Socket Address Too Long. Address:" + reachable);
        return Fail("the socket path " + reachable + " is too long");
    }
    struct stat info {};
    if (fstatat(folderFd_, fileName_.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            LOG_ERROR("Control Socket Path Taken. Path:" + address_);
            return Fail(address_ + " exists and is not a socket");
        }
        // Left behind by an instance that ended without clean-up; we hold the lock now.
        unlinkat(folderFd_, fileName_.c_str(), 0);
    }

    listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd_ < 0) {
        LOG_ERROR("Control Socket Error.");
        return Fail(std::string("cannot make a socket: ") + std::strerror(errno));
    }
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), addressLength) != 0) {
        const int error = errno;
        LOG_ERROR("Control Socket Bind Error. Address:" + reachable);
        return Fail("cannot listen on " + reachable + ": " + std::strerror(error));
    }
    ownsSocketFile_ = true;
    if (fchmodat(folderFd_, fileName_.c_str(), 0600, 0) != 0) {
        const int error = errno;
        LOG_ERROR("Control Socket Mode Error. Path:" + address_);
        return Fail("cannot set the mode of " + address_ + ": " + std::strerror(error));
    }
    if (listen(listenFd_, static_cast<int>(kControlMaxConnections)) != 0 ||
        pipe2(wakeFds_, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int error = errno;
        LOG_ERROR("Control Socket Listen Error. Address:" + address_);
        return Fail("cannot listen on " + address_ + ": " + std::strerror(error));
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
    if (ownsSocketFile_) {
        unlinkat(folderFd_, fileName_.c_str(), 0);
        ownsSocketFile_ = false;
    }
    for (int* fd : {&listenFd_, &wakeFds_[0], &wakeFds_[1], &folderFd_}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

void ControlServer::Serve() {
    std::vector<Connection> connections;
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        fds.push_back({wakeFds_[0], POLLIN, 0});
        fds.push_back({listenFd_, POLLIN, 0});
        auto now = std::chrono::steady_clock::now();
        int timeout = -1;
        for (const Connection& connection : connections) {
            fds.push_back({connection.fd, POLLIN, 0});
            if (!connection.held.empty()) continue;  // no deadline: kept until the client goes
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(connection.deadline - now);
            const int leftMs = static_cast<int>(std::max<std::int64_t>(left.count(), 0));
            timeout = timeout < 0 ? leftMs : std::min(timeout, leftMs);
        }
        const int ready = poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR) {
            LOG_ERROR("Control Socket Poll Error.");
            break;
        }
        if (ready > 0 && fds[0].revents != 0) break;  // Stop

        // Connections first, so that a full table is freed before new ones arrive.
        now = std::chrono::steady_clock::now();
        std::vector<Connection> open;
        for (std::size_t i = 0; i < connections.size(); ++i) {
            Connection& connection = connections[i];
            bool finished = false;
            if (ready > 0 && fds[i + 2].revents != 0) finished = ReadFromConnection(connection);
            if (!finished && connection.held.empty() && now >= connection.deadline) {
                LOG_ERROR("Control Request Timeout.");
                SendAnswer(connection.fd, kAnswerBad);
                finished = true;
            }
            if (finished) {
                Release(connection);
                if (connection.fd >= 0) close(connection.fd);
            } else {
                open.push_back(std::move(connection));
            }
        }
        connections = std::move(open);
        if (ready > 0 && (fds[1].revents & POLLIN) != 0) AcceptConnections(connections);
    }
    for (Connection& connection : connections) {
        Release(connection);
        close(connection.fd);
    }
}

void ControlServer::Release(Connection& connection) {
    if (connection.held.empty()) return;
    LOG_NOTICE("Control Hold Released. Name:" + connection.held);
    if (releaseHold_) releaseHold_(connection.held);
    connection.held.clear();
}

void ControlServer::AcceptConnections(std::vector<Connection>& connections) {
    for (;;) {
        const int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            LOG_ERROR("Control Socket Accept Error.");
            // Out of descriptors or memory: pause instead of spinning, but still heed Stop.
            pollfd wake{wakeFds_[0], POLLIN, 0};
            poll(&wake, 1, 100);
            return;
        }
        uid_t uid = 0;
        if (!PeerUid(client, uid) || uid != geteuid()) {
            errno = EACCES;
            LOG_ERROR(Format("Control Peer Refused. uid:%d", static_cast<int>(uid)));
            SendAnswer(client, kAnswerDenied);
            close(client);
            continue;
        }
        if (connections.size() >= kControlMaxConnections) {
            // The one that has waited longest makes room; a newcomer is as likely to be real.
            // A kept claim is no request waiting: it is never the one.
            LOG_ERROR(Format("Control Connections At Limit. Max:%zu", kControlMaxConnections));
            const auto waiting = std::find_if(connections.begin(), connections.end(),
                                              [](const Connection& c) { return c.held.empty(); });
            if (waiting == connections.end()) {
                SendAnswer(client, kAnswerBad);
                close(client);
                continue;
            }
            SendAnswer(waiting->fd, kAnswerBad);
            close(waiting->fd);
            connections.erase(waiting);
        }
        connections.push_back(
            {client, ControlRequestReader(), std::chrono::steady_clock::now() + readTimeout_, {}});
    }
}

bool ControlServer::ReadFromConnection(Connection& connection) {
    char buffer[kControlRequestMax];
    // A kept claim ends when its client closes (or sends anything, or ends).
    if (!connection.held.empty()) return true;
    for (;;) {
        const ssize_t got = recv(connection.fd, buffer, connection.request.Room(), 0);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
        if (got <= 0) {
            LOG_ERROR("Control Request Incomplete.");
            SendAnswer(connection.fd, kAnswerBad);
            return true;
        }
        switch (connection.request.Feed(std::string_view(buffer, static_cast<std::size_t>(got)))) {
            case ControlRequestReader::State::kNeedMore:
                break;
            case ControlRequestReader::State::kComplete:
                if (const auto hold = ParseControlHoldRequest(connection.request.Line()))
                    return !Hold(connection, *hold);
                if (const auto run = ParseControlRunRequest(connection.request.Line())) {
                    if (runHandler_ && runHandler_(*run, connection.fd)) {
                        LOG_NOTICE("Control Run Taken. Name:" + *run);
                        connection.fd = -1;  // the handler's now
                    } else {
                        LOG_NOTICE("Control Run Unknown. Name:" + *run);
                        SendAnswer(connection.fd, kAnswerUnknown);
                    }
                    return true;
                }
                Answer(connection.fd, connection.request.Line());
                return true;
            case ControlRequestReader::State::kTooLong:
                LOG_ERROR(Format("Control Request Too Long. Max:%zu", kControlRequestMax));
                SendAnswer(connection.fd, kAnswerBad);
                return true;
        }
    }
}

bool ControlServer::Hold(Connection& connection, const std::string& name) {
    const int result = acquireHold_ ? acquireHold_(name) : kHoldUnknown;
    if (result == kHoldGranted) {
        LOG_NOTICE("Control Hold Granted. Name:" + name);
        connection.held = name;
        SendAnswer(connection.fd, kAnswerOk);
        return true;
    }
    LOG_NOTICE(std::string(result == kHoldBusy ? "Control Hold Busy." : "Control Hold Unknown.") +
               " Name:" + name);
    SendAnswer(connection.fd, result == kHoldBusy ? kControlAnswerBusy : kAnswerUnknown);
    return false;
}

void ControlServer::Answer(int fd, const std::string& request) {
    const std::optional<std::string> name = ParseControlRequest(request);
    if (!name) {
        LOG_ERROR("Control Request Malformed.");
        SendAnswer(fd, kAnswerBad);
        return;
    }
    if (events_.Signal(*name)) {
        LOG_NOTICE("Control Signal. Event:" + *name);
        SendAnswer(fd, kAnswerOk);
    } else {
        LOG_NOTICE("Control Signal Unknown Event. Event:" + *name);
        SendAnswer(fd, kAnswerUnknown);
    }
}

int ControlClient::Ask(const std::string& folder, const std::string& title, const std::string& name,
                       Verb verb, std::chrono::milliseconds timeout, int* keptFd) {
    if (!ControlNameProblem(name).empty()) return kControlBadName;
    const std::string fileName = ControlSocketFileName(title);
    // The folder is opened only when the plain path is too long for an address.
    int folderFd = -1;
    if (!FitsSocketAddress(WithSlash(folder) + fileName)) {
        folderFd = open(WithoutSlash(folder).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folderFd < 0) {
            return (errno == ENOENT || errno == ENOTDIR) ? kControlNoInstance : kControlFailed;
        }
    }
    sockaddr_un address{};
    const socklen_t addressLength = MakeAddress(ReachablePath(folder, fileName, folderFd), address);

    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // Closed on return unless a granted claim keeps it.
    struct Closer {
        int& fd;
        ~Closer() {
            if (fd >= 0) close(fd);
        }
    } fdCloser{fd};
    const posix::ScopedFd folderCloser(folderFd);
    if (fd < 0 || addressLength == 0) return kControlFailed;

    timeval limit{};
    limit.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    limit.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));

    if (connect(fd, reinterpret_cast<sockaddr*>(&address), addressLength) != 0) {
        return (errno == ENOENT || errno == ECONNREFUSED || errno == ENOTDIR) ? kControlNoInstance
                                                                              : kControlFailed;
    }
    // Only our own instance may hear what we ask.
    uid_t uid = 0;
    if (!PeerUid(fd, uid) || uid != geteuid()) return kControlFailed;

    const std::string request = verb == Verb::kHold  ? MakeControlHoldRequest(name)
                                : verb == Verb::kRun ? MakeControlRunRequest(name)
                                                     : MakeControlRequest(name);
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size()))
        return kControlFailed;

    // One byte at a time: a run's report follows its answer on the same connection.
    std::string answer;
    while (answer.size() < kAnswerMax && (answer.empty() || answer.back() != '\n')) {
        char byte = 0;
        const ssize_t got = recv(fd, &byte, 1, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        answer += byte;
    }
    const bool kept = verb == Verb::kRun
                          ? answer == kControlAnswerStarted || answer == kControlAnswerRunning
                          : answer == kAnswerOk;
    if (kept && keptFd != nullptr) {
        *keptFd = fd;
        fd = -1;
    }
    if (answer == kControlAnswerRunning) return kControlAlreadyRunning;
    if (answer == kControlAnswerStarted) return kControlDelivered;
    if (answer == kAnswerOk) return kControlDelivered;
    if (answer == kAnswerUnknown) return kControlUnknownName;
    if (answer == kControlAnswerBusy) return kControlBusy;
    return kControlFailed;
}

int ControlClient::Signal(const std::string& folder, const std::string& title,
                          const std::string& name, std::chrono::milliseconds timeout) {
    return Ask(folder, title, name, Verb::kSignal, timeout, nullptr);
}

int ControlHold::Acquire(const std::string& folder, const std::string& title,
                         const std::string& name, std::chrono::milliseconds timeout) {
    Release();
    const int result =
        ControlClient::Ask(folder, title, name, ControlClient::Verb::kHold, timeout, &fd_);
    if (fd_ >= 0) {
        // The claim lasts as long as the connection: no time-out applies to it any more.
        timeval none{};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof(none));
    }
    return result;
}

void ControlHold::Release() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

int ControlRun::Start(const std::string& folder, const std::string& title, const std::string& name,
                      std::chrono::milliseconds timeout) {
    Close();
    const int result =
        ControlClient::Ask(folder, title, name, ControlClient::Verb::kRun, timeout, &fd_);
    if (fd_ >= 0) {
        // A run takes as long as it takes: the report is waited for without a time-out.
        timeval none{};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof(none));
    }
    return result;
}

bool ControlRun::ReadLine(std::string& line) {
    for (;;) {
        if (const std::size_t end = pending_.find('\n'); end != std::string::npos) {
            line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return true;
        }
        if (fd_ < 0 || pending_.size() >= kControlRequestMax) return false;
        char buffer[kControlRequestMax];
        const ssize_t got = recv(fd_, buffer, sizeof(buffer), 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            Close();
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

void ControlRun::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    pending_.clear();
}

int ControlClient::Signal(const std::string& name) {
    return Signal(ControlSocketFolder(GetDataFolderPath()), GetExecutableTitle(), name);
}

}  // namespace tessarine
