// The stored detection results as the detection result page reads them: pages of the newest
// results from the results database, and the hits of one result.
#pragma once

#include <memory>

#include "ui/result_source.h"

namespace tessarine {
class CDetectFileResultSQLUtility;
class CSQLiteHelper;
}  // namespace tessarine

namespace tessarine::ui {

class CDetectFileResultDbSource : public CDetectFileResultSource {
public:
    explicit CDetectFileResultDbSource(CDetectFileResultSQLUtility& database);
    ~CDetectFileResultDbSource() override;

    // One query per page on a reading connection of its own: no hits are read, no rows before
    // the key are handed over, and the result checker's connection is not held meanwhile.
    bool ReadResults(const std::optional<ResultListKey>& after, std::size_t limit,
                     std::vector<ResultListRow>& rows) override;
    bool ReadDetails(const std::string& id,
                     std::vector<DetectFileResultDetailData>& details) override;

private:
    CDetectFileResultSQLUtility& database_;
    std::unique_ptr<CSQLiteHelper> reader_;  // opened at the first page
};

}  // namespace tessarine::ui
