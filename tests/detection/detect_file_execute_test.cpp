#include "detection/detect_file_execute.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "base/string_utility.h"
#include "detection/detect_file_execute_fixture.h"
#include "infra/xml_parse.h"
#include "platform/share_name.h"

namespace tessarine::detect_test {
namespace {

std::string Stamp(std::time_t when) { return ToTimeStamp(when); }

// Counts the file entries of a file list sent to the device.
int ListedFiles(const std::string& listPath) {
    const std::string text = ReadFile(listPath);
    int count = 0;
    for (std::size_t pos = text.find("<transfername>"); pos != std::string::npos;
         pos = text.find("<transfername>", pos + 1))
        ++count;
    return count;
}

TEST_F(DetectFileExecuteTest, FirstRunSendsEligibleFilesAndAnnouncesThem) {
    AddFile("docs/report.docx");
    AddFile("docs/x.TXT");
    AddFile("docs/.profile");
    AddFile("docs/README");
    AddFile("docs/photo.jpg");
    AddFile("ProgramData/tessarine/log.txt");  // the program's own folder

    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(CopiedFiles(),
              (std::vector<std::string>{"docs/report.docx", "docs/x.TXT", "<list>"}));
    const std::string stamp = Stamp(kNow);
    EXPECT_EQ(ImportedFiles(), (std::vector<std::string>{"PC01_report_" + stamp + ".docx",
                                                         "PC01_x_" + stamp + ".TXT"}));
    const std::vector<std::string> lists = ImportedFiles(true);
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_TRUE(std::regex_match(lists[0], std::regex("PC01_metadata_\\d{14}\\.qzv")));
    const std::string list = ReadFile(Imported() + "/" + lists[0]);
    EXPECT_NE(list.find("<path>" + Drive() + "/docs/report.docx</path>"), std::string::npos);
    EXPECT_EQ(Rows(),
              (std::vector<std::string>{"docs/report.docx|COMPLETE", "docs/x.TXT|COMPLETE"}));
    EXPECT_EQ(fileList_->IsDetectFileExecuted(), 1);
    EXPECT_EQ(executorRunning_.load(), 0);
    EXPECT_EQ(sink_.Messages().size(), 2u);  // running, then idle
    // The device's setting copied home is the user's alone, as the file list is.
    const auto mode = [](const std::string& path) {
        return fs::status(path).permissions() & fs::perms::all;
    };
    EXPECT_EQ(mode(temp_.Sub("data/detectfile")), fs::perms::owner_all);
    EXPECT_EQ(mode(temp_.Sub("data/detectfile/setting.xml")),
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(DetectFileExecuteTest, SizeLimitCountsWholeMebibytes) {
    AddFile("a/just-under.txt");
    AddFile("a/exactly-11.txt");
    AddFile("a/small.txt");
    ASSERT_EQ(Run([&](VirtualFileSystem& tree) {
                  tree.AddFile(Drive() + "/a/just-under.txt", 11534335, kNow - 60);
                  tree.AddFile(Drive() + "/a/exactly-11.txt", 11534336, kNow - 60);
              }),
              0);
    EXPECT_EQ(CopiedFiles(),
              (std::vector<std::string>{"a/just-under.txt", "a/small.txt", "<list>"}));
    EXPECT_NE(Log().find("Over File Size...Skip"), std::string::npos);
}

TEST_F(DetectFileExecuteTest, NothingIsSentWhenTheDeviceIsNotReady) {
    struct Case {
        const char* name;
        DeviceSetting setting;
        std::string leftover;  // a file already in the import folder
        std::string document;  // replaces the device's setting when not empty
        int result;
    };
    const std::vector<Case> cases = {
        {"detection off", {.enable = "ON"}, "", "", 0},
        {"another PC's file on the device", {}, "PC02_old_20170101000000.txt", "", 0},
        {"a setting without its size",
         {},
         "",
         "<setting><enable>on</enable><timestamp>t</timestamp><e/></setting>",
         1},
        {"no setting at all", {}, "", "-", 1},
        {"a setting larger than the reader takes", {}, "", "+", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AddFile("a.txt");
        SetDevice(c.setting);
        const std::string settingPath = ShareRoot() + "/zereda/import/setting.xml";
        if (c.document == "-") {
            fs::remove(settingPath);
        } else if (c.document == "+") {
            fs::resize_file(settingPath, CXMLParse::kMaxDocumentSize + 1);
        } else if (!c.document.empty()) {
            ASSERT_TRUE(WriteFile(settingPath, c.document));
        }
        if (!c.leftover.empty()) {
            ASSERT_TRUE(WriteFile(Imported() + "/" + c.leftover, "o"));
        }
        EXPECT_EQ(Run(), c.result);
        EXPECT_TRUE(CopiedFiles().empty());
        if (c.document == "+") {
            EXPECT_NE(Log().find("Detect File Server Setting Too Large."), std::string::npos);
            for (const auto& call : record_) EXPECT_NE(call.op, ShareOp::kCopyFromShare);
        }
        EXPECT_TRUE(Rows().empty());
        EXPECT_EQ(fileList_->IsDetectFileExecuted(), 0);
        DeviceTakesIn();
    }
}

// Every sender of an office writes into the one import folder: a run removes only what it can
// prove its own (a name it recorded before copying, or that name's temporary file) and waits
// while anything else is there.
TEST_F(DetectFileExecuteTest, OnlyEntriesProvablyOursAreRemoved) {
    const std::string ours = "PC01_old_20170101000000.txt";
    // Temporary names carry their sender (this user's data folder): another user of this PC
    // who sends under the same name writes under a temporary name of its own.
    const std::string ourCut = TemporaryCopyNameFor(ours, temp_.Sub("data/detectfile") + "/");
    const std::string otherUsersCut = TemporaryCopyNameFor(ours, "/home/other/data/detectfile");
    const std::string ourList = "PC01_metadata_20170101000001.qzv";
    struct Case {
        const char* name;
        std::vector<std::string> recorded;  // names this program recorded as sent
        std::vector<std::string> onDevice;
        std::vector<std::string> left;  // what the run leaves of them
        bool sends;
    };
    const std::vector<Case> cases = {
        {"another sender's copy in flight", {}, {"~tess0123456789abcdef.tmp"}, {"*"}, false},
        {"another user of this PC", {}, {"PC01_x_20170101000000.txt"}, {"*"}, false},
        {"our cut copy", {ours}, {ourCut}, {}, true},
        {"another user's copy of the same name in flight", {ours}, {otherUsersCut}, {"*"}, false},
        {"our unannounced copy", {ours}, {ours}, {}, true},
        {"our cut copy beside another's", {ours}, {ourCut, "x.tmp"}, {"x.tmp"}, false},
        {"a list of ours that reached the device", {ours, ourList}, {ours, ourList}, {"*"}, false},
    };
    AddFile("a.txt");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetDevice({.timestamp = c.name});
        for (const auto& name : c.recorded) ASSERT_EQ(fileList_->AddSentName(name), 0);
        for (const auto& name : c.onDevice) ASSERT_TRUE(WriteFile(Imported() + "/" + name, "o"));
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(CopiedFiles(), c.sends ? (std::vector<std::string>{"a.txt", "<list>"})
                                         : std::vector<std::string>{});
        for (const auto& name : c.onDevice) {
            const bool stays = c.left == std::vector<std::string>{"*"} ||
                               std::find(c.left.begin(), c.left.end(), name) != c.left.end();
            EXPECT_EQ(fs::exists(Imported() + "/" + name), stays) << name;
        }
        DeviceTakesIn();
        ASSERT_EQ(fileList_->DeleteAllSentNames(), 0);
    }
}

TEST_F(DetectFileExecuteTest, DifferentialRunSendsOnlyNewChangedAndUnannouncedFiles) {
    AddFile("same.txt");
    AddFile("changed.txt");
    AddFile("gone.txt");
    ASSERT_EQ(Run(), 0);
    DeviceTakesIn();

    AddFile("changed.txt", kNow - 10);
    AddFile("new.txt");
    fs::remove(Drive() + "/gone.txt");
    clock_.Advance(std::chrono::hours(24));
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(CopiedFiles(), (std::vector<std::string>{"changed.txt", "new.txt", "<list>"}));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"changed.txt|COMPLETE", "new.txt|COMPLETE",
                                                "same.txt|COMPLETE"}));
    const std::string stamp = Stamp(kNow + 86400);
    EXPECT_EQ(ImportedFiles(), (std::vector<std::string>{"PC01_changed_" + stamp + ".txt",
                                                         "PC01_new_" + stamp + ".txt"}));
    DeviceTakesIn();

