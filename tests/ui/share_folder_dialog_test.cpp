// The destination folder browser over the device share: what the share listing gives, and the
// dialog going down, up, choosing, reporting a failed listing and staying usable while a
// listing waits on a silent server.
#include "ui/share_folder_dialog.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "fakes/fault_injecting_share.h"
#include "platform/posix/local_share.h"
#include "settings_test_support.h"
#include "ui/settings_backup_page.h"
#include "ui/strings/caption_apply.h"

namespace tessarine::ui {
namespace {

using tessarine::testing::FaultInjectingShare;
using tessarine::testing::ShareOp;
using testing::Find;
using testing::RecordingPresenter;

constexpr char kHost[] = "192.0.2.10";

// A device share as a folder: zereda/backup/{docs/2024, photos, empty}, plus files that the
// browser must not list.
class ShareFolderTest : public ::testing::Test {
protected:
    ShareFolderTest() : local_(temp_.Path()) {
        for (const char* folder :
             {"zereda/backup/docs/2024", "zereda/backup/photos", "zereda/backup/empty"})
            std::filesystem::create_directories(temp_.Sub(folder));
        std::ofstream(temp_.Sub("zereda/backup/readme.txt")) << "x";
        std::ofstream(temp_.Sub("zereda/backup/docs/a.txt")) << "x";
    }

    // The source as the program makes it, over the folder; `share` sees every call.
    std::shared_ptr<DeviceShareFolderSource> Source() {
        auto share = std::make_unique<FaultInjectingShare>(local_);
        share_ = share.get();
        return std::make_shared<DeviceShareFolderSource>(std::move(share), kHost, "admin",
                                                         "secret");
    }

    static void WaitListed(const CShareFolderDlg& dialog) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.IsListing(); }, 5000));
    }
    static std::vector<std::string> Rows(CShareFolderDlg& dialog) {
        std::vector<std::string> rows;
        auto* list = Find<QListWidget>(dialog, kCtlShareFolderList);
        for (int i = 0; i < list->count(); ++i) rows.push_back(list->item(i)->text().toStdString());
        return rows;
    }
    static void Select(CShareFolderDlg& dialog, const std::string& name) {
        auto* list = Find<QListWidget>(dialog, kCtlShareFolderList);
        const auto found = list->findItems(QString::fromStdString(name), Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << name;
        list->setCurrentItem(found.front());
    }

    tessarine::testing::TempDir temp_;
    LocalShare local_;
    FaultInjectingShare* share_ = nullptr;
    CLrcReaderWrapper strings_{"/nonexistent/TessarineTool.lrc",
                               [](std::uint32_t) { return true; }};
    RecordingPresenter messages_;
};

TEST_F(ShareFolderTest, SourceListsFoldersOnlyAfterConnectingOnce) {
    auto source = Source();
    const std::string root = std::string("\\\\") + kHost + "\\";
    const struct {
        std::string folder;
        int error;
        std::vector<std::string> folders;
    } cases[] = {
        {root, 0, {"zereda"}},
        {root + "zereda", 0, {"backup"}},
        {root + "zereda\\backup", 0, {"docs", "empty", "photos"}},
        {root + "zereda\\backup\\empty", 0, {}},
        {root + "zereda\\missing", ENOENT, {}},
        {"not a device path", EINVAL, {}},
    };
    for (const auto& c : cases) {
        const auto listed = source->ListFolders(c.folder);
        EXPECT_EQ(listed.error, c.error) << c.folder;
        if (c.error == 0) {
            EXPECT_EQ(listed.value, c.folders) << c.folder;
        }
    }
    EXPECT_EQ(share_->PathsOf(ShareOp::kConnect), std::vector<std::string>{kHost});
}

TEST_F(ShareFolderTest, SourceConnectsAgainAfterAFailedConnection) {
    auto source = Source();
    share_->FailNth(ShareOp::kConnect, 1, EHOSTUNREACH);
    const std::string backup = std::string("\\\\") + kHost + "\\zereda\\backup";
    EXPECT_EQ(source->ListFolders(backup).error, EHOSTUNREACH);
    EXPECT_EQ(source->ListFolders(backup).value.size(), 3u);
    EXPECT_EQ(share_->Calls(ShareOp::kConnect), 2);
}

