#include "platform/control_request.h"

#include <cstring>

#include "base/string_utility.h"

namespace tessarine {

namespace {
constexpr char kSignalVerb[] = "SIGNAL ";
constexpr char kHoldVerb[] = "HOLD ";
constexpr char kRunVerb[] = "RUN ";

std::optional<std::string> ParseVerb(std::string_view line, std::string_view verb) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.substr(0, verb.size()) != verb) return std::nullopt;
    std::string name(line.substr(verb.size()));
    if (!ControlNameProblem(name).empty()) return std::nullopt;
    return name;
}
}  // namespace

std::string ControlNameProblem(const std::string& name) {
    const std::size_t maxLength = kControlRequestMax - std::strlen(kSignalVerb) - 1;
    if (name.empty()) return "is empty";
    if (name.size() > maxLength) return Format("is longer than %zu bytes", maxLength);
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) return "contains a control character";
    }
    return std::string();
}

std::string MakeControlRequest(const std::string& name) { return kSignalVerb + name + "\n"; }

std::optional<std::string> ParseControlRequest(std::string_view line) {
    return ParseVerb(line, kSignalVerb);
}

std::string MakeControlHoldRequest(const std::string& name) { return kHoldVerb + name + "\n"; }

std::optional<std::string> ParseControlHoldRequest(std::string_view line) {
    return ParseVerb(line, kHoldVerb);
}

std::string MakeControlRunRequest(const std::string& name) { return kRunVerb + name + "\n"; }

std::optional<std::string> ParseControlRunRequest(std::string_view line) {
    return ParseVerb(line, kRunVerb);
}

ControlRequestReader::State ControlRequestReader::Feed(std::string_view bytes) {
    if (state_ != State::kNeedMore) return state_;
    const std::size_t newline = bytes.find('\n');
    const std::size_t take = newline == std::string_view::npos ? bytes.size() : newline;
    if (take >= Room()) {
        // Even a newline right after the room is used up would make the line too long.
        state_ = State::kTooLong;
        return state_;
    }
    pending_.append(bytes.substr(0, take));
    if (newline != std::string_view::npos) state_ = State::kComplete;
    return state_;
}

}  // namespace tessarine
