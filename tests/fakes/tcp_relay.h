// A TCP relay on 127.0.0.1 in front of a server's port, that lets a test act on the transfers
// through it at a point it chooses: once the first connection has sent a given number of bytes
// towards the server. The bytes wait for the action, so a copy that large is still under way
// when it comes, however loaded the machine (a thread that polls may find the copy already made).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tessarine::testing {

class TcpRelay {
public:
    // Joins every connection to 127.0.0.1:`serverPort`. When the first connection has sent
    // `bytes` towards the server, `act` runs once (on a relay thread, before those bytes pass
    // on, every other connection's bytes waiting meanwhile). When it returns true the server is
    // taken for frozen: from then on nothing passes either way, and new connections are held
    // unanswered.
    TcpRelay(int serverPort, std::uint64_t bytes, std::function<bool()> act);
    // Ends every connection.
    ~TcpRelay();
    TcpRelay(const TcpRelay&) = delete;
    TcpRelay& operator=(const TcpRelay&) = delete;

    // The port to connect to; 0 when the relay could not listen.
    int Port() const { return port_; }
    // True once `act` ran.
    bool Acted() const;

private:
    struct Link {
        int client = -1;
        int server = -1;
        std::uint64_t sent = 0;  // towards the server
    };

    void Accept();
    // Passes what `from` sends on to `to` until either end closes; `sent` counts the bytes
    // towards the server (nullptr the other way).
    void Pass(int from, int to, std::uint64_t* sent);
    // Counts `count` more bytes and acts when they reach the mark; false when nothing may pass
    // any more (frozen until the relay ends).
    bool MayPass(std::uint64_t* sent, std::size_t count);

    const int serverPort_;
    const std::uint64_t bytes_;
    const std::function<bool()> act_;
    int listener_ = -1;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable ended_;
    bool acted_ = false;
    bool frozen_ = false;
    bool stopping_ = false;
    std::vector<std::unique_ptr<Link>> links_;
    std::vector<std::thread> passers_;  // two per link with a server end; only Accept adds
    std::thread acceptor_;
};

}  // namespace tessarine::testing