    // A changed device setting sends every file again.
    SetDevice({.timestamp = "20170402000000"});
    clock_.Advance(std::chrono::hours(24));
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(CopiedFiles(),
              (std::vector<std::string>{"changed.txt", "new.txt", "same.txt", "<list>"}));
}

TEST_F(DetectFileExecuteTest, FilesOfAListThatNeverArrivedAreSentAgain) {
    AddFile("a.txt");
    AddFile("b.txt");
    faults_.failingCopies = {3};  // the file list at the end of the run
    EXPECT_EQ(Run(), 1);
    EXPECT_NE(Log().find(Utf8ToCp932("ファイルリスト転送エラー")), std::string::npos);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"a.txt|ADD", "b.txt|ADD"}));
    DeviceTakesIn();

    faults_.failingCopies.clear();
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(CopiedFiles(), (std::vector<std::string>{"a.txt", "b.txt", "<list>"}));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"a.txt|COMPLETE", "b.txt|COMPLETE"}));
}

// A run that broke off between its copies and their list leaves copies no list names; the device
// never takes those in, so they must not hold every later run back.
TEST_F(DetectFileExecuteTest, UnannouncedCopiesOfOursAreRemovedAndSentAgain) {
    AddFile("a.txt");
    AddFile("b.txt");
    faults_.failingCopies = {3};  // the file list
    EXPECT_EQ(Run(), 1);
    const std::vector<std::string> leftovers = ImportedFiles();
    ASSERT_EQ(leftovers.size(), 2u);

    faults_.failingCopies.clear();
    clock_.Advance(std::chrono::hours(24));
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(CopiedFiles(), (std::vector<std::string>{"a.txt", "b.txt", "<list>"}));
    for (const auto& name : leftovers)
        EXPECT_NE(Log().find("Remove Unannounced Copy:" + name), std::string::npos) << name;
    const std::string stamp = Stamp(kNow + 86400);
    EXPECT_EQ(ImportedFiles(),
              (std::vector<std::string>{"PC01_a_" + stamp + ".txt", "PC01_b_" + stamp + ".txt"}));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"a.txt|COMPLETE", "b.txt|COMPLETE"}));
}

