#include "detection/detect_file_result_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "base/app_log.h"
#include "core/event_names.h"
#include "fakes/fake_clock.h"
#include "fakes/fault_injecting_share.h"
#include "fakes/recording_message_sink.h"
#include "fakes/sync_recording_vfs.h"
#include "fakes/test_support.h"
#include "infra/xml_parse.h"
#include "platform/posix/local_share.h"

namespace tessarine {
namespace {

namespace fs = std::filesystem;
using testing::FakeClock;
using testing::FaultInjectingShare;
using testing::FolderNames;
using testing::ReadFile;
using testing::RecordingMessageSink;
using testing::ShareCall;
using testing::ShareOp;
using testing::TempDir;
using testing::WriteFile;

constexpr char kHost[] = "127.0.0.1";
constexpr int kPopupTimeout = 7;

class FixedSystemInfo : public SystemInfo {
public:
    std::string ComputerName() const override { return "PC01"; }
    std::string UserName() const override { return "user1"; }
};

// A result document as the device writes it, one hit per category given.
std::string ResultXml(const std::string& file, const std::string& stamp,
                      const std::vector<std::pair<std::string, std::string>>& hits) {
    std::string groups;
    for (const auto& [category, hit] : hits)
        groups += "<group><name>" + category + "</name><count>1</count><hits><text>" + hit +
                  "</text></hits></group>";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<detectresult><file>" + file +
           "</file><path>/home/u/" + file + "</path><timestamp>" + stamp + "</timestamp><groups>" +
           groups + "</groups></detectresult>\n";
}

// The share of one check: faults chosen by the test; its calls are kept after it is gone.
class CheckShare : public FaultInjectingShare {
public:
    using DeleteObserver = std::function<void(const std::string&)>;
    CheckShare(LocalShare& local, std::vector<ShareCall>& calls, const DeleteObserver& onDelete,
               const DeleteObserver& onCopied)
        : FaultInjectingShare(local), calls_(calls), onDelete_(onDelete), onCopied_(onCopied) {}
    ~CheckShare() override {
        const std::vector<ShareCall> record = Record();
        calls_.insert(calls_.end(), record.begin(), record.end());
    }
    IoStatus DeleteFile(const std::string& path) override {
        if (onDelete_) onDelete_(path);
        return FaultInjectingShare::DeleteFile(path);
    }
    IoStatus CopyFromShare(const std::string& path, const std::string& localPath,
                           const std::atomic<int>* cancel) override {
        const IoStatus copied = FaultInjectingShare::CopyFromShare(path, localPath, cancel);
        if (onCopied_) onCopied_(path);
        return copied;
    }

private:
    std::vector<ShareCall>& calls_;
    const DeleteObserver& onDelete_;
    const DeleteObserver& onCopied_;
};

class DetectFileResultCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        CAppLog::Get().InitWith(dir_.Path() + "/", "check", true, std::int64_t{64} << 20);
        fs::create_directories(DeviceFolder());
        fs::create_directories(dir_.Sub("data/detectfile/result"));
        for (const char* name :
             {"DetectFileSettingChanged", "DetectFileResultShutDown", "DetectFileResultNow"})
            events_.Create(name);
        MakeChecker();
    }
    // The results database and a checker over it (again when a test wants them made anew).
    void MakeChecker() {
        checker_.reset();
        results_.reset();
        results_ = std::make_unique<CDetectFileResultSQLUtility>(dir_.Sub("data/TessarineTool.db"));
        ASSERT_EQ(results_->Initialize(), 0);
        checker_ = MakeWorker<CDetectFileResultCheck>(CDetectFileResultCheck::Dependencies{
            .shareFactory = [this]() -> std::unique_ptr<DeviceShare> {
                auto share = std::make_unique<CheckShare>(local_, calls_, onDelete_, onCopied_);
                if (configure_) configure_(*share);
                return share;
            },
            .results = *results_,
            .messageSink = sink_,
            .namedEvents = events_,
            .clock = clock_,
            .resultFolderPath = dir_.Sub("data/detectfile/result/"),
            .systemInfo = systemInfo_,
            .loadCommonSetting =
                [this](CCommonSetting& common) {
                    common.ipv4Address = kHost;
                    common.userName = "user1";
                    common.userPassword = "pw";
                    common.popupTimeout = kPopupTimeout;
                    return 0;
                },
            .loadDetectFileSetting =
                [this](CDetectFileSetting& setting) {
                    setting.isNotifyDetectFileComplete = notify_;
                    setting.resultWatchInterval = interval_;
                    return 0;
                },
            .profileStore = nullptr,
        });
        checker_->SetControlBlock(&block_);
    }
    void TearDown() override {
        checker_.reset();
        results_.reset();
        CAppLog::Get().Reset();
    }

