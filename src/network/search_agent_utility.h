// The server search: for every network adapter, broadcast the XML request on the search port,
// collect the answers that arrive on the response port until the network falls silent, and keep
// the devices of the supported model. Runs on the caller's thread; one receive thread per
// adapter fills a queue that the caller's thread parses.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "network/network_adapters.h"
#include "network/search_agent_response.h"
#include "network/udp_blocking_socket.h"

namespace tessarine {

struct SearchAgentOptions {
    // Where the request goes: the limited broadcast address in the program; tests use a
    // loopback address so that nothing leaves the machine.
    std::string destinationAddress = "255.255.255.255";
    // The first response port tried; the port that binds stays for the rest of the search.
    std::uint16_t responsePort = 61000;
    int sendTimeoutSeconds = 60000;
    // Upper bound of one adapter's receive thread; it ends earlier at the first second without
    // an answer. 0 starts no receive thread.
    int receiveWindowSeconds = 60000;
};

class CSearchAgentUtility {
public:
    static constexpr char kModelName[] = "QZV-4070";
    static constexpr std::uint16_t kDefaultSearchPort = 61000;
    static constexpr int kBindAttempts = 10;
    // Answers beyond this many waiting in the queue are dropped (a flood is not a device list).
    static constexpr std::size_t kMaxQueuedDatagrams = 256;
    // Devices kept by one search. An answer beyond them ends the search: a LAN with this many
    // devices of the model answering is a flood, and the list stays what it has.
    static constexpr std::size_t kMaxKeptAnswers = 256;

    // CreateUDPSocket flags.
    static constexpr int kReceiveSocket = 1;
    static constexpr int kSendSocket = 2;
    static constexpr int kBroadcast = 4;

    explicit CSearchAgentUtility(const NetworkAdapterSource& adapters,
                                 SearchAgentOptions options = {});
    ~CSearchAgentUtility();
    CSearchAgentUtility(const CSearchAgentUtility&) = delete;
    CSearchAgentUtility& operator=(const CSearchAgentUtility&) = delete;

    // Empties `result` and fills it with the devices found. 0 when at least one was found;
    // otherwise -1 when an adapter step failed or the adapters cannot be listed, else 0.
    int SearchServers(std::vector<CSearchAgentResponse>& result, std::uint16_t searchPort);

    std::uint16_t ResponsePort() const { return responsePort_; }

    // 1 on success, 0 on failure (logged). kReceiveSocket binds the receive socket to `port` on
    // the adapter address ("" for any); kSendSocket creates the send socket bound to the
    // adapter address, so that a broadcast leaves through that adapter; kBroadcast allows
    // broadcasting on it.
    int CreateUDPSocket(int flags, const std::string& address, std::uint16_t port = 0);
    void CloseSockets();

    // The received-data queue, shared by the receive thread and the searching thread.
    void PushReceivedData(const void* data, std::size_t size);
    // The oldest datagram (it stays queued until PopReceivedData); waits while the receive
    // thread runs. False when the queue is empty and no receive thread runs.
    bool WaitReceivedData(std::string& datagram);
    void PopReceivedData();
    void ClearReceivedData();

private:
    void ReceiveThreadProc();
    bool StartReceiveThread();
    void JoinReceiveThread();
    void SendServerRequest(const std::string& request);
    // Parses and filters the queued answers until the receive thread has ended. False when
    // the result is full (the receive thread is told to stop, the rest is dropped).
    bool CollectResponses(std::vector<CSearchAgentResponse>& result);

    const NetworkAdapterSource& adapters_;
    SearchAgentOptions options_;
    std::uint16_t searchPort_ = kDefaultSearchPort;
    std::uint16_t responsePort_;

    CUDPBlockingSocket sendSocket_;
    CUDPBlockingSocket receiveSocket_;

    std::mutex queueMutex_;
    std::condition_variable dataEvent_;
    std::deque<std::string> queue_;  // guarded by queueMutex_
    bool receiving_ = false;         // guarded by queueMutex_: the receive thread runs
    std::atomic<bool> stopReceiving_{false};
    std::thread receiveThread_;
};

}  // namespace tessarine
