// The request of the local control channel, apart from the socket: "SIGNAL <name>\n",
// "HOLD <name>\n" or "RUN <name>\n", at most
// kControlRequestMax bytes with the newline. The server feeds what a client sends into a
// ControlRequestReader and answers the line it collects.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tessarine {

// Longest request line accepted, the newline included.
inline constexpr std::size_t kControlRequestMax = 256;

// What is wrong with an event name for a request ("is empty", "is longer than 248 bytes",
// "contains a control character"), or "" when it can be sent.
std::string ControlNameProblem(const std::string& name);

// "SIGNAL <name>\n" for a name without a problem.
std::string MakeControlRequest(const std::string& name);

// The event name a request line (without its newline; one trailing CR is allowed) asks for, or
// nothing when the line is not a request for a name without a problem.
std::optional<std::string> ParseControlRequest(std::string_view line);

// "HOLD <name>\n": the instance keeps the named claim (a running flag) for the client until the
// client closes the connection (or ends). A name without a problem only.
std::string MakeControlHoldRequest(const std::string& name);
// The claim a hold request line asks for, as ParseControlRequest.
std::optional<std::string> ParseControlHoldRequest(std::string_view line);

// "RUN <name>\n": the instance starts the named run (or finds it running) and reports on the
// same connection until the run ends. A name without a problem only.
std::string MakeControlRunRequest(const std::string& name);
// The run a run request line asks for, as ParseControlRequest.
std::optional<std::string> ParseControlRunRequest(std::string_view line);

// The first answers to a run request: a run was started, one was already going (both followed
// by its report), or the instance cannot start one now.
inline constexpr char kControlAnswerStarted[] = "STARTED\n";
inline constexpr char kControlAnswerRunning[] = "RUNNING\n";
inline constexpr char kControlAnswerBusy[] = "BUSY\n";

// Collects one request line from the bytes of one connection, as they arrive.
class ControlRequestReader {
public:
    enum class State {
        kNeedMore,  // no newline yet, and room for more
        kComplete,  // Line() holds the request
        kTooLong,   // kControlRequestMax bytes came without a newline
    };

    // Takes the next bytes; after kComplete or kTooLong further bytes are ignored.
    State Feed(std::string_view bytes);
    State GetState() const { return state_; }
    // How many more bytes can be taken before the request is too long.
    std::size_t Room() const { return kControlRequestMax - pending_.size(); }
    // The request line without its newline, once complete.
    const std::string& Line() const { return pending_; }

private:
    std::string pending_;
    State state_ = State::kNeedMore;
};

}  // namespace tessarine