TEST_F(ShareFolderTest, SourceProbesAndMakesFoldersLevelByLevel) {
    auto source = Source();
    const std::string backup = std::string("\\\\") + kHost + "\\zereda\\backup";
    const struct {
        std::string folder;
        int error;
    } probes[] = {
        {backup + "\\docs\\2024", 0},
        {backup + "\\missing", ENOENT},
        {backup + "\\missing\\deeper", ENOENT},
        {backup + "\\readme.txt", ENOTDIR},
        {std::string("\\\\") + kHost + "\\", EINVAL},
    };
    for (const auto& p : probes) {
        const ShareFolderOutcome outcome = source->ProbeFolder(p.folder);
        EXPECT_TRUE(outcome.reached) << p.folder;
        EXPECT_EQ(p.error, outcome.error) << p.folder;
    }
    // Every missing level is made; the folder itself already there is EEXIST.
    EXPECT_TRUE(source->CreateFolder(backup + "\\new\\a\\b").Ok());
    EXPECT_TRUE(std::filesystem::is_directory(temp_.Sub("zereda/backup/new/a/b")));
    EXPECT_EQ(EEXIST, source->CreateFolder(backup + "\\new").error);
    EXPECT_EQ(EEXIST, source->CreateFolder(backup + "\\readme.txt").error);
    share_->FailNth(ShareOp::kCreateFolder, 1, EACCES);
    const ShareFolderOutcome refused = source->CreateFolder(backup + "\\refused");
    EXPECT_TRUE(refused.reached);
    EXPECT_EQ(EACCES, refused.error);
    EXPECT_FALSE(std::filesystem::exists(temp_.Sub("zereda/backup/refused")));
}

TEST_F(ShareFolderTest, AnUnreachableDeviceIsToldApartFromAMissingFolder) {
    auto source = Source();
    share_->FailFrom(ShareOp::kConnect, 1, EHOSTUNREACH);
    const std::string folder = std::string("\\\\") + kHost + "\\zereda\\backup\\x";
    const ShareFolderOutcome probe = source->ProbeFolder(folder);
    EXPECT_FALSE(probe.reached);
    EXPECT_FALSE(probe.Missing());
    EXPECT_EQ(EHOSTUNREACH, probe.error);
    EXPECT_FALSE(source->CreateFolder(folder).reached);
    share_->Heal();
    EXPECT_TRUE(source->ProbeFolder(folder).Missing());  // connects again
}

TEST(NewFolderNameTest, NamesTheShareCanTake) {
    for (const char* good : {"新しいフォルダー", "a b", "2024.12", "x"})
        EXPECT_TRUE(IsValidNewFolderName(good)) << good;
    for (const std::string& bad :
         {std::string(), std::string("."), std::string(".."), std::string("a/b"),
          std::string("a\\b"), std::string("a:b"), std::string("a*"), std::string("a?"),
          std::string("\"a\""), std::string("<a>"), std::string("a|b"), std::string("tab\there"),
          std::string("trailing "), std::string("trailing."), std::string(256, 'n')})
        EXPECT_FALSE(IsValidNewFolderName(bad)) << bad;
}

// 新しいフォルダー: refused at the root; made off the UI thread in the folder shown, which is
// listed again with the new folder selected; a bad name or a refusal is told.
TEST_F(ShareFolderTest, NewFolderIsMadeListedAndSelected) {
    CShareFolderDlg dialog(Source(), kHost, strings_, messages_);
    auto* button = Find<QPushButton>(dialog, kCtlShareFolderNew);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(QStringLiteral("新しいフォルダー(&N)"), button->text());
    std::vector<std::string> answers;
    int asked = 0;
    dialog.SetNameAsker([&](QWidget*) -> std::optional<std::string> {
        ++asked;
        if (answers.empty()) return std::nullopt;
        std::string name = answers.front();
        answers.erase(answers.begin());
        return name;
    });
    WaitListed(dialog);
    EXPECT_FALSE(button->isEnabled());
    dialog.NewFolder();
    EXPECT_EQ(0, asked);  // no share is made at the root

    for (const char* name : {"zereda", "backup"}) {
        dialog.OpenFolder(name);
        WaitListed(dialog);
    }
    EXPECT_TRUE(button->isEnabled());
    answers = {"経理 2025"};
    button->click();
    EXPECT_TRUE(dialog.IsListing());
    WaitListed(dialog);
    EXPECT_TRUE(std::filesystem::is_directory(temp_.Sub("zereda/backup/経理 2025")));
    EXPECT_EQ((std::vector<std::string>{"docs", "empty", "photos", "経理 2025"}), Rows(dialog));
    EXPECT_EQ("\\\\192.0.2.10\\zereda\\backup\\経理 2025", dialog.ChosenFolder());
    EXPECT_TRUE(messages_.warnings.empty());

    answers = {"a/b"};
    button->click();
    EXPECT_FALSE(dialog.IsListing());
    answers = {"docs"};
    button->click();
    WaitListed(dialog);
    share_->FailNth(ShareOp::kCreateFolder, 1, EACCES);
    answers = {"refused"};
    button->click();
    WaitListed(dialog);
    EXPECT_EQ(
        (std::vector<std::string>{
            "フォルダー名が正しくありません。空の名前、「.」「..」、末尾の空白やピリオド、次"
            "の文字は使えません：\\ / : * ? \" < > |",
            "フォルダー「docs」を作成できませんでした。\n同じ名前のフォルダーまたはファイルが"
            "あります。",
            "フォルダー「refused」を作成できませんでした。\nアクセスが拒否されました（このPCの"
            "ファイルまたは機器のフォルダの権限）。"}),
        messages_.warnings);
    EXPECT_FALSE(std::filesystem::exists(temp_.Sub("zereda/backup/refused")));
    // Cancelled: nothing asked of the device.
    const int creates = share_->Calls(ShareOp::kCreateFolder);
    button->click();
    EXPECT_EQ(creates, share_->Calls(ShareOp::kCreateFolder));
}

