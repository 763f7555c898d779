#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>

#include "backup/backup_xml_utility.h"
#include "backup/failure_reason_file.h"
#include "core/message_sink.h"
#include "fakes/fake_detect_file_result_source.h"
#include "fakes/lrc_builder.h"
#include "fakes/test_support.h"
#include "ui/result_backup_page.h"
#include "ui/result_detect_page.h"
#include "ui/result_dialog.h"
#include "ui/strings/caption_apply.h"
#include "ui/strings/lrc_reader_wrapper.h"

namespace tessarine::ui {
namespace {

using testing::FakeDetectFileResultSource;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::string BackupGolden(const std::string& name) {
    return std::string(TESSARINE_SOURCE_DIR "/tests/backup/golden/") + name;
}

std::string ClientResult(const char* start, const char* end, const char* code) {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<clientresult><start_date>") +
           start + "</start_date><end_date>" + end + "</end_date><result>" + code +
           "</result></clientresult>\n";
}

template <typename T>
T* Control(QWidget& root, unsigned id) {
    return root.findChild<T*>(ControlObjectName(id));
}

// The failed-entry list's column (0 path, 1 reason).
QStringList Rows(QTreeWidget* list, int column = 0) {
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) rows << list->topLevelItem(i)->text(column);
    return rows;
}

class BackupResultPageTest : public ::testing::Test {
protected:
    std::string Folder() const { return dir_.Path() + "/"; }
    void Put(const std::string& name, const std::string& content) {
        ASSERT_TRUE(WriteFile(dir_.Sub(name), content));
    }
    QString Field(unsigned id) { return Control<QLineEdit>(page_, id)->text(); }