// The copy the clean-up removes is no longer named by the next list, even when its local file
// has gone meanwhile.
TEST_F(DetectFileExecuteTest, ListNeverNamesACopyTheRunRemoved) {
    AddFile("a.txt");
    AddFile("b.txt");
    faults_.failingCopies = {3};  // the file list
    EXPECT_EQ(Run(), 1);
    ASSERT_EQ(ImportedFiles().size(), 2u);
    fs::remove(Drive() + "/a.txt");

    faults_.failingCopies.clear();
    clock_.Advance(std::chrono::hours(24));
    ASSERT_EQ(Run(), 0);
    EXPECT_NE(Log().find("Remove Unannounced Copy:PC01_a_"), std::string::npos);
    EXPECT_EQ(CopiedFiles(), (std::vector<std::string>{"b.txt", "<list>"}));
    const std::vector<std::string> lists = ImportedFiles(true);
    ASSERT_EQ(lists.size(), 1u);
    const std::string list = ReadFile(Imported() + "/" + lists[0]);
    EXPECT_EQ(list.find("PC01_a_"), std::string::npos) << list;
    EXPECT_EQ(ListedFiles(Imported() + "/" + lists[0]), 1);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"b.txt|COMPLETE"}));
}

// Copies a list announced stay for the device, whether their list still waits or the device has
// taken the list and not yet the files.
TEST_F(DetectFileExecuteTest, AnnouncedCopiesHoldTheRunBack) {
    AddFile("a.txt");
    ASSERT_EQ(Run(), 0);
    const std::vector<std::string> sent = ImportedFiles();
    ASSERT_EQ(sent.size(), 1u);
    AddFile("b.txt");
    for (const bool listTaken : {false, true}) {
        SCOPED_TRACE(listTaken ? "list taken in" : "list waiting");
        if (listTaken)
            for (const auto& list : ImportedFiles(true)) fs::remove(Imported() + "/" + list);
        clock_.Advance(std::chrono::hours(24));
        EXPECT_EQ(Run(), 0);
        EXPECT_TRUE(CopiedFiles().empty());
        EXPECT_EQ(ImportedFiles(), sent);
        EXPECT_EQ(Log().find("Remove Unannounced Copy:"), std::string::npos);
    }
}

