// One detection result as the device reports it for one forwarded file, with its hits. Read from
// a result file (ID empty) or from the results database (ID filled).
#pragma once

#include <string>
#include <vector>

namespace tessarine {

// One matched text and the category (the device's group name) it belongs to.
struct DetectFileResultDetailData {
    std::string category;
    std::string hitText;
};

struct CDetectFileResult {
    std::string id;
    std::string fileName;
    std::string filePath;
    // "YYYYMMDDhhmmss" as the device wrote it; not interpreted.
    std::string detectedTime;
    std::vector<DetectFileResultDetailData> details;
};

}  // namespace tessarine
