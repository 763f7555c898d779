// The stored detection results as the detection result page reads them: pages of the newest
// results from the results database, and the hits of one result.
#pragma once

#include "ui/result_source.h"

namespace tessarine {
class CDetectFileResultSQLUtility;
}

namespace tessarine::ui {

class CDetectFileResultDbSource : public CDetectFileResultSource {
public:
    explicit CDetectFileResultDbSource(CDetectFileResultSQLUtility& database);

    bool ReadResults(std::size_t offset, std::size_t limit,
                     std::vector<CDetectFileResult>& results) override;
    bool ReadDetails(const std::string& id,
                     std::vector<DetectFileResultDetailData>& details) override;

private:
    CDetectFileResultSQLUtility& database_;
};

}  // namespace tessarine::ui
