// What the detection result page reads from the stored detection results: one page of results,
// newest first, and the hits of one result. The results database provides it in the program; the
// page never asks for every stored result at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "detection/detect_file_result.h"

namespace tessarine::ui {

// Where a row stands in the newest-first order: its detected time, then its row number (later
// stored first among equal times). A page starts after the key of the last row already read,
// so a result stored between two pages neither repeats a row nor pushes one out.
struct ResultListKey {
    std::string detectedTime;
    std::int64_t rowId = 0;
};

struct ResultListRow {
    CDetectFileResult result;  // without its hits
    ResultListKey key;
};

class CDetectFileResultSource {
public:
    virtual ~CDetectFileResultSource() = default;
    // Appends up to `limit` results (ID, file name, path, detected time) that come after
    // `after` in the newest-first order (from the newest without it). False when reading
    // failed (logged by the source); what was appended before the failure stays.
    virtual bool ReadResults(const std::optional<ResultListKey>& after, std::size_t limit,
                             std::vector<ResultListRow>& rows) = 0;
    // Appends the hits of result `id` in their stored order; false when reading failed.
    virtual bool ReadDetails(const std::string& id,
                             std::vector<DetectFileResultDetailData>& details) = 0;
};

}  // namespace tessarine::ui
