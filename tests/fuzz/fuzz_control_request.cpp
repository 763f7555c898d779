// The control socket's request reader, fed the bytes of one connection in pieces whose sizes
// come from the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/control_request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tessarine::ControlRequestReader;
    if (size == 0) return 0;
    const std::size_t piece = 1 + data[0] % 32;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    ControlRequestReader reader;
    for (std::size_t at = 0;
         at < bytes.size() && reader.GetState() == ControlRequestReader::State::kNeedMore;
         at += piece) {
        const std::size_t room = reader.Room();
        reader.Feed(bytes.substr(at, piece < room ? piece : room));
    }
    if (reader.GetState() == ControlRequestReader::State::kComplete) {
        if (reader.Line().size() >= tessarine::kControlRequestMax) std::abort();
        if (reader.Line().find('\n') != std::string::npos) std::abort();
        const auto name = tessarine::ParseControlRequest(reader.Line());
        if (name) {
            if (!tessarine::ControlNameProblem(*name).empty()) std::abort();
            const std::string request = tessarine::MakeControlRequest(*name);
            const std::string_view line = std::string_view(request).substr(0, request.size() - 1);
            if (tessarine::ParseControlRequest(line) != name) std::abort();
        }
        // The verbs never take each other's lines.
        const auto run = tessarine::ParseControlRunRequest(reader.Line());
        if (run && (name || tessarine::ParseControlHoldRequest(reader.Line()))) std::abort();
    }
    return 0;
}
