// UNC and smb:// device paths as a user types them or a setting holds them: a path that parses
// keeps its meaning through both written forms.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/unc_path.h"

namespace {

bool Same(const tessarine::DevicePath& a, const tessarine::DevicePath& b) {
    return a.host == b.host && a.share == b.share && a.parts == b.parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    tessarine::IsDevicePath(text);
    tessarine::DevicePath path;
    if (!tessarine::ParseDevicePath(text, path)) return 0;
    if (path.host.empty()) std::abort();
    for (const std::string& part : path.parts) {
        if (part.empty() || part == "." || part == "..") std::abort();
    }
    tessarine::DevicePath fromUrl;
    if (!tessarine::ParseDevicePath(tessarine::ToSmbUrl(path), fromUrl) || !Same(path, fromUrl) ||
        fromUrl.port != path.port) {
        std::abort();
    }
    tessarine::DevicePath fromUnc;
    if (tessarine::ParseDevicePath(tessarine::ToUncPath(path), fromUnc) && !Same(path, fromUnc)) {
        std::abort();
    }
    path.Below();
    tessarine::JoinDevicePath(text, text);
    return 0;
}
