#include "ui/result_db_source.h"

#include <sqlite3.h>

#include <mutex>

#include "base/app_exception.h"
#include "base/app_log.h"
#include "detection/detect_file_result_sql_utility.h"
#include "infra/sqlite_helper.h"

namespace tessarine::ui {
namespace {

// Newest detected time first; among equal times the later stored (higher row number) first.
constexpr char kFirstPage[] =
    "SELECT ROWID, ID, FILE_NAME, FILE_PATH, DETECTED_TIME FROM DETECT_FILE_RESULT "
    "ORDER BY DETECTED_TIME DESC, ROWID DESC LIMIT ?1;";
constexpr char kPageAfter[] =
    "SELECT ROWID, ID, FILE_NAME, FILE_PATH, DETECTED_TIME FROM DETECT_FILE_RESULT "
    "WHERE DETECTED_TIME < ?2 OR (DETECTED_TIME = ?2 AND ROWID < ?3) "
    "ORDER BY DETECTED_TIME DESC, ROWID DESC LIMIT ?1;";

std::string Column(sqlite3_stmt* statement, int index) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
    return text != nullptr ? std::string(text, sqlite3_column_bytes(statement, index)) : "";
}

}  // namespace

CDetectFileResultDbSource::CDetectFileResultDbSource(CDetectFileResultSQLUtility& database)
    : database_(database) {}

CDetectFileResultDbSource::~CDetectFileResultDbSource() = default;

bool CDetectFileResultDbSource::ReadResults(const std::optional<ResultListKey>& after,
                                            std::size_t limit, std::vector<ResultListRow>& rows) {
    if (!reader_)
        reader_ = std::make_unique<CSQLiteHelper>(database_.Connection().DatabasePath(),
                                                  SqlOpenMode::kReadOnly);
    if (!reader_->IsOpen()) {
        LOG_ERROR("CDetectFileResultDlg::OnShowWindow the results database cannot be read");
        reader_.reset();  // tried again at the next page
        return false;
    }
    std::lock_guard<std::recursive_mutex> lock(reader_->StatementLock());
    sqlite3_stmt* statement = reader_->PrepareStatement(after ? kPageAfter : kFirstPage);
    if (statement == nullptr) return false;  // logged by the helper
    sqlite3_bind_int64(statement, 1, static_cast<sqlite3_int64>(limit));
    if (after) {
        sqlite3_bind_text(statement, 2, after->detectedTime.c_str(),
                          static_cast<int>(after->detectedTime.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(statement, 3, after->rowId);
    }
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
        ResultListRow row;
        row.key.rowId = sqlite3_column_int64(statement, 0);
        row.result.id = Column(statement, 1);
        row.result.fileName = Column(statement, 2);
        row.result.filePath = Column(statement, 3);
        row.result.detectedTime = Column(statement, 4);
        row.key.detectedTime = row.result.detectedTime;
        rows.push_back(std::move(row));
    }
    if (result != SQLITE_DONE)
        LOG_ERROR("CDetectFileResultDlg::OnShowWindow " + std::string(sqlite3_errstr(result)));
    reader_->FinalizeStatement(statement);
    return result == SQLITE_DONE;
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
