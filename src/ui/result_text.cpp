#include "ui/result_text.h"

#include <algorithm>
#include <cctype>

#include "ui/strings/string_ids.h"

namespace tessarine::ui {

std::string FormatResultTime(const std::string& stamp) {
    const bool digits =
        stamp.size() >= 12 && std::all_of(stamp.begin(), stamp.begin() + 12,
                                          [](unsigned char c) { return std::isdigit(c) != 0; });
    if (!digits) return stamp;
    return stamp.substr(0, 4) + "/" + stamp.substr(4, 2) + "/" + stamp.substr(6, 2) + " " +
           stamp.substr(8, 2) + ":" + stamp.substr(10, 2);
}

unsigned BackupResultTextId(int resultCode) {
    switch (resultCode) {
        case 1:
            return kStrResultConnectError;
        case 2:
            return kStrResultFileAccessError;
        default:
            return kStrResultSuccess;
    }
}

std::string BuildDetectionContent(const std::vector<DetectFileResultDetailData>& details,
                                  const std::string& unit) {
    std::string text;
    for (std::size_t first = 0; first < details.size();) {
        std::size_t end = first;
        while (end < details.size() && details[end].category == details[first].category) ++end;
        text += details[first].category + " " + std::to_string(end - first) + unit + "\r\n";
        for (std::size_t i = first; i < end; ++i) text += "  " + details[i].hitText + "\r\n";
        first = end;
    }
    return text;
}

}  // namespace tessarine::ui