    std::string DeviceFolder() const { return dir_.Sub("share/zereda/import/result"); }
    void PutOnDevice(const std::string& name, const std::string& content) {
        ASSERT_TRUE(WriteFile(DeviceFolder() + "/" + name, content));
    }
    std::vector<std::string> OnDevice() const { return FolderNames(DeviceFolder()); }
    std::vector<std::string> LocalCopies() const {
        return FolderNames(dir_.Sub("data/detectfile/result"));
    }
    // One check and its pop-up decision, as one time-out of the loop makes them.
    int Check() {
        const int result = checker_->GetDetectFileResult(kHost, "user1", "pw");
        checker_->NotifyResult(result, notify_, kPopupTimeout);
        return result;
    }
    std::vector<std::string> StoredPaths() {
        std::vector<CDetectFileResult> listed;
        results_->ListDetectFileResults(-1, listed);
        std::vector<std::string> paths;
        for (const auto& result : listed) paths.push_back(result.filePath);
        std::sort(paths.begin(), paths.end());
        return paths;
    }
    int Balloons() const { return sink_.Count(WM_REQUEST_BALLOON); }
    static int CountInLog(const std::string& text) {
        const std::string log = ReadFile(CAppLog::Get().LogFilePath());
        int count = 0;
        for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++count;
        return count;
    }

    TempDir dir_;
    LocalShare local_{dir_.Sub("share")};
    std::vector<ShareCall> calls_;
    std::function<void(FaultInjectingShare&)> configure_;
    CheckShare::DeleteObserver onDelete_;
    CheckShare::DeleteObserver onCopied_;
    std::unique_ptr<CDetectFileResultSQLUtility> results_;
    RecordingMessageSink sink_;
    NamedEvents events_;
    FakeClock clock_{1700000000};
    FixedSystemInfo systemInfo_;
    bool notify_ = true;
    int interval_ = 10;
    std::atomic<int> stop_{0};
    std::atomic<int> running_{0};
    ThreadControlBlock block_{&stop_, &running_, nullptr};
    WorkerPtr<CDetectFileResultCheck> checker_;
};

TEST(ResultFileNameTest, OnlyThisPcsNamesWithUpTo14CharactersAreTakenAndUnsafeOnesRefused) {
    struct Case {
        const char* name;
        ResultFileName expected;
    };
    const Case cases[] = {
        {"PC01_20170401120000.xml", ResultFileName::kAccepted},
        {"pc01_20170401120000.XML", ResultFileName::kAccepted},
        {"PC01_.xml", ResultFileName::kAccepted},
        {"PC01_日本語.xml", ResultFileName::kAccepted},  // characters, not bytes
        {"PC02_20170401120000.xml", ResultFileName::kNotForThisPc},
        {"PC01_20170401120000_1.xml", ResultFileName::kNotForThisPc},  // 16 characters
        {"PC011_2017.xml", ResultFileName::kNotForThisPc},
        {"PC01_20170401120000.xml.tmp", ResultFileName::kNotForThisPc},
        {"PC01.xml", ResultFileName::kNotForThisPc},
        {"PC01_..%2f..%2fx.xml", ResultFileName::kRefused},
        {"PC01_..xml", ResultFileName::kRefused},
        {"PC01_a\\b.xml", ResultFileName::kRefused},
        {"PC01_a/b.xml", ResultFileName::kRefused},
        {"PC01_a\nb.xml", ResultFileName::kRefused},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CheckResultFileName("PC01", c.name), c.expected);
    }
    EXPECT_EQ(CheckResultFileName("", "_1.xml"), ResultFileName::kNotForThisPc);
}

