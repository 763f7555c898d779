#include "network/search_agent_xml_exception.h"

#include <array>
#include <string_view>

namespace tessarine {

namespace {

constexpr std::array<std::string_view, 2> kSearchAgentXMLMessages = {
    "リクエストデータ書込みエラー", "レスポンスデータ読込みエラー"};

}  // namespace

std::string CSearchAgentXMLException::GetErrorMessage() const {
    return ExceptionMessage(kSearchAgentXMLMessages, GetErrorCode());
}

}  // namespace tessarine
