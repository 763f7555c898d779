// The XML reader over arbitrary bytes: every element is read to the end or to the first failure,
// and a failure is either the clean end or malformed input, never both.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "infra/xml_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tessarine::CXMLParse;
    {
        CXMLParse reader;
        if (!reader.SetupReadFromBuffer(data, static_cast<std::uint32_t>(size))) return 0;
        std::string name;
        std::string value;
        while (reader.ReadNextElement(name, value)) {
            if (name.empty()) std::abort();  // an element always has a name
        }
        if (reader.GetLastError() != CXMLParse::kErrorRead) std::abort();
    }
    {
        // Skipping forward by the first byte's count, then reading on.
        CXMLParse reader;
        if (!reader.SetupReadFromBuffer(data, static_cast<std::uint32_t>(size))) return 0;
        const int skip = size > 0 ? data[0] % 8 : 0;
        if (reader.SkipElements(skip)) {
            std::string name;
            std::string value;
            while (reader.ReadNextElement(name, value)) {
            }
        }
    }
    return 0;
}
