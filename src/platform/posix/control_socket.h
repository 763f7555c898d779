// The local control channel: another process of the same user signals one of the running
// instance's named events by name ("TessarineTool --signal BackupNow"), as OpenEvent + SetEvent
// would on Windows. A Unix-domain stream socket, reachable only by the owning user: the socket
// file is 0600 inside a 0700 folder, and every peer's credentials (SO_PEERCRED) must carry our
// uid. Protocol, one request per connection: "SIGNAL <name>\n" answered by "OK\n" or
// "UNKNOWN\n"; "HOLD <name>\n" (a claim, such as the backup running flag, kept for the client
// until it closes the connection or ends) answered by "OK\n" (then held), "BUSY\n" or
// "UNKNOWN\n"; "RUN <name>\n" (start a run, such as a backup, and report on it until it ends)
// answered by "STARTED\n" or "RUNNING\n" and then the report lines, "BUSY\n" or "UNKNOWN\n";
// anything else is answered by "BAD\n", a peer of another user by "DENIED\n".
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/control_request.h"
#include "platform/named_events.h"

namespace tessarine {

// Results of ControlClient::Signal.
inline constexpr int kControlDelivered = 0;       // the event was signalled
inline constexpr int kControlNoInstance = 1;      // nothing listens on the socket
inline constexpr int kControlUnknownName = 2;     // the instance has no event of that name
inline constexpr int kControlFailed = 3;          // refused, timed out, or an unexpected answer
inline constexpr int kControlBadName = 4;         // the name cannot be sent (ControlNameProblem)
inline constexpr int kControlBusy = 5;            // a claim asked for is taken; no run can start
inline constexpr int kControlAlreadyRunning = 6;  // the run asked for was already going

// What the server's hold handler answers.
inline constexpr int kHoldGranted = 0;
inline constexpr int kHoldBusy = 1;
inline constexpr int kHoldUnknown = 2;

// Connections the server keeps open at once; when one more arrives, the one that has waited
// longest is answered "BAD" and closed.
inline constexpr std::size_t kControlMaxConnections = 16;

// The folder of the control socket, with a trailing '/': $XDG_RUNTIME_DIR when set, else the
// private sub-folder "run/" of the data folder (the data folder itself is readable by others).
std::string ControlSocketFolder(const std::string& dataFolder);
// The socket's file name in that folder: "<title>.sock", or "<hash>.sock" for a title too long
// for a socket address.
std::string ControlSocketFileName(const std::string& title);
// "<folder><file name>". When it does not fit a socket address, both ends reach the same file
// through "/proc/self/fd/<descriptor of the folder>/<file name>".
std::string ControlSocketPath(const std::string& folder, const std::string& title);

class ControlServer {
public:
    explicit ControlServer(NamedEvents& events);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Listens in `folder` (created 0700 when missing; refused when it belongs to another user or
    // is open to group or others) on the socket named after `title`, and starts the thread that
    // answers requests. A leftover socket file of an ended instance is replaced: the caller holds
    // the single-instance lock. False (logged, and described by Problem) when it cannot listen.
    bool Start(const std::string& folder, const std::string& title);
    // Ends the thread (joined) and removes the socket file. Safe to call more than once.
    void Stop();
    bool IsRunning() const { return thread_.joinable(); }
    // The socket file path.
    const std::string& Address() const { return address_; }
    // Why the last Start failed, for a start-up message.
    const std::string& Problem() const { return problem_; }

    // How long one client may take to send its request (default 2 s). Clients are served side
    // by side: a slow one delays no other.
    void SetReadTimeout(std::chrono::milliseconds timeout) { readTimeout_ = timeout; }

    // The claims "HOLD <name>" may take: `acquire` answers kHoldGranted, kHoldBusy or
    // kHoldUnknown; `release` is called once for each granted claim when its client goes (or
    // the server stops). Both run on the server's thread. Set before Start.
    void SetHoldHandlers(std::function<int(const std::string&)> acquire,
                         std::function<void(const std::string&)> release) {
        acquireHold_ = std::move(acquire);
        releaseHold_ = std::move(release);
    }

    // "RUN <name>": `run` gets the name and the connection's descriptor, answers on it, and
    // returns true when it keeps the connection (it closes it when done), false to have the
    // server answer "UNKNOWN". It runs on the server's thread and must not block. Set before
    // Start.
    void SetRunHandler(std::function<bool(const std::string&, int)> run) {
        runHandler_ = std::move(run);
    }

private:
    struct Connection;
    // Grants (true: the connection stays) or refuses a claim.
    bool Hold(Connection& connection, const std::string& name);
    void Release(Connection& connection);
    bool Fail(const std::string& problem);
    void Serve();
    void AcceptConnections(std::vector<Connection>& connections);
    // Reads what the client sent; true when the connection is finished (answered or dropped).
    bool ReadFromConnection(Connection& connection);
    void Answer(int fd, const std::string& request);

    NamedEvents& events_;
    std::function<int(const std::string&)> acquireHold_;
    std::function<void(const std::string&)> releaseHold_;
    std::function<bool(const std::string&, int)> runHandler_;
    std::chrono::milliseconds readTimeout_{2000};
    int folderFd_ = -1;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};  // self-pipe: a byte written to [1] ends the thread
    std::string address_;
    std::string fileName_;
    std::string problem_;
    bool ownsSocketFile_ = false;
    std::thread thread_;
};

class ControlClient {
public:
    // Asks the instance listening in `folder` under `title` to signal event `name`.
    // kControlDelivered, kControlNoInstance, kControlUnknownName, kControlBadName (nothing is
    // sent) or kControlFailed (refused by the instance, a server of another user, no answer
    // within `timeout`).
    static int Signal(const std::string& folder, const std::string& title, const std::string& name,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    // The same for this user's instance of this program (data folder and executable title of
    // the calling process).
    static int Signal(const std::string& name);

private:
    friend class ControlHold;
    friend class ControlRun;
    enum class Verb { kSignal, kHold, kRun };
    // One request; a granted hold or a run leaves its connection in `keptFd`.
    static int Ask(const std::string& folder, const std::string& title, const std::string& name,
                   Verb verb, std::chrono::milliseconds timeout, int* keptFd);
};

// A claim of the running instance held by this process ("HOLD <name>"), released when this
// object goes (or the process ends).
class ControlHold {
public:
    ControlHold() = default;
    ~ControlHold() { Release(); }
    ControlHold(const ControlHold&) = delete;
    ControlHold& operator=(const ControlHold&) = delete;

    // kControlDelivered (held), kControlBusy, kControlNoInstance, kControlUnknownName,
    // kControlBadName or kControlFailed, as ControlClient::Signal.
    int Acquire(const std::string& folder, const std::string& title, const std::string& name,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    void Release();
    bool IsHeld() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// A run asked of the running instance ("RUN <name>"), whose report is then read line by line.
class ControlRun {
public:
    ControlRun() = default;
    ~ControlRun() { Close(); }
    ControlRun(const ControlRun&) = delete;
    ControlRun& operator=(const ControlRun&) = delete;

    // kControlDelivered (a run was started), kControlAlreadyRunning (one was going: its report
    // follows), kControlBusy (none can start now), kControlNoInstance, kControlUnknownName,
    // kControlBadName or kControlFailed, as ControlClient::Signal.
    int Start(const std::string& folder, const std::string& title, const std::string& name,
              std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    // The next report line without its newline; false when the instance closed the connection
    // (or ended), or sent a line longer than kControlRequestMax.
    bool ReadLine(std::string& line);
    void Close();

private:
    int fd_ = -1;
    std::string pending_;
};

}  // namespace tessarine
