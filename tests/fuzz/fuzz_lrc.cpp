// libFuzzer target: any bytes as a string container. The reader must refuse or take them
// without reading out of bounds, and every entry it takes must yield a display text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ui/strings/lrc_entry.h"
#include "ui/strings/lrc_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tessarine::ui::CLrcReader reader([](std::uint32_t charset) { return charset != 0xFFFFFFFFu; });
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (reader.Parse(bytes) != tessarine::ui::LrcError::kNone) return 0;
    // Look up the ids the input itself names, so the entries are reached.
    for (std::size_t offset = 0; offset + 4 <= size; offset += 4) {
        const std::uint32_t id = data[offset] | data[offset + 1] << 8 | data[offset + 2] << 16 |
                                 static_cast<std::uint32_t>(data[offset + 3]) << 24;
        if (const tessarine::ui::LrcEntry* entry = reader.Find(id)) {
            (void)tessarine::ui::MakeDisplayText(*entry);
        }
    }
    return 0;
}
