#include "app/desktop_start.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/posix/control_socket.h"

namespace tessarine {
namespace {

// How long a started program may take to show its tray and take requests.
constexpr std::chrono::seconds kStartWait{30};
constexpr std::chrono::milliseconds kRetryEvery{200};

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool ConnectsTo(const std::string& path, bool abstract) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;  // an abstract name starts with a zero byte
    if (path.size() + offset >= sizeof address.sun_path) {
        ::close(fd);
        return false;
    }
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
    ::close(fd);
    return connected;
}

}  // namespace

std::string DisplayProblem() {
    const std::string platform = Environment("QT_QPA_PLATFORM");
    if (!platform.empty() && platform.rfind("xcb", 0) != 0) return "";  // offscreen, wayland...
    const std::string display = Environment("DISPLAY");
    if (display.empty()) {
        if (platform.empty() && !Environment("WAYLAND_DISPLAY").empty()) return "";
        return "no display: DISPLAY is not set";
    }
    // ":N", ":N.S" or "unix:N" is a local server with its socket under /tmp/.X11-unix; a
    // display on another host is left to Qt.
    std::string rest = display;
    if (rest.rfind("unix:", 0) == 0) rest = rest.substr(4);
    if (rest.empty() || rest[0] != ':') return "";
    const std::string number = rest.substr(1, rest.find('.') - 1);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return "";
    const std::string socket = "/tmp/.X11-unix/X" + number;
    if (ConnectsTo(socket, false) || ConnectsTo(socket, true)) return "";
    return "cannot reach the X display " + display;
}

int StartInstanceAndSignal(const std::string& event) {
    // The program's own path, so that the process is named after it (not "exe").
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return kControlNoInstance;
    self[length] = '\0';
    const pid_t child = ::fork();
    if (child < 0) return kControlNoInstance;
    if (child == 0) {
        // The program outlives this command and its terminal.
        ::setsid();
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) ::dup2(null, fd);
            if (null > STDERR_FILENO) ::close(null);
        }
        ::execl(self, self, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const auto end = std::chrono::steady_clock::now() + kStartWait;
    int result = kControlNoInstance;
    bool running = true;
    while (std::chrono::steady_clock::now() < end) {
        result = ControlClient::Signal(event);
        if (result == kControlDelivered) return result;
        // Another instance that won the start takes the request as well; one of ours that
        // ended (no display, a failed start) does not come.
        if (running) {
            int status = 0;
            running = ::waitpid(child, &status, WNOHANG) == 0;
        }
        if (!running && result == kControlNoInstance) return result;
        std::this_thread::sleep_for(kRetryEvery);
    }
    return result;
}

}  // namespace tessarine
