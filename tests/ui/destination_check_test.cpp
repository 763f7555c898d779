// 追加 of the backup page looks off the UI thread whether the new pair's destination is on the
// device, through the share as the common page has it typed, and offers to make it when it is
// not: the answers of the device and of the user in every combination.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <condition_variable>
#include <mutex>

#include "fakes/lrc_builder.h"
#include "ui/settings_backup_page.h"
#include "ui/settings_test_support.h"
#include "ui/share_folder_source.h"

namespace tessarine::ui {
namespace {

using testing::Find;
using testing::SettingsFixture;

constexpr char kDestination[] = "\\\\192.168.1.77\\zereda\\backup\\docs";

// A device whose answers the test sets; records what it was asked.
class ScriptedFolders : public ShareFolderSource {
public:
    IoResult<std::vector<std::string>> ListFolders(const std::string&) override { return {}; }
    ShareFolderOutcome ProbeFolder(const std::string& folder) override {
        std::lock_guard lock(mutex_);
        probed.push_back(folder);
        return probe;
    }
    ShareFolderOutcome CreateFolder(const std::string& folder) override {
        std::lock_guard lock(mutex_);
        created.push_back(folder);
        return create;
    }
    std::vector<std::string> Probed() {
        std::lock_guard lock(mutex_);
        return probed;
    }
    std::vector<std::string> Created() {
        std::lock_guard lock(mutex_);
        return created;
    }

    ShareFolderOutcome probe;
    ShareFolderOutcome create;

private:
    std::mutex mutex_;
    std::vector<std::string> probed;
    std::vector<std::string> created;
};

class DestinationCheckTest : public ::testing::Test {
protected:
    DestinationCheckTest() {
        fx_.services_.shareFolders = [this](const CCommonSetting& common) {
            madeWith_.push_back(common.ipv4Address + "/" + common.userName);
            return device_;
        };
    }
    void SetUp() override {
        page_ = std::make_unique<CBackupSettingDlg>(fx_.services_);
        CCommonSetting typed;
        typed.ipv4Address = "192.168.1.77";
        typed.userName = "typed-user";
        page_->SetCommonSource([typed] { return typed; });
    }
    void Add() {
        Find<QLineEdit>(*page_, 1097)->setText("/home/u");
        Find<QLineEdit>(*page_, 1098)->setText(kDestination);
        Find<QPushButton>(*page_, 1063)->click();
        ASSERT_EQ(1, Find<QTreeWidget>(*page_, 1067)->topLevelItemCount());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !page_->IsCheckingDestination(); }, 5000));
    }

    SettingsFixture fx_{0};
    std::shared_ptr<ScriptedFolders> device_ = std::make_shared<ScriptedFolders>();
    std::vector<std::string> madeWith_;
    std::unique_ptr<CBackupSettingDlg> page_;
};

