// A detection result written by the device, read from a local copy.
#include <cstddef>
#include <cstdint>
#include <string>

#include "detection/detect_file_exceptions.h"
#include "detection/detect_file_xml_utility.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = tessarine::fuzz::WriteInputFile(data, size);
    tessarine::CDetectFileResult result;
    try {
        tessarine::CDetectFileXMLUtility(tessarine::fuzz::WorkFolder())
            .ReadDetectFileResult(path, &result);
    } catch (const tessarine::CDetectFileXMLException&) {
    }
    return 0;
}
