#include "network/search_agent_utility.h"

#include <arpa/inet.h>

#include <cerrno>
#include <chrono>
#include <system_error>

#include "base/app_log.h"
#include "network/blocking_socket_exception.h"
#include "network/search_agent_xml_exception.h"
#include "network/search_agent_xml_utility.h"

namespace tessarine {

namespace {

// The IPv4 address of the text on `port`; false when the text is not an IPv4 address.
bool MakeAddress(const std::string& text, std::uint16_t port, sockaddr_in& address) {
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (text.empty()) {
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return inet_pton(AF_INET, text.c_str(), &address.sin_addr) == 1;
}

}  // namespace

CSearchAgentUtility::CSearchAgentUtility(const NetworkAdapterSource& adapters,
                                         SearchAgentOptions options)
    : adapters_(adapters), options_(std::move(options)), responsePort_(options_.responsePort) {}

CSearchAgentUtility::~CSearchAgentUtility() {
    JoinReceiveThread();
    CloseSockets();
}

int CSearchAgentUtility::CreateUDPSocket(int flags, const std::string& address,
                                         std::uint16_t port) {
    LOG_METHOD();
    try {
        sockaddr_in local{};
        if (!MakeAddress(address, port, local)) {
            LOG_ERROR("Invalid Adapter Address:" + address);
            return 0;
        }
        if (flags & kReceiveSocket) {
            ClearReceivedData();
            receiveSocket_.Create();
            receiveSocket_.Bind(local);
        } else if (flags & kSendSocket) {
            sendSocket_.Create();
            local.sin_port = 0;
            sendSocket_.Bind(local);
            if (flags & kBroadcast) sendSocket_.SetBroadcast();
        }
        return 1;
    } catch (const CBlockingSocketException& e) {
        LOG_ERROR(e.GetErrorMessage());
        return 0;
    }
}

void CSearchAgentUtility::CloseSockets() {
    for (CUDPBlockingSocket* socket : {&receiveSocket_, &sendSocket_}) {
        try {
            socket->Close();
        } catch (const CBlockingSocketException& e) {
            LOG_ERROR(e.GetErrorMessage());
        }
    }
}

void CSearchAgentUtility::PushReceivedData(const void* data, std::size_t size) {
    if (data == nullptr || size == 0) return;
    {
        std::lock_guard lock(queueMutex_);
        if (queue_.size() >= kMaxQueuedDatagrams) {
            LOG_ERROR("Receive Queue Full. Datagram Dropped. Size:" + std::to_string(size));
            return;
        }
        queue_.emplace_back(static_cast<const char*>(data), size);
    }
    dataEvent_.notify_all();
}

bool CSearchAgentUtility::WaitReceivedData(std::string& datagram) {
    std::unique_lock lock(queueMutex_);
    dataEvent_.wait(lock, [this] { return !queue_.empty() || !receiving_; });
    if (queue_.empty()) {
        datagram.clear();
        return false;
    }
    datagram = queue_.front();
    return true;
}

void CSearchAgentUtility::PopReceivedData() {
    std::lock_guard lock(queueMutex_);
    if (!queue_.empty()) queue_.pop_front();
}

void CSearchAgentUtility::ClearReceivedData() {
    std::lock_guard lock(queueMutex_);
    queue_.clear();
}

void CSearchAgentUtility::ReceiveThreadProc() {
    LOG_BANNER("CSearchAgentUtility::ReceiveThreadProc Start up");
    LOG_TRACE("Begin receiving. Port;" + std::to_string(responsePort_) +
              " Timeout:" + std::to_string(options_.receiveWindowSeconds));
    std::string buffer(CUDPBlockingSocket::kMaxDatagramSize, '\0');
    const auto start = std::chrono::steady_clock::now();
    const auto window = std::chrono::seconds(options_.receiveWindowSeconds);
    try {
        while (std::chrono::steady_clock::now() - start < window && !stopReceiving_) {
            sockaddr_in sender{};
            std::size_t count = 0;
            try {
                count = receiveSocket_.ReceiveDatagram(buffer.data(), sender);
            } catch (const CBlockingSocketException& e) {
                // An over-long datagram is somebody else's: skip it, keep listening.
                if (e.GetErrorCode() != CBlockingSocketException::kReceiveDatagram ||
                    e.GetSocketError() != EMSGSIZE)
                    throw;
                LOG_ERROR("Oversized Datagram Skipped. " + e.GetErrorMessage());
                continue;
            }
            char from[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &sender.sin_addr, from, sizeof from);
            LOG_TRACE("Recieved Size:" + std::to_string(count) + " From:" + from);
            PushReceivedData(buffer.data(), count);
        }
        LOG_TRACE("End receiving");
    } catch (const CBlockingSocketException& e) {
        // The usual end: one second without an answer.
        if (e.GetErrorCode() == CBlockingSocketException::kReceiveDatagramTimeout)
            LOG_TRACE("End receiving. " + e.GetErrorMessage());
        else
            LOG_ERROR(e.GetErrorMessage());
    }
    {
        std::lock_guard lock(queueMutex_);
        receiving_ = false;
    }
    dataEvent_.notify_all();
    LOG_BANNER("CSearchAgentUtility::ReceiveThreadProc Finish");
}

bool CSearchAgentUtility::StartReceiveThread() {
    {
        std::lock_guard lock(queueMutex_);
        receiving_ = true;
    }
    stopReceiving_ = false;
    try {
        receiveThread_ = std::thread(&CSearchAgentUtility::ReceiveThreadProc, this);
        return true;
    } catch (const std::system_error& e) {
        std::lock_guard lock(queueMutex_);
        receiving_ = false;
        return false;
    }
}

void CSearchAgentUtility::JoinReceiveThread() {
    if (receiveThread_.joinable()) receiveThread_.join();
}

void CSearchAgentUtility::SendServerRequest(const std::string& request) {
    sockaddr_in destination{};
    if (!MakeAddress(options_.destinationAddress, searchPort_, destination) ||
        options_.destinationAddress.empty()) {
        LOG_ERROR("Invalid Destination Address:" + options_.destinationAddress);
        throw CBlockingSocketException(CBlockingSocketException::kSendDatagram, EINVAL);
    }
    sendSocket_.SendDatagram(request.data(), request.size(), destination,
                             options_.sendTimeoutSeconds);
}

bool CSearchAgentUtility::CollectResponses(std::vector<CSearchAgentResponse>& result) {
    CSearchAgentXMLUtility reader;
    std::string datagram;
    while (WaitReceivedData(datagram)) {
        if (result.size() >= kMaxKeptAnswers) {
            if (!stopReceiving_)
                LOG_ERROR("Search Result Full. Search Ended. Count:" +
                          std::to_string(result.size()));
            stopReceiving_ = true;
            ClearReceivedData();
            continue;
        }
        CSearchAgentResponse response;
        try {
            reader.ReadServerResponseData(datagram.data(), datagram.size(), response);
            if (response.hardwareName == kModelName) {
                LOG_TRACE("Device Found. Address:" + response.ipv4Address +
                          " Name:" + response.netbiosName);
                result.push_back(response);
            }
        } catch (const CSearchAgentXMLException& e) {
            LOG_ERROR(e.GetErrorMessage());
        }
        PopReceivedData();
    }
    return !stopReceiving_;
}

int CSearchAgentUtility::SearchServers(std::vector<CSearchAgentResponse>& result,
                                       std::uint16_t searchPort) {
    LOG_METHOD();
    searchPort_ = searchPort;
    result.clear();
    std::vector<NetworkAdapter> adapters;
    if (!adapters_.ListAdapters(adapters)) return -1;

    int status = 0;
    try {
        for (const NetworkAdapter& adapter : adapters) {
            LOG_TRACE("Adapter:" + adapter.name + " Address:" + adapter.address);
            bool bound = false;
            for (int k = 0; k < kBindAttempts && responsePort_ + k <= 65535; ++k) {
                const auto port = static_cast<std::uint16_t>(responsePort_ + k);
                if (CreateUDPSocket(kReceiveSocket, adapter.address, port)) {
                    responsePort_ = port;
                    bound = true;
                    break;
                }
            }
            if (!bound) {
                LOG_ERROR("Create Receive Socket Error");
                status = -1;
                CloseSockets();
                continue;
            }
            if (!CreateUDPSocket(kSendSocket | kBroadcast, adapter.address)) {
                LOG_ERROR("Create Send Socket Error");
                status = -1;
                CloseSockets();
                continue;
            }
            const std::string request =
                CSearchAgentXMLUtility().WriteServerRequestData(adapter.address, responsePort_);
            if (options_.receiveWindowSeconds != 0 && !StartReceiveThread()) {
                LOG_ERROR("Begin Receive Error");
                status = -1;
                CloseSockets();
                continue;
            }
            try {
                SendServerRequest(request);
            } catch (...) {
                JoinReceiveThread();
                throw;
            }
            const bool room = CollectResponses(result);
            JoinReceiveThread();
            CloseSockets();
            if (!room) break;
        }
    } catch (const CAppException& e) {
        LOG_ERROR(e.GetErrorMessage());
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Search Error:") + e.what());
        status = -1;
    }
    JoinReceiveThread();
    CloseSockets();
    return result.empty() ? status : 0;
}

}  // namespace tessarine
