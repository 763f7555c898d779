// A TCP relay that gives a loopback SMB server the round trip and rate of a LAN link, for
// `bench/backup_bench.sh link` (the kernel here has no netem queueing discipline).
//
//   delay_relay LISTEN_ADDRESS LISTEN_PORT TARGET_PORT DELAY_US RATE_MBIT
//
// Every connection to LISTEN_ADDRESS:LISTEN_PORT is joined to 127.0.0.1:TARGET_PORT. Bytes are
// held DELAY_US microseconds in each direction and all connections together pass no more than
// RATE_MBIT megabits per second each way (0: no limit), as on a link with that one-way delay
// and rate.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
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
    // When `bytes` due at `due` have left the line.
    Clock::time_point Send(Clock::time_point due, std::size_t bytes, double bytesPerSecond) {
        std::lock_guard lock(mutex_);
        Clock::time_point leaves = std::max(due, free_);
        if (bytesPerSecond > 0)
            leaves += std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(static_cast<double>(bytes) / bytesPerSecond));
        free_ = leaves;
        return leaves;
    }

private:
    std::mutex mutex_;
    Clock::time_point free_{};
};

Line upLine;    // towards the server
Line downLine;  // towards the clients

// One direction of one connection: a reader stamps what arrives, a writer sends it on when due.
class Direction {
public:
    Direction(int from, int to, Line& line, const Options& options)
        : from_(from), to_(to), line_(line), options_(options) {}

    void Run() {
        std::thread writer([this] { Write(); });
        Read();
        writer.join();
    }

private:
    struct Chunk {
        Clock::time_point due;
        std::vector<char> bytes;
    };

    void Read() {
        for (;;) {
            std::vector<char> buffer(256 * 1024);
            const ssize_t got = ::read(from_, buffer.data(), buffer.size());
            std::unique_lock lock(mutex_);
            if (got <= 0) {
                ended_ = true;
                changed_.notify_all();
                return;
            }
            buffer.resize(static_cast<std::size_t>(got));
            // Bounded like a socket buffer: the sender feels the link.
            changed_.wait(lock, [this] { return held_ < (8u << 20) || failed_; });
            if (failed_) return;
            held_ += buffer.size();
            chunks_.push_back({Clock::now() + options_.delay, std::move(buffer)});
            changed_.notify_all();
        }
    }

    void Write() {
        for (;;) {
            Chunk chunk;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return !chunks_.empty() || ended_; });
                if (chunks_.empty()) break;
                chunk = std::move(chunks_.front());
                chunks_.pop_front();
            }
            // The chunk arrives once it is due after its delay and the line has carried it.
            std::this_thread::sleep_until(
                line_.Send(chunk.due, chunk.bytes.size(), options_.bytesPerSecond));
            for (std::size_t sent = 0; sent < chunk.bytes.size();) {
                const ssize_t n =
                    ::write(to_, chunk.bytes.data() + sent, chunk.bytes.size() - sent);
                if (n <= 0) {
                    std::lock_guard lock(mutex_);
                    failed_ = true;
                    changed_.notify_all();
                    ::shutdown(from_, SHUT_RD);
                    return;
                }
                sent += static_cast<std::size_t>(n);
            }
            std::lock_guard lock(mutex_);
            held_ -= chunk.bytes.size();
            changed_.notify_all();
        }
        ::shutdown(to_, SHUT_WR);
    }

    int from_;
    int to_;
    Line& line_;
    const Options& options_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Chunk> chunks_;
    std::size_t held_ = 0;
    bool ended_ = false;
    bool failed_ = false;
};

void NoDelay(int socket) {
    const int on = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
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
    NoDelay(client);
    NoDelay(server);
    Direction up(client, server, upLine, options);
    Direction down(server, client, downLine, options);
    std::thread upThread([&] { up.Run(); });
    down.Run();
    upThread.join();
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