// The name box: Tab goes name, OK, キャンセル; Enter in the name is OK.
TEST(FolderNameDialogTest, TabOrderAndEnterAccepts) {
    CLrcReaderWrapper strings{"/nonexistent/TessarineTool.lrc", [](std::uint32_t) { return true; }};
    CFolderNameDlg dialog(strings);
    EXPECT_EQ(QStringLiteral("新しいフォルダー"), dialog.windowTitle());
    auto* edit = Find<QLineEdit>(dialog, kCtlShareFolderNameEdit);
    const std::vector<unsigned> expected = {kCtlShareFolderNameEdit, kCtlOk, kCtlCancel,
                                            kCtlShareFolderNameEdit};
    QWidget* at = edit;
    for (std::size_t i = 1; i < expected.size(); ++i) {
        do {
            at = at->nextInFocusChain();
        } while (!(at->focusPolicy() & Qt::TabFocus));
        EXPECT_EQ(ControlObjectName(expected[i]), at->objectName()) << i;
    }
    EXPECT_EQ(QStringLiteral("キャンセル"), Find<QPushButton>(dialog, kCtlCancel)->text());
    dialog.show();
    QTest::keyClicks(edit, "new");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(QDialog::Accepted, dialog.result());
    EXPECT_EQ("new", dialog.Name());
}

TEST_F(ShareFolderTest, GoesDownAndUpAndChoosesTheSelectedFolder) {
    CShareFolderDlg dialog(Source(), kHost, strings_, messages_);
    auto* ok = Find<QPushButton>(dialog, kCtlOk);
    auto* up = Find<QPushButton>(dialog, kCtlShareFolderUp);
    WaitListed(dialog);
    EXPECT_EQ(dialog.CurrentFolder(), "\\\\192.0.2.10\\");
    EXPECT_EQ(Rows(dialog), std::vector<std::string>{"zereda"});
    // The root is no destination: OK waits for a folder.
    EXPECT_FALSE(ok->isEnabled());
    EXPECT_FALSE(up->isEnabled());

    for (const char* name : {"zereda", "backup"}) {
        dialog.OpenFolder(name);
        WaitListed(dialog);
    }
    EXPECT_EQ(dialog.CurrentFolder(), "\\\\192.0.2.10\\zereda\\backup");
    EXPECT_EQ(Rows(dialog), (std::vector<std::string>{"docs", "empty", "photos"}));
    EXPECT_EQ(dialog.ChosenFolder(), "\\\\192.0.2.10\\zereda\\backup");
    EXPECT_TRUE(ok->isEnabled());

    dialog.OpenFolder("docs");
    WaitListed(dialog);
    EXPECT_EQ(Rows(dialog), std::vector<std::string>{"2024"});
    up->click();
    WaitListed(dialog);
    EXPECT_EQ(dialog.CurrentFolder(), "\\\\192.0.2.10\\zereda\\backup");

    Select(dialog, "photos");
    EXPECT_EQ(dialog.ChosenFolder(), "\\\\192.0.2.10\\zereda\\backup\\photos");
    ok->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(messages_.warnings.empty());
}

