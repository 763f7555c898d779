// The INI file behind the settings: reads of arbitrary content, then one write, which must keep
// every other line and read back exactly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "settings/profile_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tessarine::CProfileStore store(tessarine::fuzz::WriteInputFile(data, size));
    // Every read parses the file again: a few names in the forms that matter (case, empty).
    static const char* const kNames[][2] = {
        {"Backup", "Password"}, {"backup", "interval"}, {"", ""}};
    for (const auto& [section, key] : kNames) {
        const std::string value = store.GetString(section, key, "default");
        if (value.size() > tessarine::CProfileStore::kMaxValueLength) std::abort();
        store.GetInt(section, key, -1);
    }
    // A value taken from the input's last bytes, written and read back.
    const std::size_t length = size < 16 ? size : 16;
    const std::string value(reinterpret_cast<const char*>(data) + size - length, length);
    if (store.WriteString("Fuzz", "Value", value)) {
        if (store.GetString("Fuzz", "Value", "missing") != value) std::abort();
    }
    return 0;
}
