// The search protocol's documents: the request "SERVERREQUEST" and the devices' answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "infra/xml_parse.h"
#include "network/search_agent_response.h"

namespace tessarine {

class CSearchAgentXMLUtility : public CXMLParse {
public:
    // Requests must stay below this many bytes.
    static constexpr std::size_t kRequestBufferSize = 1024;

    // The request announcing the address and port to answer to. Throws
    // CSearchAgentXMLException code 0 when a write step fails or the document is too long.
    std::string WriteServerRequestData(const std::string& address, std::uint16_t port);
    // Fills `response` from one answer: three enclosing elements, then IP4ADRS, IP6ADRS, HTTP,
    // HTTPS, HWNAME, NETBIOS and ROMREV in this order. Throws CSearchAgentXMLException code 1
    // when the answer has another form.
    void ReadServerResponseData(const void* data, std::size_t size, CSearchAgentResponse& response);
};

}  // namespace tessarine