    TempDir dir_;
    CLrcReaderWrapper strings_{dir_.Sub("none.lrc"), [](std::uint32_t) { return true; }};
    CBackupResultDlg page_{Folder(), strings_};
};

TEST_F(BackupResultPageTest, GoldenFilesShowTimesResultCountsAndFailedPaths) {
    Put("result.xml", ReadFile(BackupGolden("result.xml")));
    Put("deteil_result.xml", ReadFile(BackupGolden("deteil_result.xml")));
    page_.Reload();
    EXPECT_EQ(Field(1088), "2017/12/31 10:00");
    EXPECT_EQ(Field(1089), "2017/12/31 10:05");
    EXPECT_EQ(Field(1090), "成功");
    EXPECT_EQ(Field(1109), "12");
    EXPECT_EQ(Field(1111), "10");
    EXPECT_EQ(
        Rows(Control<QTreeWidget>(page_, 1107)),
        QStringList({"/home/user1/documents/report.docx", "/home/user1/写真/旅行 & <2017>.jpg"}));
    // Shown again: read again, rows not doubled.
    page_.Reload();
    EXPECT_EQ(Control<QTreeWidget>(page_, 1107)->topLevelItemCount(), 2);
}

TEST_F(BackupResultPageTest, ResultCodesShowTheirTexts) {
    const struct {
        const char* code;
        const char* text;
    } cases[] = {
        {"0", "成功"}, {"1", "接続エラー"}, {"2", "ファイルアクセスエラー"}, {"7", "成功"}};
    for (const auto& c : cases) {
        Put("result.xml", ClientResult("20171231235005", "20171231235959", c.code));
        page_.Reload();
        EXPECT_EQ(Field(1090), QString::fromUtf8(c.text)) << c.code;
        EXPECT_EQ(Field(1088), "2017/12/31 23:50");
        EXPECT_EQ(Field(1089), "2017/12/31 23:59");
    }
}

TEST_F(BackupResultPageTest, MissingDetailFileShowsZeroCountsAndNoPaths) {
    Put("result.xml", ClientResult("20171231235005", "20171231235959", "1"));
    Put("deteil_result.xml", ReadFile(BackupGolden("deteil_result.xml")));
    page_.Reload();
    ASSERT_EQ(Control<QTreeWidget>(page_, 1107)->topLevelItemCount(), 2);
    std::filesystem::remove(dir_.Sub("deteil_result.xml"));
    page_.Reload();
    EXPECT_EQ(Field(1090), "接続エラー");
    EXPECT_EQ(Field(1109), "0");
    EXPECT_EQ(Field(1111), "0");
    EXPECT_EQ(Control<QTreeWidget>(page_, 1107)->topLevelItemCount(), 0);
}

// The counts come from the detail file alone: they show even before any "result.xml" exists.
TEST_F(BackupResultPageTest, MissingClientFileLeavesTimesEmptyButShowsCounts) {
    Put("deteil_result.xml", ReadFile(BackupGolden("deteil_result.xml")));
    page_.Reload();
    EXPECT_EQ(Field(1088), "");
    EXPECT_EQ(Field(1090), "");
    EXPECT_EQ(Field(1109), "12");
}

TEST_F(BackupResultPageTest, BrokenFilesKeepWhatWasShown) {
    Put("result.xml", ReadFile(BackupGolden("result.xml")));
    Put("deteil_result.xml", ReadFile(BackupGolden("deteil_result.xml")));
    page_.Reload();
    Put("result.xml", "<clientresult><end_date>x</end_date></clientresult>");
    Put("deteil_result.xml", "<backupresult><success_count>1</success_count>");
    page_.Reload();
    EXPECT_EQ(Field(1088), "2017/12/31 10:00");
    EXPECT_EQ(Field(1109), "12");
    EXPECT_EQ(Control<QTreeWidget>(page_, 1107)->topLevelItemCount(), 2);
}

// Reasons of the run that wrote the detail file: every failure with its reason, the counts
// above, the missing destination named once with what to do.
TEST_F(BackupResultPageTest, FailuresShowWithTheirReasonsAndTheCauseOnce) {
    Put("result.xml", ClientResult("20171231235005", "20171231235959", "2"));
    BackupErrorList list;
    list.capacity = 1;  // the detail file keeps one path, the reasons all
    list.AddSuccess();
    list.AddFailure("/home/u/docs", FailureReason::kDestinationMissing, "\\\\dev\\zereda\\x");
    list.AddFailure("/home/u/pics", FailureReason::kDestinationMissing, "\\\\dev\\zereda\\x");
    list.AddFailure("/home/u/a/Readme", FailureReason::kCaseClash, "README");
    list.AddFailure("/home/u/a/%s.txt", FailureReason::kFileChanged);
    CBackupXMLUtility(Folder(), DefaultSystemInfo()).CreateDetailResultFile(list);
    ASSERT_TRUE(CFailureReasonFile(Folder()).Write(list));

    page_.Reload();

    auto* failed = Control<QTreeWidget>(page_, 1107);
    EXPECT_EQ(Rows(failed), QStringList({"/home/u/docs", "/home/u/pics", "/home/u/a/Readme",
                                         "/home/u/a/%s.txt"}));
    EXPECT_EQ(Rows(failed, 1)[2],
              "大文字・小文字だけが違う「README」と機器上で同じ名前になります。"
              "どちらかを除外してください。");
    EXPECT_EQ(Rows(failed, 1)[3],
              "コピー中にファイルが変更されました。次回のバックアップでコピーします。");
    EXPECT_EQ(Control<QLabel>(page_, CBackupResultDlg::kCtlCounts)->text(), "5 件中 1 件成功");
    const QString cause = Control<QLabel>(page_, CBackupResultDlg::kCtlCause)->text();
    EXPECT_EQ(cause.count("\\\\dev\\zereda\\x"), 1) << cause.toStdString();
    EXPECT_TRUE(cause.contains("設定画面")) << cause.toStdString();
    EXPECT_FALSE(Control<QLabel>(page_, CBackupResultDlg::kCtlCause)->isHidden());

    // Reasons of another run (other counts) are not shown against this run's paths.
    list.AddSuccess();
    ASSERT_TRUE(CFailureReasonFile(Folder()).Write(list));
    page_.Reload();
    EXPECT_EQ(Rows(failed), QStringList({"/home/u/docs"}));
    EXPECT_EQ(Rows(failed, 1), QStringList({""}));
    EXPECT_TRUE(Control<QLabel>(page_, CBackupResultDlg::kCtlCause)->isHidden());
}

// More failures than a run keeps: the list says how many it leaves out.
TEST_F(BackupResultPageTest, FailuresBeyondTheKeptOnesAreCounted) {
    BackupErrorList list;
    list.AddFailure("/a", FailureReason::kPermissionDenied);
    list.executeCount = 4;  // three more failed than were kept
    CBackupXMLUtility(Folder(), DefaultSystemInfo()).CreateDetailResultFile(list);
    ASSERT_TRUE(CFailureReasonFile(Folder()).Write(list));
    page_.Reload();
    EXPECT_EQ(Rows(Control<QTreeWidget>(page_, 1107)),
              QStringList({"/a", "ほかに 3 件の失敗があります。"}));
}

// A string container overrides a reason like any other message.
TEST(BackupResultPageLrcTest, ContainerOverridesAReason) {
    TempDir dir;
    ASSERT_TRUE(testing::LrcBuilder()
                    .Add(testing::LrcString(10059, "Access denied."))
                    .WriteTo(dir.Sub("t.lrc")));
    CLrcReaderWrapper strings(dir.Sub("t.lrc"), [](std::uint32_t) { return true; });
    BackupErrorList list;
    list.AddFailure("/a", FailureReason::kPermissionDenied);
    CBackupXMLUtility(dir.Path() + "/", DefaultSystemInfo()).CreateDetailResultFile(list);
    ASSERT_TRUE(CFailureReasonFile(dir.Path() + "/").Write(list));
    CBackupResultDlg page(dir.Path() + "/", strings);
    page.Reload();
    EXPECT_EQ(Rows(Control<QTreeWidget>(page, 1107), 1), QStringList({"Access denied."}));
}

class DetectResultPageTest : public ::testing::Test {
protected:
    CLrcReaderWrapper strings_{"/nonexistent/none.lrc", [](std::uint32_t) { return true; }};
    FakeDetectFileResultSource source_;
};

TEST_F(DetectResultPageTest, ListIsReadPageByPageNewestFirst) {
    source_.Fill(450);
    CDetectFileResultDlg page(source_, strings_);
    page.Reload();
    CDetectFileResultModel& model = page.Model();
    EXPECT_EQ(model.rowCount(), CDetectFileResultModel::kPageSize);
    EXPECT_EQ(source_.resultReads, 1);
    EXPECT_EQ(model.data(model.index(0, 0)).toString(), "file0.txt");
    EXPECT_EQ(model.data(model.index(0, 1)).toString(), "/data/file0.txt");
    EXPECT_EQ(model.data(model.index(0, 2)).toString(), "2017/12/28 23:59");
    while (model.canFetchMore({})) model.fetchMore({});
    EXPECT_EQ(model.rowCount(), 450);
    EXPECT_EQ(model.data(model.index(449, 0)).toString(), "file449.txt");
    EXPECT_EQ(source_.resultReads, 3);
    // A reload starts from the first page again.
    page.Reload();
    EXPECT_EQ(model.rowCount(), CDetectFileResultModel::kPageSize);
}

TEST_F(DetectResultPageTest, FailedReadEndsTheListWithWhatWasRead) {
    source_.Fill(500);
    source_.failResultReadAt = 2;
    CDetectFileResultDlg page(source_, strings_);
    page.Reload();
    page.Model().fetchMore({});
    EXPECT_EQ(page.Model().rowCount(), CDetectFileResultModel::kPageSize);
    EXPECT_FALSE(page.Model().canFetchMore({}));
}

TEST_F(DetectResultPageTest, DetailReadsHitsOnceAndNeedsExactlyOneChosenRow) {
    source_.Fill(3);
    source_.details[source_.results[1].id] = {{"A", "x"}, {"A", "y"}, {"B", "z"}};
    CDetectFileResultDlg page(source_, strings_);
    std::vector<CDetectFileResult> opened;
    page.SetDetailOpener([&](const CDetectFileResult& r) { opened.push_back(r); });
    page.Reload();
    QTableView* list = page.List();

    page.OnClickShowResultDetail();  // nothing chosen
    list->selectAll();
    page.OnClickShowResultDetail();  // three chosen
    EXPECT_TRUE(opened.empty());

    for (int press = 0; press < 2; ++press) {
        list->selectRow(1);
        page.OnClickShowResultDetail();
        EXPECT_TRUE(list->selectionModel()->selectedRows().isEmpty());
    }
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(source_.detailReads, 1);
    EXPECT_EQ(opened[1].fileName, "file1.txt");
    ASSERT_EQ(opened[1].details.size(), 3u);
    EXPECT_EQ(opened[1].details[2].hitText, "z");
}

TEST_F(DetectResultPageTest, ShowResultKindSelectsTheTabAndReloadsTheList) {
    TempDir dir;
    source_.Fill(2);
    CResultDlg window(dir.Path() + "/", source_);
    window.ShowForKind(kBalloonDetectFileResult);
    EXPECT_EQ(window.Tabs()->currentIndex(), 1);
    const int reads = source_.resultReads;
    EXPECT_GE(reads, 1);
    source_.Fill(5);
    window.ShowForKind(kBalloonDetectFileResult);
    EXPECT_GT(source_.resultReads, reads);
    EXPECT_EQ(window.DetectPage()->Model().rowCount(), 5);
    window.ShowForKind(0);  // another kind keeps the tab
    EXPECT_EQ(window.Tabs()->currentIndex(), 1);
    window.ShowForKind(kBalloonBackupResult);
    EXPECT_EQ(window.Tabs()->currentIndex(), 0);
    EXPECT_EQ(window.windowTitle(), "結果");
    EXPECT_EQ(window.Tabs()->tabText(0), "バックアップ結果");
    EXPECT_EQ(window.Tabs()->tabText(1), "指定ファイル検出結果");
    window.hide();
}

}  // namespace
}  // namespace tessarine::ui
