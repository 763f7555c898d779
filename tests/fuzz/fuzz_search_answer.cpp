// One UDP answer to the device search, as it arrives from the LAN.
#include <cstddef>
#include <cstdint>

#include "network/search_agent_response.h"
#include "network/search_agent_xml_exception.h"
#include "network/search_agent_xml_utility.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tessarine::CSearchAgentResponse response;
    try {
        tessarine::CSearchAgentXMLUtility().ReadServerResponseData(data, size, response);
    } catch (const tessarine::CSearchAgentXMLException&) {
    }
    return 0;
}