TEST_F(ShareFolderTest, AnEmptyFolderSaysSoAndCanBeChosen) {
    CShareFolderDlg dialog(Source(), kHost, strings_, messages_);
    WaitListed(dialog);
    for (const char* name : {"zereda", "backup", "empty"}) {
        dialog.OpenFolder(name);
        WaitListed(dialog);
    }
    EXPECT_TRUE(Rows(dialog).empty());
    const auto labels = dialog.findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [](QLabel* label) {
        return label->text() == QString::fromUtf8("このフォルダーにはフォルダーがありません。");
    }));
    EXPECT_EQ(dialog.ChosenFolder(), "\\\\192.0.2.10\\zereda\\backup\\empty");
    EXPECT_TRUE(Find<QPushButton>(dialog, kCtlOk)->isEnabled());
}

// A failed listing is reported and leaves the folder shown as it was, ready for the next step.
TEST_F(ShareFolderTest, AFailedListingWarnsAndKeepsTheFolderShown) {
    CShareFolderDlg dialog(Source(), kHost, strings_, messages_);
    WaitListed(dialog);
    dialog.OpenFolder("zereda");
    WaitListed(dialog);
    share_->FailNth(ShareOp::kList, 1, EACCES);
    dialog.OpenFolder("backup");
    WaitListed(dialog);
    ASSERT_EQ(messages_.warnings.size(), 1u);
    EXPECT_EQ(messages_.warnings[0],
              "フォルダーの一覧を取得できませんでした。\n\\\\192.0.2.10\\zereda\\backup");
    EXPECT_EQ(messages_.lastCaption, "エラー");
    EXPECT_EQ(dialog.CurrentFolder(), "\\\\192.0.2.10\\zereda");
    EXPECT_EQ(Rows(dialog), std::vector<std::string>{"backup"});
    EXPECT_TRUE(Find<QListWidget>(dialog, kCtlShareFolderList)->isEnabled());

    dialog.OpenFolder("backup");
    WaitListed(dialog);
    EXPECT_EQ(Rows(dialog).size(), 3u);
}

// A listing that waits on a silent server: the dialog is drawn, refuses OK and navigation,
// and Cancel closes it at once; the answer that comes later is dropped.
class HeldSource : public ShareFolderSource {
public:
    IoResult<std::vector<std::string>> ListFolders(const std::string&) override {
        std::unique_lock lock(mutex_);
        ++calls_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
        return {{"late"}, 0};
    }
    ShareFolderOutcome ProbeFolder(const std::string&) override { return {}; }
    ShareFolderOutcome CreateFolder(const std::string&) override { return {}; }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    bool WaitCalled() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [this] { return calls_ > 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int calls_ = 0;
    bool released_ = false;
};

TEST_F(ShareFolderTest, CancelWorksWhileAListingWaits) {
    auto source = std::make_shared<HeldSource>();
    {
        CShareFolderDlg dialog(source, kHost, strings_, messages_);
        ASSERT_TRUE(source->WaitCalled());
        QTest::qWait(100);
        EXPECT_TRUE(dialog.IsListing());
        EXPECT_FALSE(Find<QPushButton>(dialog, kCtlOk)->isEnabled());
        EXPECT_FALSE(Find<QListWidget>(dialog, kCtlShareFolderList)->isEnabled());
        // As on every other dialog of the program.
        EXPECT_EQ(Find<QPushButton>(dialog, kCtlCancel)->text(), QStringLiteral("閉じる"));
        Find<QPushButton>(dialog, kCtlCancel)->click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    source->Release();
    QTest::qWait(100);  // the thread's late answer reaches no dialog
    EXPECT_TRUE(messages_.warnings.empty());
}

// "参照" of the destination puts the browser's choice into the edit; a cancelled browser
// leaves the edit as it was.
TEST(BackupPageDestinationBrowseTest, ChoiceFillsTheDestinationEdit) {
    testing::SettingsFixture fixture(0);
    std::vector<std::string> starts;
    std::string answer = "\\\\192.168.1.10\\zereda\\backup\\docs";
    fixture.services_.chooseDestinationFolder = [&](QWidget*, const std::string& start,
                                                    const CCommonSetting&) {
        starts.push_back(start);
        return answer;
    };
    CBackupSettingDlg page(fixture.services_);
    auto* destination = Find<QLineEdit>(page, 1098);
    Find<QPushButton>(page, 1062)->click();
    EXPECT_EQ(destination->text().toStdString(), answer);
    EXPECT_EQ(starts, std::vector<std::string>{"\\\\192.168.1.10\\"});
    answer.clear();
    Find<QPushButton>(page, 1062)->click();
    EXPECT_EQ(destination->text().toStdString(), "\\\\192.168.1.10\\zereda\\backup\\docs");
}

}  // namespace
}  // namespace tessarine::ui
