// The restore window over a device share kept in a folder: the tree listed off the UI thread,
// ticks becoming paths, a restore to the original place and to a folder with what was skipped
// listed, the backup running flag held while a restore runs and given back when it ends, is
// cancelled or the window goes, and the refusals before a restore starts.
#include "ui/restore_window.h"

#include <gtest/gtest.h>

#include <QTest>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "fakes/fault_injecting_share.h"
#include "platform/posix/local_share.h"
#include "settings_test_support.h"

namespace tessarine::ui {
namespace {

using tessarine::testing::FaultInjectingShare;
using testing::RecordingPresenter;

constexpr char kDestination[] = "\\\\192.0.2.10\\zereda\\backup\\docs";

// Lists and restores through the real source; a restore can be held at a progress point until
// the test lets it go or the window cancels it.
class GatedSource : public RestoreSource {
public:
    explicit GatedSource(std::shared_ptr<RestoreSource> inner) : inner_(std::move(inner)) {}

    IoResult<std::vector<ShareEntry>> List(int pair,
                                           const std::vector<std::string>& names) override {
        {
            std::lock_guard lock(mutex_);
            listThreads.push_back(std::this_thread::get_id());
        }
        return inner_->List(pair, names);
    }
    RestoreSummary Restore(const RestoreRequest& request, const std::atomic<int>* cancel,
                           const CRestoreEngine::ProgressObserver& observer) override {
        std::unique_lock lock(mutex_);
        requests.push_back(request);
        if (hold) {
            RestoreProgress progress;
            progress.filesTotal = 4;
            progress.filesDone = 1;
            progress.bytesTotal = 40;
            progress.bytesDone = 10;
            observer(progress);
            held_ = true;
            changed_.notify_all();
            // The window's Cancel, or the test's Release.
            while (!released_ && cancel->load() == 0)
                changed_.wait_for(lock, std::chrono::milliseconds(10));
            if (cancel->load() != 0) {
                RestoreSummary summary;
                summary.restored = 1;
                summary.cancelled = true;
                return summary;
            }
        }
        lock.unlock();
        return inner_->Restore(request, cancel, observer);
    }

    bool Held() {
        std::lock_guard lock(mutex_);
        return held_;
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

    bool hold = false;
    std::vector<std::thread::id> listThreads;
    std::vector<RestoreRequest> requests;

private:
    std::shared_ptr<RestoreSource> inner_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool released_ = false;
};

// The device holds docs/{a.txt, sub/{b.txt, c.txt}} and a temporary copy a backup left; the
// pair's source folder is empty but for an a.txt that differs from its copy.
class RestoreWindowTest : public ::testing::Test {
protected:
    RestoreWindowTest() : local_(temp_.Sub("device")), source_(temp_.Sub("src")) {
        const std::string docs = temp_.Sub("device/zereda/backup/docs");
        std::filesystem::create_directories(docs + "/sub");
        std::filesystem::create_directories(source_);
        Write(docs + "/a.txt", "device a");
        Write(docs + "/sub/b.txt", "device b");
        Write(docs + "/sub/c.txt", "device c");
        Write(docs + "/~tess0123456789abcdef.tmp", "cut off");
        Write(source_ + "/a.txt", "local edit of a");
        pairs_[0] = BackupFolderPair{source_, kDestination, ""};

        services_.loadPairs = [this] { return pairs_; };
        services_.makeSource = [this](const BackupFolderPairs& pairs) {
            auto inner =
                std::make_shared<DeviceRestoreSource>(std::make_unique<FaultInjectingShare>(local_),
                                                      "192.0.2.10", "admin", "secret", pairs, "");
            gated_ = std::make_shared<GatedSource>(inner);
            gated_->hold = hold_;
            return gated_;
        };
        services_.backupExecuting = &backupExecuting_;
        services_.backupFlagChanged = [this] { ++flagChanges_; };
        services_.strings = &strings_;
        services_.messages = &messages_;
    }

    static void Write(const std::string& path, const std::string& text) {
        std::ofstream(path) << text;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // The window with pair 0 listed.
    std::unique_ptr<CRestoreDlg> Open() {
        auto window = std::make_unique<CRestoreDlg>(services_);
        window->Reload(0);
        WaitListed(*window);
        return window;
    }
    static void WaitListed(const CRestoreDlg& window) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window.IsListing(); }, 5000));
    }
    static void WaitEnded(const CRestoreDlg& window) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window.IsRunning(); }, 10000));
    }
    static QTreeWidgetItem* Item(QTreeWidget& tree, const QString& name,
                                 QTreeWidgetItem* parent = nullptr) {
        const int count = parent ? parent->childCount() : tree.topLevelItemCount();
        for (int i = 0; i < count; ++i) {
            QTreeWidgetItem* item = parent ? parent->child(i) : tree.topLevelItem(i);
            if (item->text(0) == name) return item;
        }
        return nullptr;
    }
    static std::vector<std::string> Names(QTreeWidget& tree, QTreeWidgetItem* parent = nullptr) {
        std::vector<std::string> names;
        const int count = parent ? parent->childCount() : tree.topLevelItemCount();
        for (int i = 0; i < count; ++i)
            names.push_back(
                (parent ? parent->child(i) : tree.topLevelItem(i))->text(0).toStdString());
        return names;
    }

    tessarine::testing::TempDir temp_;
    LocalShare local_;
    std::string source_;
    BackupFolderPairs pairs_{};
    bool hold_ = false;
    std::shared_ptr<GatedSource> gated_;
    std::atomic<int> backupExecuting_{0};
    int flagChanges_ = 0;
    RecordingPresenter messages_;
    CLrcReaderWrapper strings_{"/nonexistent/TessarineTool.lrc",
                               [](std::uint32_t) { return true; }};
    RestoreServices services_;
};