TEST_F(DetectFileExecuteTest, FileListsGoEveryHundredFilesUnderNamesOfTheirOwn) {
    for (int i = 0; i < 250; ++i) AddFile("many/f" + std::to_string(1000 + i) + ".txt");
    ASSERT_EQ(Run(), 0);  // the clock stands still: every list is made in the same second
    const std::vector<std::string> copied = CopiedFiles();
    ASSERT_EQ(copied.size(), 253u);
    EXPECT_EQ(copied[100], "<list>");
    EXPECT_EQ(copied[201], "<list>");
    EXPECT_EQ(copied[252], "<list>");
    const std::vector<std::string> lists = ImportedFiles(true);
    ASSERT_EQ(lists.size(), 3u);
    EXPECT_EQ(ListedFiles(Imported() + "/" + lists[0]), 100);
    EXPECT_EQ(ListedFiles(Imported() + "/" + lists[1]), 100);
    EXPECT_EQ(ListedFiles(Imported() + "/" + lists[2]), 50);
    EXPECT_EQ(ImportedFiles().size(), 250u);  // names raised a second at each clash
}

TEST_F(DetectFileExecuteTest, ConsecutiveFailuresEndTheWalkOnlyAtTheSixth) {
    struct Case {
        const char* name;
        std::set<int> failing;
        int copyError;
        int result;
        std::vector<std::string> copied;
    };
    const std::vector<Case> cases = {
        {"five failures then a success",
         {1, 2, 3, 4, 5},
         EIO,
         0,
         {"a/6.txt", "a/7.txt", "b/1.txt", "<list>"}},
        {"six failures end the walk", {1, 2, 3, 4, 5, 6}, EIO, 1, {}},
        {"a failure on the last entry of a folder",
         {7},
         EIO,
         0,
         {"a/1.txt", "a/2.txt", "a/3.txt", "a/4.txt", "a/5.txt", "a/6.txt", "b/1.txt", "<list>"}},
        // A refused name is refused in every run: counting it keeps the run from saying 0.
        {"names the device refuses count as failures", {1, 2, 3, 4, 5, 6}, EINVAL, 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Drive() + "/a");
        fs::remove_all(Drive() + "/b");
        for (int i = 1; i <= 7; ++i) AddFile("a/" + std::to_string(i) + ".txt");
        AddFile("b/1.txt");
        SetDevice({.timestamp = c.name});  // a full forward each time
        faults_.failingCopies = c.failing;
        faults_.copyError = c.copyError;
        EXPECT_EQ(Run(), c.result);
        EXPECT_EQ(CopiedFiles(), c.copied);
        DeviceTakesIn();
    }
}

