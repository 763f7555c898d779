// What the detection result page reads from the stored detection results: one page of results,
// newest first, and the hits of one result. The results database provides it in the program; the
// page never asks for every stored result at once.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "detection/detect_file_result.h"

namespace tessarine::ui {

class CDetectFileResultSource {
public:
    virtual ~CDetectFileResultSource() = default;
    // Appends up to `limit` results (ID, file name, path, detected time) starting at position
    // `offset` of the newest-first order. False when reading failed (logged by the source);
    // what was appended before the failure stays.
    virtual bool ReadResults(std::size_t offset, std::size_t limit,
                             std::vector<CDetectFileResult>& results) = 0;
    // Appends the hits of result `id` in their stored order; false when reading failed.
    virtual bool ReadDetails(const std::string& id,
                             std::vector<DetectFileResultDetailData>& details) = 0;
};

}  // namespace tessarine::ui
