#include "network/search_agent_xml_utility.h"

#include <array>

#include "base/app_log.h"
#include "base/string_utility.h"
#include "network/search_agent_xml_exception.h"
#include "network/udp_blocking_socket.h"

namespace tessarine {

namespace {

// A port text as the device writes it; anything that is not a port number gives 0.
std::uint16_t ParsePort(const std::string& text) {
    if (text.empty() || text.size() > 5 || !IsDigitsOnly(text)) return 0;
    const int value = StringToInt(text);
    return value <= 65535 ? static_cast<std::uint16_t>(value) : 0;
}

}  // namespace

std::string CSearchAgentXMLUtility::WriteServerRequestData(const std::string& address,
                                                           std::uint16_t port) {
    LOG_METHOD();
    LOG_TRACE("PARAM:" + address + ", " + std::to_string(port));
    auto check = [this](int ok, const char* message) {
        if (ok) return;
        LOG_ERROR(message + std::to_string(GetLastError()));
        Release();
        throw CSearchAgentXMLException(0);
    };
    Release();
    check(SetupWriteToBuffer(), "Setup Error. code:");
    check(WriteStartElement("SERVERREQUEST"), "Write First Element Error. code:");
    check(WriteElementAndText("COM", "GETSERVERS"), "Write <com> Element Error. code:");
    check(WriteStartElement("PARAM"), "Write <param> Element Error. code:");
    check(WriteElementAndText("RESPTYPE", "RESPONSEDIRECT"), "Write <com> Element Error. code:");
    check(WriteElementAndText("IP4ADRS", address), "Write IP Address Error. code:");
    check(WriteElementAndText("PORT", std::to_string(port)), "Write IP Address Error. code:");
    check(WriteEndElement(), "Write End Element Error. code:");
    check(WriteEndElement(), "Write End Element Error. code:");
    check(Flush(), "Flush Error. code:");
    std::string document = GetBuffer();
    Release();
    if (document.size() >= kRequestBufferSize || document.find('\0') != std::string::npos) {
        LOG_ERROR("Request Too Long. Size:" + std::to_string(document.size()));
        throw CSearchAgentXMLException(0);
    }
    return document;
}

void CSearchAgentXMLUtility::ReadServerResponseData(const void* data, std::size_t size,
                                                    CSearchAgentResponse& response) {
    LOG_METHOD();
    Release();
    if (data == nullptr || size == 0 || size > CUDPBlockingSocket::kMaxDatagramSize) {
        LOG_ERROR("Invalid Parameter");
        throw CSearchAgentXMLException(1);
    }
    if (!SetupReadFromBuffer(data, static_cast<std::uint32_t>(size))) {
        LOG_ERROR("Detect File Server Setting Read Error");
        throw CSearchAgentXMLException(1);
    }
    if (!SkipElements(3)) {
        LOG_ERROR("Skip <serverrespone> or <com> or <details> element Error");
        Release();
        throw CSearchAgentXMLException(1);
    }
    struct Field {
        const char* element;
        const char* message;
    };
    static constexpr std::array<Field, 7> kFields = {{
        {"IP4ADRS", "Read <ip4adrs> element Error. Element:"},
        {"IP6ADRS", "Read <ip6adrs> element Error. Element:"},
        {"HTTP", "Read <http> element Error. Element:"},
        {"HTTPS", "Read <https> element Error. Element:"},
        {"HWNAME", "Read <hwname> element Error. Element:"},
        {"NETBIOS", "Read <netbios> element Error. Element:"},
        {"ROMREV", "Read <romrev> element Error. Element:"},
    }};
    std::array<std::string, 7> values;
    for (std::size_t i = 0; i < kFields.size(); ++i) {
        std::string name;
        if (!ReadNextElement(&name, &values[i]) || name != kFields[i].element) {
            LOG_ERROR(kFields[i].message + name);
            Release();
            throw CSearchAgentXMLException(1);
        }
    }
    Release();
    response.ipv4Address = values[0];
    response.ipv6Address = values[1];
    response.httpPort = ParsePort(values[2]);
    response.httpsPort = ParsePort(values[3]);
    response.hardwareName = values[4];
    response.netbiosName = values[5];
    response.firmwareRevision = values[6];
}

}  // namespace tessarine
