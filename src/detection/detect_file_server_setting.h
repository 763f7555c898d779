// The device's detection setting ("setting.xml" in the device's import folder), read at the start
// of every forwarding run: the switch, the setting's time stamp, the extensions to send and the
// largest size to send.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessarine {

struct CDetectFileServerSetting {
    // 1 when the device's `enable` text is exactly "on".
    int enabled = 0;
    // Changes whenever the device's setting changes; not interpreted.
    std::string timestamp;
    // Extensions without the dot, compared with a file's extension regardless of ASCII case.
    std::vector<std::string> extensions;
    // In MiB (units of 1,048,576 bytes).
    std::uint32_t maximumSize = 0;

    std::string GetTimestamp() const { return timestamp; }
};

}  // namespace tessarine