TEST_F(DetectFileResultCheckTest, ChecksStoreDeleteAndAskForOnePopUp) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> device;  // name, content
        bool notify;
        int expected;
        std::vector<std::string> leftOnDevice;
        int balloons;
        int stored;
    };
    const std::string good1 = ResultXml("a.txt", "20170401120000", {{"社外秘", "社外秘"}});
    const std::string good2 = ResultXml("b.txt", "20170401120001", {{"電話番号", "03-1-2345"}});
    const std::string malformed = "<detectresult><file>c</file><path>";
    const Case cases[] = {
        {"two results of this PC, others left alone",
         {{"PC01_20170401120000.xml", good1},
          {"pc01_20170401120001.xml", good2},
          {"PC02_20170401120000.xml", good1},
          {"PC01_20170401120000_1.xml", good1}},
         true,
         1,
         {"PC01_20170401120000_1.xml", "PC02_20170401120000.xml"},
         1,
         2},
        {"notification off", {{"PC01_20170401120000.xml", good1}}, false, 1, {}, 0, 1},
        {"nothing for this PC",
         {{"PC02_20170401120000.xml", good1}},
         true,
         0,
         {"PC02_20170401120000.xml"},
         0,
         0},
        {"one stored, one malformed",
         {{"PC01_20170401120000.xml", good1}, {"PC01_20170401120002.xml", malformed}},
         true,
         1,
         {"PC01_20170401120002.xml"},
         1,
         1},
        {"only a malformed one",
         {{"PC01_20170401120002.xml", malformed}},
         true,
         -1,
         {"PC01_20170401120002.xml"},
         0,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(DeviceFolder());
        fs::create_directories(DeviceFolder());
        for (const auto& [name, content] : c.device) PutOnDevice(name, content);
        sink_.Clear();
        notify_ = c.notify;
        TempDir freshDatabase;
        CDetectFileResultSQLUtility results(freshDatabase.Sub("x.db"));
        ASSERT_EQ(results.Initialize(), 0);
        auto checker = MakeWorker<CDetectFileResultCheck>(CDetectFileResultCheck::Dependencies{
            .shareFactory = [this]() -> std::unique_ptr<DeviceShare> {
                return std::make_unique<LocalShare>(dir_.Sub("share"));
            },
            .results = results,
            .messageSink = sink_,
            .namedEvents = events_,
            .clock = clock_,
            .resultFolderPath = dir_.Sub("data/detectfile/result/"),
            .systemInfo = systemInfo_,
            .loadCommonSetting = {},
            .loadDetectFileSetting = {},
            .profileStore = nullptr,
        });
        const int errorsBefore = CountInLog(" ERR ");
        const int result = checker->GetDetectFileResult(kHost, "user1", "pw");
        checker->NotifyResult(result, c.notify, kPopupTimeout);

        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(OnDevice(), c.leftOnDevice);
        ASSERT_EQ(Balloons(), c.balloons);
        if (c.balloons == 1) {
            const auto balloon = sink_.Messages()[0].balloon;
            ASSERT_TRUE(balloon.has_value());
            EXPECT_EQ(balloon->kind, kBalloonDetectFileResult);
            EXPECT_EQ(balloon->result, 0);
            EXPECT_EQ(balloon->value, kPopupTimeout);
        }
        std::vector<CDetectFileResult> listed;
        results.ListDetectFileResults(-1, listed);
        EXPECT_EQ(static_cast<int>(listed.size()), c.stored);
        if (c.expected == 0) {
            EXPECT_EQ(CountInLog(" ERR "), errorsBefore);
        }
    }
    // Local copies are kept.
    EXPECT_EQ(LocalCopies(),
              (std::vector<std::string>{"PC01_20170401120000.xml", "PC01_20170401120002.xml",
                                        "pc01_20170401120001.xml"}));
}