TEST(RestoreListingTest, LeavesOutTemporaryCopiesAndUnusableNamesFoldersFirst) {
    std::vector<ShareEntry> listed = {
        {"b.txt", false, 1, 0}, {"~tess0123456789abcdef.tmp", false, 1, 0},
        {"z", true, 0, 0},      {"..", true, 0, 0},
        {"a\\b", false, 1, 0},  {std::string("x\x01y"), false, 1, 0},
        {"a.txt", false, 1, 0}, {"m", true, 0, 0},
    };
    std::vector<std::string> names;
    for (const ShareEntry& entry : RestoreListing(listed)) names.push_back(entry.name);
    EXPECT_EQ(names, (std::vector<std::string>{"m", "z", "a.txt", "b.txt"}));
}

TEST_F(RestoreWindowTest, ListsOffTheUiThreadAndTicksBecomePaths) {
    auto window = Open();
    QTreeWidget& tree = *window->Tree();
    EXPECT_EQ(Names(tree), (std::vector<std::string>{"sub", "a.txt"}));
    QTreeWidgetItem* sub = Item(tree, "sub");
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->childCount(), 0);  // listed when opened
    window->Tree()->expandItem(sub);
    WaitListed(*window);
    EXPECT_EQ(Names(tree, sub), (std::vector<std::string>{"b.txt", "c.txt"}));
    ASSERT_EQ(gated_->listThreads.size(), 2u);
    for (const std::thread::id id : gated_->listThreads) EXPECT_NE(id, std::this_thread::get_id());

    // A ticked folder is one path; unticking one of its files leaves the others.
    sub->setCheckState(0, Qt::Checked);
    EXPECT_EQ(window->TickedPaths(), (std::vector<std::string>{source_ + "/sub"}));
    Item(tree, "c.txt", sub)->setCheckState(0, Qt::Unchecked);
    Item(tree, "a.txt")->setCheckState(0, Qt::Checked);
    EXPECT_EQ(window->TickedPaths(),
              (std::vector<std::string>{source_ + "/sub/b.txt", source_ + "/a.txt"}));
}

TEST_F(RestoreWindowTest, RestoresInPlaceAndListsWhatWasSkipped) {
    auto window = Open();
    QTreeWidget& tree = *window->Tree();
    Item(tree, "sub")->setCheckState(0, Qt::Checked);  // never opened: the whole folder
    Item(tree, "a.txt")->setCheckState(0, Qt::Checked);
    ASSERT_TRUE(window->StartRestore());
    EXPECT_EQ(backupExecuting_.load(), 1);
    WaitEnded(*window);

    EXPECT_EQ(Read(source_ + "/sub/b.txt"), "device b");
    EXPECT_EQ(Read(source_ + "/sub/c.txt"), "device c");
    EXPECT_EQ(Read(source_ + "/a.txt"), "local edit of a");  // kept: it differs
    EXPECT_EQ(window->SummaryLabel()->text().toStdString(),
              "復元 2 件、同一 0 件、スキップ 1 件、失敗 0 件");
    ASSERT_EQ(window->SkippedList()->topLevelItemCount(), 1);
    EXPECT_EQ(window->SkippedList()->topLevelItem(0)->text(0).toStdString(), source_ + "/a.txt");
    EXPECT_EQ(window->SkippedList()->topLevelItem(0)->text(1).toStdString(),
              "ローカルのファイルが異なるため上書きしませんでした");
    EXPECT_EQ(window->Progress()->value(), window->Progress()->maximum());
    EXPECT_EQ(backupExecuting_.load(), 0);
    EXPECT_EQ(flagChanges_, 2);
    EXPECT_TRUE(messages_.warnings.empty());
}

