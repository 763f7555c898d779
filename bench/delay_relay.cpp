// A TCP relay that gives a loopback SMB server the round trip and rate of a LAN link, for
// `bench/backup_bench.sh link` (the kernel here has no netem queueing discipline).
//
//   delay_relay LISTEN_ADDRESS LISTEN_PORT TARGET_PORT DELAY_US RATE_MBIT
//
// Every connection to LISTEN_ADDRESS:LISTEN_PORT is joined to 127.0.0.1:TARGET_PORT. Bytes are
// held DELAY_US microseconds in each direction and all connections together pass no more than
// RATE_MBIT megabits per second each way (0: no limit), as on a link with that one-way delay
// and rate.
//
// The relay shares the processors with both ends of the link it stands for, so it spends as
// little as it can per segment: one thread per connection waits on both sockets and on the
// next segment's time in one ppoll, and reads into one buffer.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::chrono::microseconds delay{0};
    double bytesPerSecond = 0;  // 0: no limit
};

// One direction of the link, shared by every connection: bytes leave one after another.
class Line {
public:
    // When `bytes` sent at `now` arrive at the far end.
    Clock::time_point Send(Clock::time_point now, std::size_t bytes, const Options& options) {
        std::lock_guard lock(mutex_);
        Clock::time_point leaves = std::max(now, free_);
        if (options.bytesPerSecond > 0)
            leaves += std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(static_cast<double>(bytes) / options.bytesPerSecond));
        free_ = leaves;
        return leaves + options.delay;
    }

private:
    std::mutex mutex_;
    Clock::time_point free_{};
};

Line upLine;    // towards the server
Line downLine;  // towards the clients

constexpr std::size_t kHeldLimit =
    8u << 20;  // bounded like a socket buffer: the sender feels the link

// One direction of one connection: what was read from `from` and is on its way to `to`.
struct Way {
    Way(int from, int to, Line& line) : from(from), to(to), line(line) {}

    int from;
    int to;
    Line& line;
    struct Segment {
        Clock::time_point arrives;
        std::vector<char> bytes;
        std::size_t sent = 0;
    };
    std::deque<Segment> segments;
    std::size_t held = 0;
    bool readEnded = false;
    bool writeShut = false;
    bool waitingToWrite = false;  // the far socket is full

    bool CanRead() const { return !readEnded && held < kHeldLimit; }
    bool Done() const { return writeShut; }

    // Reads what `from` has; false on a failure that ends the connection.
    bool Read(std::vector<char>& buffer, const Options& options) {
        const ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) return true;
        if (got <= 0) {
            readEnded = true;
            return got == 0;
        }
        const auto size = static_cast<std::size_t>(got);
        segments.push_back({line.Send(Clock::now(), size, options),
                            std::vector<char>(buffer.data(), buffer.data() + size)});
        held += size;
        return true;
    }

    // Writes every segment that has arrived; false on a failure that ends the connection.
    bool WriteArrived(Clock::time_point now) {
        waitingToWrite = false;
        while (!segments.empty() && segments.front().arrives <= now) {
            Segment& segment = segments.front();
            const ssize_t n = ::send(to, segment.bytes.data() + segment.sent,
                                     segment.bytes.size() - segment.sent, MSG_NOSIGNAL);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                waitingToWrite = true;
                return true;
            }
            if (n <= 0) return false;
            segment.sent += static_cast<std::size_t>(n);
            if (segment.sent < segment.bytes.size()) continue;
            held -= segment.bytes.size();
            segments.pop_front();
        }
        if (segments.empty() && readEnded && !writeShut) {
            ::shutdown(to, SHUT_WR);
            writeShut = true;
        }
        return true;
    }

    // When this direction next has something to write, if it waits on the clock.
    std::optional<Clock::time_point> NextArrival() const {
        if (segments.empty() || waitingToWrite) return std::nullopt;
        return segments.front().arrives;
    }
};

void NoDelayNonBlocking(int socket) {
    const int on = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    ::fcntl(socket, F_SETFL, ::fcntl(socket, F_GETFL) | O_NONBLOCK);
}

void Relay(int client, int server, const Options& options) {
    // The default 50 us of timer slack would lengthen every hop by up to a third of a LAN's
    // delay.
    ::prctl(PR_SET_TIMERSLACK, 1UL);
    NoDelayNonBlocking(client);
    NoDelayNonBlocking(server);
    Way up(client, server, upLine);
    Way down(server, client, downLine);
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (!up.WriteArrived(now) || !down.WriteArrived(now)) return;
        if (up.Done() && down.Done()) return;

        // client's events: reading `up`, writing `down`; server's the other way round.
        pollfd fds[2] = {
            {client,
             static_cast<short>((up.CanRead() ? POLLIN : 0) | (down.waitingToWrite ? POLLOUT : 0)),
             0},
            {server,
             static_cast<short>((down.CanRead() ? POLLIN : 0) | (up.waitingToWrite ? POLLOUT : 0)),
             0},
        };
        std::optional<Clock::time_point> wake = up.NextArrival();
        if (const auto other = down.NextArrival(); other && (!wake || *other < *wake)) wake = other;
        timespec timeout{};
        if (wake) {
            const auto wait = std::max(Clock::duration::zero(), *wake - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
            timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
            timeout.tv_nsec = static_cast<long>(ns % 1000000000);
        }
        if (::ppoll(fds, 2, wake ? &timeout : nullptr, nullptr) < 0 && errno != EINTR) return;

        // A hang-up or error is read as the end of that side (read returns 0 or fails).
        const short readable = POLLIN | POLLHUP | POLLERR;
        if ((fds[0].revents & readable) && up.CanRead() && !up.Read(buffer, options)) return;
        if ((fds[1].revents & readable) && down.CanRead() && !down.Read(buffer, options)) return;
    }
}

void Join(int client, int targetPort, const Options& options) {
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<std::uint16_t>(targetPort));
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (server < 0 ||
        ::connect(server, reinterpret_cast<sockaddr*>(&target), sizeof(target)) != 0) {
        std::perror("delay_relay: connect");
        ::close(client);
        if (server >= 0) ::close(server);
        return;
    }
    Relay(client, server, options);
    ::close(client);
    ::close(server);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr,
                     "usage: %s LISTEN_ADDRESS LISTEN_PORT TARGET_PORT DELAY_US RATE_MBIT\n",
                     argv[0]);
        return 2;
    }
    const int listenPort = std::atoi(argv[2]);
    const int targetPort = std::atoi(argv[3]);
    static Options options;
    options.delay = std::chrono::microseconds(std::atol(argv[4]));
    options.bytesPerSecond = std::atof(argv[5]) * 1e6 / 8;

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(listenPort));
    if (::inet_pton(AF_INET, argv[1], &address.sin_addr) != 1 ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener, 64) != 0) {
        std::perror("delay_relay: listen");
        return 1;
    }
    for (;;) {
        const int client = ::accept(listener, nullptr, nullptr);
        if (client < 0) continue;
        std::thread([client, targetPort] { Join(client, targetPort, options); }).detach();
    }
}