TEST_F(DestinationCheckTest, EachAnswerOfTheDeviceAndTheUser) {
    const std::string missing = "バックアップ先フォルダ「" + std::string(kDestination) +
                                "」が機器にありません。作成しますか？";
    const struct Case {
        const char* what;
        ShareFolderOutcome probe;
        bool yes;
        ShareFolderOutcome create;
        std::vector<std::string> questions;
        bool created;
        std::vector<std::string> warnings;
        std::vector<std::string> informations;
    } cases[] = {
        {"there", {}, true, {}, {}, false, {}, {}},
        {"missing, made",
         {true, ENOENT},
         true,
         {},
         {missing},
         true,
         {},
         {"バックアップ先フォルダ「" + std::string(kDestination) + "」を作成しました。"}},
        {"missing, declined", {true, ENOENT}, false, {}, {missing}, false, {}, {}},
        {"a file holds the name, making refused",
         {true, ENOTDIR},
         true,
         {true, EEXIST},
         {missing},
         true,
         {"バックアップ先フォルダ「" + std::string(kDestination) +
          "」を作成できませんでした。\n同じ名前のフォルダーまたはファイルがあります。"},
         {}},
        {"missing, making not allowed",
         {true, ENOENT},
         true,
         {true, EACCES},
         {missing},
         true,
         {"バックアップ先フォルダ「" + std::string(kDestination) +
          "」を作成できませんでした。\nアクセスが拒否されました（このPCのファイルまたは機器のフォ"
          "ルダの権限）。"},
         {}},
        {"device unreachable",
         {false, EHOSTUNREACH},
         true,
         {},
         {},
         false,
         {"バックアップ先フォルダ「" + std::string(kDestination) +
          "」が機器にあるか確認できませんでした。\n機器に接続できませんでした。IPアドレス、ユーザ"
          "ー名、パスワードを確認してください。"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fx_.messages_ = {};
        fx_.messages_.answerYes = c.yes;
        device_ = std::make_shared<ScriptedFolders>();
        device_->probe = c.probe;
        device_->create = c.create;
        madeWith_.clear();
        ASSERT_NO_FATAL_FAILURE(Add());
        EXPECT_EQ(std::vector<std::string>{kDestination}, device_->Probed());
        EXPECT_EQ(c.created ? std::vector<std::string>{kDestination} : std::vector<std::string>{},
                  device_->Created());
        EXPECT_EQ(c.questions, fx_.messages_.questions);
        EXPECT_EQ(c.warnings, fx_.messages_.warnings);
        EXPECT_EQ(c.informations, fx_.messages_.informations);
        // The address and user as typed on the common page, not the stored ones.
        EXPECT_EQ(std::vector<std::string>{"192.168.1.77/typed-user"}, madeWith_);
        // The pair stays whatever the device said.
        EXPECT_EQ(1, Find<QTreeWidget>(*page_, 1067)->topLevelItemCount());
    }
}

// A page closed while the device is silent drops the late answer: no box for a closed window.
TEST_F(DestinationCheckTest, AnAnswerAfterThePageClosedIsDropped) {
    class Silent : public ScriptedFolders {
    public:
        ShareFolderOutcome ProbeFolder(const std::string&) override {
            std::unique_lock lock(mutex);
            released.wait(lock, [this] { return release; });
            return {true, ENOENT};
        }
        std::mutex mutex;
        std::condition_variable released;
        bool release = false;
    };
    auto silent = std::make_shared<Silent>();
    fx_.services_.shareFolders = [silent](const CCommonSetting&) { return silent; };
    Find<QLineEdit>(*page_, 1097)->setText("/home/u");
    Find<QLineEdit>(*page_, 1098)->setText(kDestination);
    Find<QPushButton>(*page_, 1063)->click();
    EXPECT_TRUE(page_->IsCheckingDestination());
    page_.reset();
    {
        std::lock_guard lock(silent->mutex);
        silent->release = true;
    }
    silent->released.notify_all();
    QTest::qWait(150);
    EXPECT_TRUE(fx_.messages_.questions.empty());
}

TEST_F(DestinationCheckTest, TheQuestionComesFromAStringContainerWhenItHasOne) {
    ::tessarine::testing::TempDir dir;
    ASSERT_TRUE(::tessarine::testing::LrcBuilder()
                    .Add(::tessarine::testing::LrcString(10078, "Create %s?"))
                    .WriteTo(dir.Sub("t.lrc")));
    CLrcReaderWrapper strings(dir.Sub("t.lrc"), [](std::uint32_t) { return true; });
    fx_.services_.strings = &strings;
    SetUp();
    device_->probe = {true, ENOENT};
    fx_.messages_.answerYes = false;
    ASSERT_NO_FATAL_FAILURE(Add());
    EXPECT_EQ(std::vector<std::string>{"Create " + std::string(kDestination) + "?"},
              fx_.messages_.questions);
}

}  // namespace
}  // namespace tessarine::ui
