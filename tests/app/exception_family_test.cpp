// Every component's exceptions turn their codes into the texts of the family.
#include <gtest/gtest.h>

#include "backup/backup_exceptions.h"
#include "detection/detect_file_exceptions.h"
#include "network/search_agent_xml_exception.h"

namespace tessarine {
namespace {

TEST(AppExceptionTest, MessagesByCode) {
    EXPECT_EQ(CBackupSQLException(12).GetErrorMessage(), "バックアップ設定変更終了エラー");
    EXPECT_EQ(CBackupSQLException(0).GetErrorMessage(), "バックアップファイル数取得エラー");
    EXPECT_EQ(CBackupXMLException(3).GetErrorMessage(), "バックアップ詳細結果ファイル作成エラー");
    EXPECT_EQ(CBackupXMLException(4).GetErrorMessage(),
              "バックアップ詳細結果ファイル読み込みエラー");
    EXPECT_EQ(CDetectFileSQLException(14).GetErrorMessage(), "指定ファイル検出情報一括削除エラー");
    EXPECT_EQ(CSearchAgentXMLException(1).GetErrorMessage(), "レスポンスデータ読込みエラー");
    // Codes outside a table give an empty text instead of reading past its end.
    EXPECT_EQ(CBackupExecuteException(3).GetErrorMessage(), "");
    EXPECT_EQ(CBackupExecuteException(-1).GetErrorMessage(), "");
}

TEST(AppExceptionTest, CaughtByConstReferenceThroughTheBase) {
    try {
        throw CBackupExecuteException(1);
    } catch (const CAppException& e) {
        EXPECT_EQ(e.GetErrorCode(), 1);
        EXPECT_STREQ(e.what(), "差分バックアップエラー");
    }
}

}  // namespace
}  // namespace tessarine