TEST_F(RestoreWindowTest, RestoresToAFolderKeepingTheTree) {
    auto window = Open();
    std::filesystem::create_directories(temp_.Sub("out"));
    window->ToFolder()->setChecked(true);
    EXPECT_TRUE(window->FolderEdit()->isEnabled());
    window->FolderEdit()->setText(QString::fromStdString(temp_.Sub("out")));
    Item(*window->Tree(), "sub")->setCheckState(0, Qt::Checked);
    ASSERT_TRUE(window->StartRestore());
    WaitEnded(*window);
    ASSERT_EQ(gated_->requests.size(), 1u);
    EXPECT_EQ(gated_->requests[0].targetFolder, temp_.Sub("out"));
    EXPECT_EQ(Read(temp_.Sub("out/src/sub/b.txt")), "device b");
    EXPECT_FALSE(std::filesystem::exists(temp_.Sub("out/src/a.txt")));
    EXPECT_FALSE(std::filesystem::exists(source_ + "/sub"));
    EXPECT_EQ(window->SkippedList()->topLevelItemCount(), 0);
    EXPECT_EQ(window->SummaryLabel()->text().toStdString(),
              "復元 2 件、同一 0 件、スキップ 0 件、失敗 0 件");
}

TEST_F(RestoreWindowTest, HoldsTheFlagWhileRunningAndCancelGivesItBack) {
    hold_ = true;
    auto window = Open();
    Item(*window->Tree(), "sub")->setCheckState(0, Qt::Checked);
    ASSERT_TRUE(window->StartRestore());
    ASSERT_TRUE(QTest::qWaitFor([&] { return gated_->Held(); }, 5000));
    // The progress the restore reported reaches the bar; the window is locked but for Cancel.
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->Progress()->value() == 250; }, 5000));
    EXPECT_EQ(backupExecuting_.load(), 1);
    EXPECT_FALSE(window->StartButton()->isEnabled());
    EXPECT_FALSE(window->Tree()->isEnabled());
    EXPECT_TRUE(window->CancelButton()->isEnabled());
    // A scheduled backup now finds the flag taken, as during a settings save.
    int idle = 0;
    EXPECT_FALSE(backupExecuting_.compare_exchange_strong(idle, 1));

    window->show();
    window->reject();  // Escape or "閉じる" while running: a cancel, the window stays
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->CancelButton()->isEnabled());
    WaitEnded(*window);
    EXPECT_TRUE(window->LastSummary().cancelled);
    EXPECT_NE(window->SummaryLabel()->text().toStdString().find("復元をキャンセルしました。"),
              std::string::npos);
    EXPECT_EQ(backupExecuting_.load(), 0);
    EXPECT_FALSE(std::filesystem::exists(source_ + "/sub"));
}

TEST_F(RestoreWindowTest, ClosedWhileRunningTheRestoreStopsAndTheFlagIsGivenBack) {
    hold_ = true;
    auto window = Open();
    Item(*window->Tree(), "a.txt")->setCheckState(0, Qt::Checked);
    ASSERT_TRUE(window->StartRestore());
    ASSERT_TRUE(QTest::qWaitFor([&] { return gated_->Held(); }, 5000));
    window.reset();  // the program ends with the window open
    EXPECT_EQ(backupExecuting_.load(), 0);
}

TEST_F(RestoreWindowTest, RefusalsBeforeARestoreStarts) {
    struct Case {
        const char* name;
        bool backupRuns;
        bool tick;
        const char* folder;  // null: the original place
        const char* warning;
    };
    const Case cases[] = {
        {"nothing ticked", false, false, nullptr, "復元するファイルを選択してください。"},
        {"no folder", false, true, "", "復元先フォルダの指定が正しくありません。"},
        {"relative folder", false, true, "out", "復元先フォルダの指定が正しくありません。"},
        {"missing folder", false, true, "/nonexistent/out",
         "復元先フォルダの指定が正しくありません。"},
        {"a backup runs", true, true, nullptr, "バックアップ処理実行中のため復元できません。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages_.warnings.clear();
        backupExecuting_ = c.backupRuns ? 1 : 0;
        auto window = Open();
        if (c.tick) Item(*window->Tree(), "a.txt")->setCheckState(0, Qt::Checked);
        if (c.folder != nullptr) {
            window->ToFolder()->setChecked(true);
            window->FolderEdit()->setText(QString::fromUtf8(c.folder));
        }
        EXPECT_FALSE(window->StartRestore());
        EXPECT_FALSE(window->IsRunning());
        EXPECT_EQ(messages_.warnings, std::vector<std::string>{c.warning});
        EXPECT_TRUE(gated_->requests.empty());
        EXPECT_EQ(backupExecuting_.load(), c.backupRuns ? 1 : 0);
    }
}

TEST_F(RestoreWindowTest, ListingFailureIsShownAndNoPairsSaySo) {
    local_.SetConnectResult(EHOSTUNREACH);
    auto window = Open();
    EXPECT_EQ(window->Tree()->topLevelItemCount(), 0);
    EXPECT_EQ(window->StatusLabel()->text().toStdString(),
              "機器のフォルダを一覧できませんでした。");

    pairs_ = BackupFolderPairs{};
    window->Reload(-1);
    EXPECT_EQ(window->StatusLabel()->text().toStdString(), "フォルダ設定がありません。");
    EXPECT_FALSE(window->StartButton()->isEnabled());
}

}  // namespace
}  // namespace tessarine::ui
