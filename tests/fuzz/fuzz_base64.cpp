// Base64 as a stored setting holds it: decoding never fails loudly, and encoding round-trips.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/string_utility.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tessarine::CStringUtility;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string decoded = CStringUtility::DecodeBase64(bytes);
    if (!decoded.empty() &&
        CStringUtility::DecodeBase64(CStringUtility::EncodeBase64(decoded)) != decoded) {
        std::abort();
    }
    const std::string encoded = CStringUtility::EncodeBase64(bytes);
    if (encoded.size() % 4 != 0 || CStringUtility::DecodeBase64(encoded) != bytes) std::abort();
    return 0;
}