// The device's copy is deleted only once the stored result is on disk: every write of the store
// has been followed by a sync when the delete is asked for.
TEST_F(DetectFileResultCheckTest, AStoredResultIsOnDiskBeforeItsDeviceCopyIsDeleted) {
    testing::SyncRecordingVfs vfs;  // the default VFS for the connection made next
    MakeChecker();
    PutOnDevice("PC01_20170401120000.xml",
                ResultXml("a.txt", "20170401120000", {{"社外秘", "社外秘"}}));
    const std::int64_t writesBefore = vfs.LastWrite();
    int deletes = 0;
    onDelete_ = [&](const std::string&) {
        ++deletes;
        EXPECT_GT(vfs.LastWrite(), writesBefore);  // the result was written...
        EXPECT_TRUE(vfs.AllWritesSynced())         // ...and synced before this delete
            << "last write " << vfs.LastWrite() << ", last sync " << vfs.LastSync();
    };
    EXPECT_EQ(Check(), 1);
    EXPECT_EQ(deletes, 1);
    EXPECT_EQ(StoredPaths(), std::vector<std::string>{"/home/u/a.txt"});
    onDelete_ = nullptr;
    checker_.reset();
    results_.reset();  // closed while the VFS still lives
}

// What the device offers is taken only whole and within the reader's limit; what is taken home
// is the user's alone.
TEST_F(DetectFileResultCheckTest, OnlyWholeResultsWithinTheLimitAreTakenAndKeptOwnerOnly) {
    const std::string name = "PC01_20170401120000.xml";
    const std::string first = ResultXml("a.txt", "20170401120000", {{"社外秘", "社外秘"}});
    const std::string second =
        ResultXml("a.txt", "20170401120000", {{"社外秘", "社外秘"}, {"電話番号", "03-1-2345"}});

    // Rewritten on the device while it was copied: neither stored nor deleted this time.
    PutOnDevice(name, first);
    int copies = 0;
    onCopied_ = [&](const std::string&) {
        if (++copies == 1) PutOnDevice(name, second);
    };
    EXPECT_EQ(Check(), 0);
    EXPECT_TRUE(StoredPaths().empty());
    EXPECT_EQ(OnDevice(), std::vector<std::string>{name});
    EXPECT_EQ(CountInLog("Result File Changed While Copied"), 1);
    // The next look takes the finished version, with both hits; a result folder left open to
    // everyone is closed again.
    fs::permissions(dir_.Sub("data/detectfile/result"), fs::perms::all);
    EXPECT_EQ(Check(), 1);
    EXPECT_TRUE(OnDevice().empty());
    std::vector<CDetectFileResult> listed;
    results_->ListDetectFileResults(-1, listed);
    ASSERT_EQ(listed.size(), 1u);
    std::string category, hit;
    results_->BindDetectFileResultDetailStatement(listed[0].id);
    int hits = 0;
    while (results_->GetDetectFileResultDetail(&category, &hit) == 0) ++hits;
    EXPECT_EQ(hits, 2);
    const auto mode = [](const std::string& path) {
        return fs::status(path).permissions() & fs::perms::all;
    };
    EXPECT_EQ(mode(dir_.Sub("data/detectfile/result")), fs::perms::owner_all);
    EXPECT_EQ(mode(dir_.Sub("data/detectfile/result/") + name),
              fs::perms::owner_read | fs::perms::owner_write);

    // Larger than the reader takes: never fetched, left on the device, reported once.
    const std::string large = "PC01_20170401120001.xml";
    PutOnDevice(large, "");
    fs::resize_file(DeviceFolder() + "/" + large, CXMLParse::kMaxDocumentSize + 1);
    calls_.clear();
    EXPECT_EQ(Check(), -1);
    EXPECT_EQ(Check(), -1);
    EXPECT_EQ(OnDevice(), std::vector<std::string>{large});
    for (const ShareCall& call : calls_) EXPECT_NE(call.op, ShareOp::kCopyFromShare) << call.path;
    EXPECT_EQ(CountInLog("Result File Too Large. file:" + large), 1);
}

