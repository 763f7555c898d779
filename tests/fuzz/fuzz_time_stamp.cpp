// The 14-digit time stamps of the device's documents and the databases.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "base/time_utility.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::time_t when = -12345;
    if (!tessarine::ParseTimeStamp(text, when)) {
        if (when != -12345) std::abort();  // a failed parse leaves the value alone
        return 0;
    }
    // A parsed time formats to a stamp that parses to the same time.
    const std::string stamp = tessarine::ToTimeStamp(when);
    std::time_t again = 0;
    if (!stamp.empty() && (!tessarine::ParseTimeStamp(stamp, again) || again != when)) {
        std::abort();
    }
    return 0;
}
