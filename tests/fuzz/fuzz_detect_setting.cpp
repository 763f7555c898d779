// The device's detection setting.xml, read from a local copy.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "detection/detect_file_exceptions.h"
#include "detection/detect_file_xml_utility.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = tessarine::fuzz::WriteInputFile(data, size);
    tessarine::CDetectFileServerSetting setting;
    try {
        tessarine::CDetectFileXMLUtility(tessarine::fuzz::WorkFolder())
            .ReadDetectFileServerSetting(path, &setting);
    } catch (const tessarine::CDetectFileXMLException&) {
        return 0;
    }
    // Only plain extensions are kept.
    for (const std::string& extension : setting.extensions) {
        if (extension.empty() || extension.find_first_of("/\\") != std::string::npos) std::abort();
        for (unsigned char c : extension) {
            if (c < 0x20 || c == 0x7F) std::abort();
        }
    }
    return 0;
}