TEST_F(DetectFileResultCheckTest, AResultStoredButNotDeletedIsDeletedAtTheNextCheckWithoutAPopUp) {
    PutOnDevice("PC01_20170401120000.xml", ResultXml("a.txt", "20170401120000", {{"c", "x"}}));
    configure_ = [](FaultInjectingShare& share) { share.FailNth(ShareOp::kDeleteFile, 1, EACCES); };
    EXPECT_EQ(Check(), 1);
    EXPECT_EQ(Balloons(), 1);
    EXPECT_EQ(OnDevice(), std::vector<std::string>{"PC01_20170401120000.xml"});
    EXPECT_EQ(CountInLog("File Delete Error. file:PC01_20170401120000.xml"), 1);

    configure_ = nullptr;
    EXPECT_EQ(Check(), 0);
    EXPECT_EQ(Balloons(), 1) << "nothing new was stored";
    EXPECT_TRUE(OnDevice().empty());
    EXPECT_EQ(StoredPaths(), std::vector<std::string>{"/home/u/a.txt"});
    EXPECT_EQ(CountInLog("Result Already Stored"), 1);
    EXPECT_EQ(CountInLog("Detect File Result Check End. Result:1 Stored:1"), 1);
    EXPECT_EQ(CountInLog("Detect File Result Check End. Result:0 Stored:0"), 1);
}

TEST_F(DetectFileResultCheckTest, ADifferentResultUnderAStoredIdStaysOnTheDeviceAndIsReportedOnce) {
    PutOnDevice("PC01_20170401120000.xml", ResultXml("a.txt", "20170401120000", {{"c", "x"}}));
    EXPECT_EQ(Check(), 1);
    PutOnDevice("PC01_20170401120009.xml", ResultXml("a.txt", "20170401120000", {{"c", "y"}}));
    EXPECT_EQ(Check(), -1);
    EXPECT_EQ(Check(), -1);
    EXPECT_EQ(OnDevice(), std::vector<std::string>{"PC01_20170401120009.xml"});
    EXPECT_EQ(CountInLog("Another Result Is Stored Under The Same Id"), 1);
    EXPECT_EQ(CountInLog("Save Reusult Error. file:"), 1);
}

TEST_F(DetectFileResultCheckTest, NamesThatCouldLeaveTheResultFolderAreNeverCopied) {
    PutOnDevice("PC01_..%2f..%2fx.xml", ResultXml("a.txt", "20170401120000", {{"c", "x"}}));
    PutOnDevice("PC01_a\\..\\..\\y.xml", ResultXml("b.txt", "20170401120001", {{"c", "x"}}));
    EXPECT_EQ(Check(), 0);
    EXPECT_EQ(Check(), 0);
    EXPECT_EQ(OnDevice().size(), 2u);
    EXPECT_TRUE(LocalCopies().empty());
    for (const auto& entry : fs::recursive_directory_iterator(dir_.Path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name != "x.xml" && name != "y.xml") << entry.path();
    }
    for (const ShareCall& call : calls_) EXPECT_NE(call.op, ShareOp::kCopyFromShare) << call.path;
    EXPECT_EQ(CountInLog("Result File Name Refused."), 2) << "once per name";
}

