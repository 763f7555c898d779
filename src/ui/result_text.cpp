#include "ui/result_text.h"

#include <algorithm>
#include <cctype>

#include "ui/strings/lrc_reader_wrapper.h"
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

std::string FillText(const std::string& pattern, const std::vector<std::string>& values) {
    std::string text;
    text.reserve(pattern.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's' &&
            next < values.size()) {
            text += values[next++];
            ++i;
        } else {
            text.push_back(pattern[i]);
        }
    }
    return text;
}

unsigned FailureReasonTextId(FailureReason reason) {
    static_assert(kStrFailureReasonFirst + kLastFailureReason == kStrFailureReasonLast,
                  "one sentence per failure reason");
    const int kind = static_cast<int>(reason);
    if (kind < 0 || kind > kLastFailureReason) return kStrFailureReasonFirst;
    return kStrFailureReasonFirst + static_cast<unsigned>(kind);
}

std::string FailureReasonText(const CLrcReaderWrapper& strings, const BackupFailure& failure) {
    return FillText(strings.Text(FailureReasonTextId(failure.reason)), {failure.detail});
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
