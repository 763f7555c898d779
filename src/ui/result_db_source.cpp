#include "ui/result_db_source.h"

#include "base/app_exception.h"
#include "base/app_log.h"
#include "detection/detect_file_result_sql_utility.h"

namespace tessarine::ui {

CDetectFileResultDbSource::CDetectFileResultDbSource(CDetectFileResultSQLUtility& database)
    : database_(database) {}

// The database lists the newest N as one operation, so a page is the newest offset+limit with
// the first `offset` dropped: the page never shifts under a result stored meanwhile, which a
// cursor left open between pages would.
bool CDetectFileResultDbSource::ReadResults(std::size_t offset, std::size_t limit,
                                            std::vector<CDetectFileResult>& results) {
    std::vector<CDetectFileResult> newest;
    try {
        database_.ListDetectFileResults(static_cast<int>(offset + limit), newest);
    } catch (const CAppException& e) {
        LOG_ERROR(std::string("CDetectFileResultDlg::OnShowWindow ") + e.what());
        return false;
    }
    for (std::size_t i = offset; i < newest.size(); ++i) {
        newest[i].details.clear();  // read again when the detail box opens
        results.push_back(std::move(newest[i]));
    }
    return true;
}

bool CDetectFileResultDbSource::ReadDetails(const std::string& id,
                                            std::vector<DetectFileResultDetailData>& details) {
    CDetectFileResult result;
    try {
        if (database_.FindDetectFileResult(id, &result) != 0) return true;
    } catch (const CAppException& e) {
        LOG_ERROR(std::string("CDetectFileResultDlg::OnClickShowResultDetail ") + e.what());
        return false;
    }
    for (auto& detail : result.details) details.push_back(std::move(detail));
    return true;
}

}  // namespace tessarine::ui
