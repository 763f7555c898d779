#include "platform/device_share_factory.h"

#include <stdlib.h>

#include <charconv>

#include "platform/posix/local_share.h"
#include "platform/posix/pooled_smb_share.h"
#include "platform/posix/smb_share.h"

namespace tessarine {

ShareOptions ShareOptionsFromEnvironment() {
    ShareOptions options;
    if (const char* port = ::getenv("TESSARINE_SMB_PORT"); port != nullptr && *port != '\0') {
        const std::string_view text(port);
        int value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec == std::errc() && end == text.data() + text.size() && value >= 1 && value <= 65535)
            options.port = value;
        else
            options.problem = "TESSARINE_SMB_PORT is not a port number (1-65535): \"" +
                              std::string(text) + "\"; using " + std::to_string(options.port);
    }
    if (const char* copiers = ::getenv("TESSARINE_SHARE_COPIERS");
        copiers != nullptr && *copiers != '\0') {
        const std::string_view text(copiers);
        int value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec == std::errc() && end == text.data() + text.size() && value >= 0 && value <= 16)
            options.copiers = value;
        else
            options.problem = "TESSARINE_SHARE_COPIERS is not a count (0-16): \"" +
                              std::string(text) + "\"; the count is chosen at log-on";
    }
    if (const char* root = ::getenv("TESSARINE_SHARE_ROOT"); root != nullptr && *root != '\0')
        options.localRoot = root;
    return options;
}

std::unique_ptr<DeviceShare> MakeDeviceShare(const ShareOptions& options) {
    if (!options.localRoot.empty()) return std::make_unique<LocalShare>(options.localRoot);
    if (!options.copierExecutable.empty() && options.copiers != 0) {
        CopierPoolOptions pool{options.copierExecutable, options.copiers, options.port,
                               options.timeoutMs};
        pool.logOnShare = options.logOnShare;
        return std::make_unique<PooledSmbShare>(std::move(pool));
    }
    auto share = std::make_unique<SmbShare>(options.port, options.timeoutMs);
    share->SetLogOnShare(options.logOnShare);
    return share;
}

}  // namespace tessarine