// Failures in a row count per folder; a run whose every copy failed still reports a failure, and
// the count of forwarded files leaves the file lists out.
TEST_F(DetectFileExecuteTest, RunResultAndCountTellWhatWasForwarded) {
    for (const char* folder : {"c1", "c2", "c3"}) {
        AddFile(std::string(folder) + "/1.txt");
        AddFile(std::string(folder) + "/2.txt");
    }
    faults_.failingCopies = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(CopiedFiles().empty());
    EXPECT_NE(Log().find("No File Forwarded. Failed Files:6"), std::string::npos);
    EXPECT_NE(Log().find("Result:1 Forwarded:0"), std::string::npos);

    faults_.failingCopies.clear();
    SetDevice({.timestamp = "20170402000000"});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(CopiedFiles().size(), 7u);  // six files and their list
    EXPECT_NE(Log().find("Result:0 Forwarded:6"), std::string::npos);
}

// A walk ended by the file list it sends on the way reports the walk's own error.
TEST_F(DetectFileExecuteTest, FileListFailureDuringTheWalkEndsItWithTheForwardsCode) {
    for (int i = 0; i < CDetectFileExecute::kFileListBatch + 1; ++i)
        AddFile("many/f" + std::to_string(1000 + i) + ".txt");
    // The local file list cannot be written: a folder holds its name.
    fs::create_directories(temp_.Sub("data/detectfile/filelist"));
    EXPECT_EQ(Run(), 1);
    const std::string log = Log();
    const std::size_t listError = log.find(Utf8ToCp932("ファイルリスト生成エラー"));
    const std::size_t forwardError = log.find(Utf8ToCp932("フル転送エラー"));
    ASSERT_NE(listError, std::string::npos);
    ASSERT_NE(forwardError, std::string::npos);
    EXPECT_LT(listError, forwardError);
    EXPECT_EQ(CopiedFiles().size(), std::size_t{CDetectFileExecute::kFileListBatch});
}

TEST_F(DetectFileExecuteTest, WalkPassesOverWhatItMustNotOrCannotRead) {
    AddFile("open/a.txt");
    AddFile("locked/b.txt");
    AddFile("usb/c.txt");  // another mount below the drive
    AddFile("bad\nname.txt");
    AddFile("bad\xff.txt");
    drives_->layout.mountPoints.push_back(Drive() + "/usb");
    ASSERT_EQ(Run([&](VirtualFileSystem& tree) { tree.FailOpen(Drive() + "/locked", EACCES); }), 0);
    EXPECT_EQ(CopiedFiles(), (std::vector<std::string>{"open/a.txt", "<list>"}));
    const std::string log = Log();
    EXPECT_NE(log.find("Folder Not Readable. Skip:" + Drive() + "/locked"), std::string::npos);
    EXPECT_NE(log.find("Other Mount. Skip:" + Drive() + "/usb"), std::string::npos);
    EXPECT_NE(log.find("Unusable File Path. Skip:"), std::string::npos);
    EXPECT_EQ(log.find("Retry Forward Count"), std::string::npos);
}