TEST_F(DetectFileResultCheckTest, DeviceFailuresLeaveTheFilesForTheNextCheck) {
    struct Case {
        const char* what;
        std::function<void(FaultInjectingShare&)> configure;
        int expected;
        std::size_t left;
    };
    const Case cases[] = {
        {"no connection",
         [](FaultInjectingShare& s) { s.FailNth(ShareOp::kConnect, 1, EHOSTUNREACH); }, -1, 2},
        {"folder unreadable", [](FaultInjectingShare& s) { s.FailNth(ShareOp::kList, 1, EIO); }, -1,
         2},
        {"one copy fails", [](FaultInjectingShare& s) { s.FailNth(ShareOp::kCopyFromShare, 1); }, 1,
         1},
        {"every copy fails", [](FaultInjectingShare& s) { s.FailFrom(ShareOp::kCopyFromShare, 1); },
         -1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(DeviceFolder());
        fs::create_directories(DeviceFolder());
        // Each case its own results, so the same files are new every time.
        PutOnDevice("PC01_20170401120000.xml",
                    ResultXml(std::string(c.what) + "1", "20170401120000", {{"c", "x"}}));
        PutOnDevice("PC01_20170401120001.xml",
                    ResultXml(std::string(c.what) + "2", "20170401120001", {{"c", "x"}}));
        configure_ = c.configure;
        EXPECT_EQ(checker_->GetDetectFileResult(kHost, "user1", "pw"), c.expected);
        EXPECT_EQ(OnDevice().size(), c.left);
    }
    // A device without a result folder yet has nothing to give.
    configure_ = nullptr;
    fs::remove_all(DeviceFolder());
    EXPECT_EQ(checker_->GetDetectFileResult(kHost, "user1", "pw"), 0);
}

// The loop, with the event wait replaced: each wait is recorded and answered from a script;
// when the script is used up the shutdown event ends the loop.
class ScriptedWaits {
public:
    explicit ScriptedWaits(std::deque<std::uint32_t> script) : script_(std::move(script)) {}
    std::uint32_t Wait(std::atomic<int>& stop, std::function<void()> beforeAnswer) {
        if (beforeAnswer) beforeAnswer();
        std::lock_guard lock(mutex_);
        if (script_.empty()) {
            stop = 1;
            return CDetectFileResultCheck::kWaitShutDown;
        }
        const std::uint32_t answer = script_.front();
        script_.pop_front();
        return answer;
    }

private:
    std::mutex mutex_;
    std::deque<std::uint32_t> script_;
};

TEST_F(DetectFileResultCheckTest, LoopChecksAfterEachIntervalAndRestartsTheWaitOnASettingChange) {
    struct Case {
        const char* what;
        std::deque<std::uint32_t> script;
        std::vector<int> intervals;  // the interval in force at each wait
        std::vector<std::uint32_t> waits;
        int connects;
    };
    const Case cases[] = {
        {"interval 10: first check one interval after start, then every interval",
         {kWaitTimeout, kWaitTimeout},
         {10, 10, 10},
         {600000, 600000, 600000},
         2},
        {"a setting change restarts the wait with the new interval and checks nothing",
         {CDetectFileResultCheck::kWaitSettingChanged, kWaitTimeout},
         {10, 3, 3},
         {600000, 180000, 180000},
         1},
        {"\"DetectFileResultNow\" checks at once and waits a whole interval again",
         {CDetectFileResultCheck::kWaitCheckNow},
         {10, 10},
         {600000, 600000},
         1},
        {"an interval of 0 waits one minute instead of polling without a pause",
         {kWaitTimeout},
         {0, 0},
         {60000, 60000},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        calls_.clear();
        stop_ = 0;
        std::vector<std::uint32_t> waits;
        std::size_t turn = 0;
        interval_ = c.intervals[0];
        ScriptedWaits script(c.script);
        checker_->SetEventWaiter([&](const std::vector<EventHandle>& handles, std::uint32_t ms) {
            EXPECT_EQ(handles.size(), 3u);
            waits.push_back(ms);
            ++turn;
            return script.Wait(stop_, [&] {
                if (turn < c.intervals.size()) interval_ = c.intervals[turn];
            });
        });
        ASSERT_TRUE(checker_->StartThread());
        checker_->StopThread();
        EXPECT_EQ(running_.load(), 0);
        EXPECT_EQ(waits, c.waits);
        EXPECT_EQ(std::count_if(calls_.begin(), calls_.end(),
                                [](const ShareCall& call) { return call.op == ShareOp::kConnect; }),
                  c.connects);
    }
    EXPECT_EQ(CountInLog("Invalid ResultWatchInterval:0"), 1);
}

TEST_F(DetectFileResultCheckTest, TheShutdownEventEndsTheRealWait) {
    ASSERT_TRUE(checker_->StartThread());
    // The real wait is 10 minutes; the shutdown event (with the stop flag) ends it at once.
    while (running_.load() == 0) std::this_thread::yield();
    stop_ = 1;
    events_.Signal(std::string(kEventDetectFileResultShutDown));
    checker_->StopThread();
    EXPECT_EQ(running_.load(), 0);
    EXPECT_TRUE(calls_.empty()) << "no check before the first interval has passed";
}

}  // namespace
}  // namespace tessarine
