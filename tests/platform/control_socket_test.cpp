#include "platform/posix/control_socket.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fakes/test_support.h"

namespace tessarine {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

constexpr char kTitle[] = "TessarineTool";
constexpr uid_t kNobody = 65534;

// Connects to a socket path or "@abstract" name; -1 on failure.
int Connect(const std::string& address) {
    sockaddr_un un{};
    un.sun_family = AF_UNIX;
    socklen_t length = sizeof(un);
    if (address.front() == '@') {
        std::memcpy(un.sun_path + 1, address.data() + 1, address.size() - 1);
        length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size());
    } else {
        std::memcpy(un.sun_path, address.data(), address.size());
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    if (connect(fd, reinterpret_cast<sockaddr*>(&un), length) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string ReadAll(int fd) {
    std::string answer;
    char buffer[64];
    ssize_t got;
    while ((got = recv(fd, buffer, sizeof(buffer), 0)) > 0) answer.append(buffer, got);
    return answer;
}

// Sends raw bytes, optionally ends the sending side, and returns the whole answer.
std::string Exchange(const std::string& address, const std::string& request,
                     bool endSending = false) {
    const int fd = Connect(address);
    if (fd < 0) return "<no connection>";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    if (endSending) shutdown(fd, SHUT_WR);
    std::string answer = ReadAll(fd);
    close(fd);
    return answer;
}

// Runs `body` in a child process that first becomes "nobody"; its result, or -1.
int RunAsNobody(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(99);
        _exit(body());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

class ControlSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = temp_.Sub("run/");
        backupNow_ = events_.Create("BackupNow");
        ASSERT_TRUE(server_.Start(folder_, kTitle));
    }

    bool Pending(const EventHandle& event) { return events_.WaitAny({event}, 0) == 0; }

    TempDir temp_;
    std::string folder_;
    NamedEvents events_;
    EventHandle backupNow_;
    ControlServer server_{events_};
};

TEST_F(ControlSocketTest, SignalReachesTheNamedEvent) {
    EXPECT_EQ(server_.Address(), folder_ + "TessarineTool.sock");
    EXPECT_EQ(ControlClient::Signal(folder_, kTitle, "BackupNow"), kControlDelivered);
    EXPECT_TRUE(Pending(backupNow_));

    EXPECT_EQ(ControlClient::Signal(folder_, kTitle, "Nope"), kControlUnknownName);
    EXPECT_FALSE(Pending(backupNow_));
}

TEST_F(ControlSocketTest, AnswersByRequest) {
    struct Case {
        const char* what;
        std::string request;
        bool endSending;
        const char* answer;
        bool signalled;
    };
    const Case cases[] = {
        {"signal", "SIGNAL BackupNow\n", false, "OK\n", true},
        {"CR LF", "SIGNAL BackupNow\r\n", false, "OK\n", true},
        {"unknown", "SIGNAL Nope\n", false, "UNKNOWN\n", false},
        {"verb case", "signal BackupNow\n", false, "BAD\n", false},
        {"no name", "SIGNAL \n", false, "BAD\n", false},
        {"other verb", "HELLO\n", false, "BAD\n", false},
        {"control char", std::string("SIGNAL Backup\x01Now\n"), false, "BAD\n", false},
        {"no newline", "SIGNAL BackupNow", true, "BAD\n", false},
        {"oversize", std::string(kControlRequestMax * 4, 'A'), false, "BAD\n", false},
        {"oversize line", "SIGNAL " + std::string(kControlRequestMax, 'B') + "\n", false, "BAD\n",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Exchange(server_.Address(), c.request, c.endSending), c.answer);
        EXPECT_EQ(Pending(backupNow_), c.signalled);
    }
}

TEST_F(ControlSocketTest, SilentClientTimesOutAndTheNextIsServed) {
    server_.Stop();
    server_.SetReadTimeout(200ms);
    ASSERT_TRUE(server_.Start(folder_, kTitle));
    const int silent = Connect(server_.Address());
    ASSERT_GE(silent, 0);
    EXPECT_EQ(ControlClient::Signal(folder_, kTitle, "BackupNow"), kControlDelivered);
    EXPECT_EQ(ReadAll(silent), "BAD\n");
    close(silent);
    EXPECT_TRUE(Pending(backupNow_));
}

// Connections are served side by side: silent clients delay nobody, and past the cap the one
// that has waited longest is dropped.
TEST_F(ControlSocketTest, SilentClientsDelayNobodyAndAreCapped) {
    std::vector<int> silent;
    for (std::size_t i = 0; i < kControlMaxConnections + 4; ++i) {
        silent.push_back(Connect(server_.Address()));
        ASSERT_GE(silent.back(), 0);
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ControlClient::Signal(folder_, kTitle, "BackupNow"), kControlDelivered);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_TRUE(Pending(backupNow_));
    // The oldest were answered at once to make room (their own deadline is 2 s away).
    EXPECT_EQ(ReadAll(silent.front()), "BAD\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    for (int fd : silent) close(fd);
}

// A claim is kept exactly as long as its client's connection: past the read time-out, past
// the connection cap, and given back when the client goes or the server stops.
TEST_F(ControlSocketTest, HeldClaimLastsAsLongAsItsClient) {
    server_.Stop();
    std::atomic<int> flag{0};
    std::atomic<int> releases{0};
    server_.SetHoldHandlers(
        [&](const std::string& name) {
            if (name != "BackupRunning") return kHoldUnknown;
            int idle = 0;
            return flag.compare_exchange_strong(idle, 1) ? kHoldGranted : kHoldBusy;
        },
        [&](const std::string&) {
            flag.store(0);
            ++releases;
        });
    server_.SetReadTimeout(100ms);
    ASSERT_TRUE(server_.Start(folder_, kTitle));
    auto waitFor = [](const std::function<bool()>& done) {
        for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(10ms);
        return done();
    };

    ControlHold hold;
    EXPECT_EQ(kControlDelivered, hold.Acquire(folder_, kTitle, "BackupRunning"));
    EXPECT_EQ(1, flag.load());
    ControlHold second;
    EXPECT_EQ(kControlBusy, second.Acquire(folder_, kTitle, "BackupRunning"));
    EXPECT_FALSE(second.IsHeld());
    EXPECT_EQ(kControlUnknownName, second.Acquire(folder_, kTitle, "Other"));
    // Longer than the read time-out, and more connections than the cap.
    std::this_thread::sleep_for(300ms);
    std::vector<int> silent;
    for (std::size_t i = 0; i < kControlMaxConnections + 2; ++i)
        silent.push_back(Connect(server_.Address()));
    EXPECT_EQ(ControlClient::Signal(folder_, kTitle, "BackupNow"), kControlDelivered);
    for (int fd : silent) close(fd);
    EXPECT_EQ(1, flag.load());
    EXPECT_EQ(0, releases.load());

    hold.Release();
    EXPECT_TRUE(waitFor([&] { return releases.load() == 1; }));
    EXPECT_EQ(0, flag.load());

    // A client that ends without a word gives it back too; so does the server's stop.
    const pid_t child = fork();
    if (child == 0) {
        ControlHold held;
        _exit(held.Acquire(folder_, kTitle, "BackupRunning") == kControlDelivered ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_TRUE(waitFor([&] { return releases.load() == 2; }));
    EXPECT_EQ(kControlDelivered, hold.Acquire(folder_, kTitle, "BackupRunning"));
    server_.Stop();
    EXPECT_EQ(3, releases.load());
    EXPECT_EQ(0, flag.load());
}

TEST_F(ControlSocketTest, RunRequestHandsTheConnectionToItsHandler) {
    server_.Stop();
    std::vector<int> taken;
    server_.SetRunHandler([&](const std::string& name, int fd) {
        if (name == "Busy") {
            send(fd, kControlAnswerBusy, std::strlen(kControlAnswerBusy), MSG_NOSIGNAL);
            close(fd);
            return true;
        }
        if (name != "Backup") return false;
        // The answer and the first report lines in one piece: the client keeps what follows.
        const std::string report =
            std::string(taken.empty() ? kControlAnswerStarted : kControlAnswerRunning) +
            "PROGRESS 1 2\nRESULT 0\n";
        taken.push_back(fd);  // before the client can read
        send(fd, report.data(), report.size(), MSG_NOSIGNAL);
        return true;
    });
    server_.SetReadTimeout(100ms);
    ASSERT_TRUE(server_.Start(folder_, kTitle));

    ControlRun run;
    ASSERT_EQ(kControlDelivered, run.Start(folder_, kTitle, "Backup"));
    std::this_thread::sleep_for(300ms);  // past the read time-out: the server let it go
    std::string line;
    ASSERT_TRUE(run.ReadLine(line));
    EXPECT_EQ("PROGRESS 1 2", line);
    ASSERT_TRUE(run.ReadLine(line));
    EXPECT_EQ("RESULT 0", line);
    ASSERT_EQ(1u, taken.size());
    close(taken[0]);
    EXPECT_FALSE(run.ReadLine(line));  // the handler closed it

    EXPECT_EQ(kControlAlreadyRunning, run.Start(folder_, kTitle, "Backup"));
    ASSERT_TRUE(run.ReadLine(line));
    EXPECT_EQ("PROGRESS 1 2", line);
    close(taken[1]);
    EXPECT_EQ(kControlBusy, run.Start(folder_, kTitle, "Busy"));
    EXPECT_FALSE(run.ReadLine(line));
    EXPECT_EQ(kControlUnknownName, run.Start(folder_, kTitle, "Other"));
    EXPECT_EQ("UNKNOWN\n", Exchange(server_.Address(), "RUN Other\n"));
    EXPECT_EQ(2u, taken.size());
    // Signals are still what they were.
    EXPECT_EQ(ControlClient::Signal(folder_, kTitle, "BackupNow"), kControlDelivered);
}

TEST_F(ControlSocketTest, StopEndsAtOnceAndRemovesTheSocket) {
    const int silent = Connect(server_.Address());  // would hold a request for 2 s
    ASSERT_GE(silent, 0);
    const auto start = std::chrono::steady_clock::now();
    server_.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(server_.IsRunning());
    EXPECT_FALSE(std::filesystem::exists(folder_ + "TessarineTool.sock"));
    EXPECT_EQ(ControlClient::Signal(folder_, kTitle, "BackupNow"), kControlNoInstance);
    close(silent);
    server_.Stop();  // twice is harmless
}

TEST_F(ControlSocketTest, OwnerOnlyPermissions) {
    struct stat info {};
    ASSERT_EQ(stat(server_.Address().c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(stat(folder_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    // A folder others can enter, or a file in the socket's place, is refused.
    ControlServer other(events_);
    const std::string open = temp_.Sub("open");
    ASSERT_EQ(mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(chmod(open.c_str(), 0755), 0);
    EXPECT_FALSE(other.Start(open, kTitle));
    const std::string taken = temp_.Sub("taken");
    ASSERT_EQ(mkdir(taken.c_str(), 0700), 0);
    ASSERT_TRUE(testing::WriteFile(taken + "/TessarineTool.sock", "mine"));
    EXPECT_FALSE(other.Start(taken, kTitle));
    EXPECT_EQ(testing::ReadFile(taken + "/TessarineTool.sock"), "mine");
}

TEST(ControlSocketNoServerTest, NoInstanceAndStaleSocket) {
    TempDir temp;
    const std::string folder = temp.Path() + "/";
    EXPECT_EQ(ControlClient::Signal(temp.Sub("missing/"), kTitle, "BackupNow"), kControlNoInstance);
    EXPECT_EQ(ControlClient::Signal(folder, kTitle, "BackupNow"), kControlNoInstance);

    // A socket file left by an instance that was killed: nobody answers, and a new server
    // takes its place.
    {
        sockaddr_un un{};
        un.sun_family = AF_UNIX;
        const std::string path = ControlSocketPath(folder, kTitle);
        std::memcpy(un.sun_path, path.data(), path.size());
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&un), sizeof(un)), 0);
        close(fd);
        ASSERT_TRUE(std::filesystem::exists(path));
    }
    EXPECT_EQ(ControlClient::Signal(folder, kTitle, "BackupNow"), kControlNoInstance);
    NamedEvents events;
    events.Create("BackupNow");
    ControlServer server(events);
    ASSERT_TRUE(server.Start(folder, kTitle));
    EXPECT_EQ(ControlClient::Signal(folder, kTitle, "BackupNow"), kControlDelivered);
}

TEST(ControlSocketNoServerTest, MalformedNamesAreNotSentAndSayWhy) {
    TempDir temp;
    struct Case {
        std::string name;
        const char* problem;
    };
    const Case cases[] = {
        {"", "is empty"},
        {"Backup\nNow", "contains a control character"},
        {std::string(kControlRequestMax, 'x'), "is longer than 248 bytes"},
        {std::string(249, 'x'), "is longer than 248 bytes"},
        {std::string(248, 'x'), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.size());
        EXPECT_EQ(ControlNameProblem(c.name), c.problem);
        EXPECT_EQ(ControlClient::Signal(temp.Path(), kTitle, c.name),
                  *c.problem != 0 ? kControlBadName : kControlNoInstance);
    }
}

// A folder too deep for a socket path: both ends reach the socket file through the folder's
// descriptor, so no name outside the private folder is used.
std::string MakeDeepFolder(const TempDir& temp) {
    std::string folder = temp.Path();
    while (folder.size() < 120) folder += "/deeper-and-deeper";
    std::filesystem::create_directories(folder);
    chmod(folder.c_str(), 0700);
    return folder + "/";
}

TEST(ControlSocketLongPathTest, LongFolderAndLongTitleStillReachTheSocketFile) {
    TempDir temp;
    const std::string folder = MakeDeepFolder(temp);
    const std::string longTitle(100, 't');
    for (const std::string& title : {std::string(kTitle), longTitle}) {
        SCOPED_TRACE(title);
        NamedEvents events;
        const EventHandle event = events.Create("BackupNow");
        ControlServer server(events);
        ASSERT_TRUE(server.Start(folder, title));
        EXPECT_EQ(server.Address(), ControlSocketPath(folder, title));
        EXPECT_EQ(server.Address().rfind(folder, 0), 0u);
        struct stat info {};
        ASSERT_EQ(lstat(server.Address().c_str(), &info), 0);
        EXPECT_TRUE(S_ISSOCK(info.st_mode));
        EXPECT_EQ(ControlClient::Signal(folder, title, "BackupNow"), kControlDelivered);
        EXPECT_EQ(events.WaitAny({event}, 0), 0u);
        server.Stop();
        EXPECT_NE(lstat(server.Address().c_str(), &info), 0);
        EXPECT_EQ(ControlClient::Signal(folder, title, "BackupNow"), kControlNoInstance);
    }
    EXPECT_EQ(ControlSocketFileName(longTitle).size(), 21u);  // 16 hex digits and ".sock"
}

TEST(ControlSocketOtherUserTest, AnotherUserCannotSignal) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    TempDir temp;
    chmod(temp.Path().c_str(), 0755);
    NamedEvents events;
    const EventHandle event = events.Create("BackupNow");

    // The socket file: its 0700 folder keeps the other user out.
    const std::string folder = temp.Sub("run/");
    ControlServer fileServer(events);
    ASSERT_TRUE(fileServer.Start(folder, kTitle));
    EXPECT_EQ(RunAsNobody([&] { return ControlClient::Signal(folder, kTitle, "BackupNow"); }),
              kControlFailed);

    // A long folder path is reached through the folder: its 0700 mode still keeps nobody out.
    const std::string deep = MakeDeepFolder(temp);
    ControlServer deepServer(events);
    ASSERT_TRUE(deepServer.Start(deep, kTitle));
    EXPECT_EQ(RunAsNobody([&] { return ControlClient::Signal(deep, kTitle, "BackupNow"); }),
              kControlFailed);
    EXPECT_EQ(events.WaitAny({event}, 0), kWaitTimeout);
}

// Another user cannot take the name first: the private folder it would have to be made in is
// ours, and a folder of theirs is refused rather than used.
TEST(ControlSocketOtherUserTest, AFolderPreparedByAnotherUserIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    TempDir temp;
    chmod(temp.Path().c_str(), 0777);
    const std::string folder = temp.Sub("run/");
    ASSERT_EQ(RunAsNobody([&] {
                  if (mkdir(folder.c_str(), 0700) != 0) return 1;
                  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
                  sockaddr_un un{};
                  un.sun_family = AF_UNIX;
                  const std::string path = folder + "TessarineTool.sock";
                  std::memcpy(un.sun_path, path.data(), path.size());
                  return bind(fd, reinterpret_cast<sockaddr*>(&un), sizeof(un)) == 0 ? 0 : 2;
              }),
              0);
    NamedEvents events;
    ControlServer server(events);
    EXPECT_FALSE(server.Start(folder, kTitle));
    EXPECT_NE(server.Problem().find("must belong to user 0"), std::string::npos)
        << server.Problem();
}

}  // namespace
}  // namespace tessarine