TEST_F(DetectFileExecuteTest, ServerFileNames) {
    auto executor = MakeWorker<CDetectFileExecute>(CDetectFileExecute::Dependencies{
        .shareFactory = {},
        .fileList = *fileList_,
        .messageSink = sink_,
        .clock = clock_,
        .systemInfo = systemInfo_,
        .loadCommonSetting = {},
        .profileStore = store_.get(),
        .detectFileFolderPath = temp_.Sub("data/detectfile"),
        .excludedFolders = {},
        .localFileSystem = nullptr,
        .driveList = drives_,
    });
    executor->SetComputerName("PC01");
    const std::string stamp = Stamp(kNow);
    EXPECT_EQ(executor->CreateServerFileName("report.docx"), "PC01_report_" + stamp + ".docx");
    EXPECT_EQ(executor->ProcessingTime(), kNow);
    EXPECT_EQ(executor->CreateServerFileName("a.b.txt"), "PC01_a.b_" + stamp + ".txt");
    EXPECT_EQ(executor->CreateServerFileName("a:b?<|>.txt"), "PC01_a_b_____" + stamp + ".txt");

    // A 300-character base is cut to 176: 203 characters, "..._" before the time.
    const std::string cut = executor->CreateServerFileName(std::string(300, 'n') + ".txt");
    EXPECT_EQ(cut.size(), 203u);
    EXPECT_EQ(cut, "PC01_" + std::string(176, 'n') + "..._" + stamp + ".txt");
    // The share takes 255 bytes: a name within 200 characters whose characters take three bytes
    // each is cut further, at a character boundary.
    const auto repeated = [](const char* character, int times) {
        std::string text;
        for (int i = 0; i < times; ++i) text += character;
        return text;
    };
    for (const int length : {300, 78}) {
        SCOPED_TRACE(length);
        const std::string name = executor->CreateServerFileName(repeated("文", length) + ".txt");
        EXPECT_EQ(name, "PC01_" + repeated("文", 76) + "..._" + stamp + ".txt");
        EXPECT_EQ(name.size(), 255u);
    }
    // One that fits both limits stays whole.
    EXPECT_EQ(executor->CreateServerFileName(repeated("文", 75) + ".txt"),
              "PC01_" + repeated("文", 75) + "_" + stamp + ".txt");

    // A name already used moves a second on, as often as needed.
    ASSERT_EQ(fileList_->AddDetectFileInformation("/x/a.txt", "a.txt", "PC01_a_" + stamp + ".txt",
                                                  kNow, kNow),
              0);
    ASSERT_EQ(fileList_->AddDetectFileInformation("/y/a.txt", "a.txt",
                                                  "PC01_a_" + Stamp(kNow + 1) + ".txt", kNow, kNow),
              0);
    EXPECT_EQ(executor->CreateServerFileName("a.txt"), "PC01_a_" + Stamp(kNow + 2) + ".txt");
    EXPECT_EQ(executor->ProcessingTime(), kNow + 2);
}

TEST_F(DetectFileExecuteTest, SameNameInTwoFoldersWithinOneSecond) {
    AddFile("one/a.txt");
    AddFile("two/a.txt");
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(ImportedFiles(), (std::vector<std::string>{"PC01_a_" + Stamp(kNow) + ".txt",
                                                         "PC01_a_" + Stamp(kNow + 1) + ".txt"}));
}

TEST_F(DetectFileExecuteTest, EligibilityTable) {
    auto executor = MakeWorker<CDetectFileExecute>(CDetectFileExecute::Dependencies{
        .shareFactory = {},
        .fileList = *fileList_,
        .messageSink = sink_,
        .clock = clock_,
        .systemInfo = systemInfo_,
        .loadCommonSetting = {},
        .profileStore = store_.get(),
        .detectFileFolderPath = temp_.Sub("data/detectfile"),
        .excludedFolders = {},
        .localFileSystem = nullptr,
        .driveList = drives_,
    });
    CDetectFileServerSetting setting;
    setting.extensions = {"txt", "DOCX"};
    setting.maximumSize = 10;
    executor->SetServerSetting(setting);
    struct Case {
        std::string name;
        std::uint64_t size;
        bool eligible;
    };
    const std::vector<Case> cases = {
        {"a.txt", 0, true},         {"x.TXT", 1, true}, {"r.docx", 5, true},
        {".profile", 1, false},     {".txt", 1, false}, {"README", 1, false},
        {"a.txt.bak", 1, false},    {"a.", 1, false},   {"a.txt", 11534335, true},
        {"a.txt", 11534336, false}, {"a.tx", 1, false}, {"a.txtx", 1, false},
    };
    for (const auto& c : cases) {
        LocalEntry entry;
        entry.name = c.name;
        entry.size = c.size;
        EXPECT_EQ(executor->IsEnableForwardFile(entry, "/" + c.name), c.eligible)
            << c.name << " " << c.size;
    }
}

}  // namespace
}  // namespace tessarine::detect_test
