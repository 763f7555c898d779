// The program killed without warning (SIGKILL) in the middle of a forwarding run to a real SMB
// server, started again and left to forward again: every file a file list names is on the
// device with the bytes of its source, no name is announced twice, no temporary copy is left,
// and the detection file list names, for every designated file, a copy the device was told of.
// Needs the smbd fixture (scripts/smbd-fixture; TESSARINE_SMB_* variables) and the simulator
// for the device's detection setting.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/headless_fixture.h"
#include "fakes/smb_fixture.h"
#include "fakes/test_support.h"
#include "infra/xml_parse.h"
#include "platform/share_name.h"

namespace tessarine {
namespace {

using namespace app_test;  // NOLINT(google-build-using-namespace): the fixture's own names
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::FolderNames;
using testing::ReadFile;
using testing::WriteFile;

constexpr int kFolders = 15;
constexpr int kFilesPerFolder = 100;  // designated (.txt); one list per 100 copies
constexpr int kDesignated = kFolders * kFilesPerFolder;
constexpr char kRunEnd[] = "Detect File Forward End. Result:";

bool IsFileList(const std::string& name) {
    return name.find("_metadata_") != std::string::npos && name.size() > 4 &&
           name.compare(name.size() - 4, 4, ".qzv") == 0;
}

class ForwardCrashTest : public HeadlessTest {
protected:
    void SetUp() override {
        HeadlessTest::SetUp();
        if (::testing::Test::IsSkipped() || HasFatalFailure()) return;
        testing::SmbFixture smb;
        if (!smb.Load()) GTEST_SKIP() << testing::kSmbFixtureMissing;
        server_ = smb;
        ASSERT_EQ(0, Simulator("layout '" + server_.root +
                               "' --switch on --extensions txt --max-size 10 "
                               "--timestamp 20170401000000"));
        EmptyImport();
        for (int f = 0; f < kFolders; ++f) {
            for (int i = 0; i < kFilesPerFolder; ++i) {
                const std::string name = "d" + std::to_string(f) + "/f" + std::to_string(i);
                // Contents differ, so a copy announced under the wrong name shows.
                ASSERT_TRUE(WriteFile(Drive() + "/" + name + ".txt",
                                      name + std::string(512 + (f * 37 + i) % 700, 'x')));
            }
            ASSERT_TRUE(WriteFile(Drive() + "/d" + std::to_string(f) + "/photo.jpg", "not sent"));
        }
    }

    void TearDown() override {
        if (!server_.root.empty()) EmptyImport();
    }

    std::string Drive() const { return temp_.Sub("drive"); }
    std::string Imported() const { return server_.root + "/zereda/import/data"; }
    std::string LocalFileList() const { return DataFolder() + "detectfile/filelist"; }

    int Simulator(const std::string& arguments) const {
        const std::string command = "python3 '" TESSARINE_SOURCE_DIR
                                    "/tools/devicesim/devicesim.py' " +
                                    arguments + " >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void EmptyImport() {
        std::error_code ignored;
        for (const std::string& folder : {Imported(), server_.root + "/zereda/import/result"})
            for (const auto& name : FolderNames(folder)) fs::remove(folder + "/" + name, ignored);
    }

    // The device only: forwarding needs no backup pair.
    pid_t StartConfigured() { return HeadlessTest::StartConfigured(server_, {}, false); }

    // Results of the runs that have ended, in order.
    std::vector<std::string> RunResults() const {
        const std::string log = LogText();
        std::vector<std::string> results;
        for (std::size_t at = 0; (at = log.find(kRunEnd, at)) != std::string::npos; ++at) {
            const std::size_t from = at + sizeof kRunEnd - 1;
            results.push_back(log.substr(from, log.find_first_not_of("-0123456789", from) - from));
        }
        return results;
    }

    // A signalling process that cannot be started on a machine short of memory (127) is tried
    // once more.
    int Signal() {
        int result = Run({"--signal", "DetectFileNow"});
        if (result == 127) result = Run({"--signal", "DetectFileNow"});
        return result;
    }

    // Asks for a forward, waits until `moment` holds and kills the program. False when the run
    // ended first.
    bool KillWhen(pid_t program, const std::function<bool()>& moment) {
        const std::size_t before = RunResults().size();
        EXPECT_EQ(Signal(), 0) << ReadFile(lastOutput_);
        const auto deadline = std::chrono::steady_clock::now() + 300s;
        while (!moment()) {
            if (RunResults().size() > before) return false;
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the run neither reached the moment nor ended";
                return false;
            }
            std::this_thread::sleep_for(1ms);
        }
        kill(program, SIGKILL);
        EXPECT_NE(WaitExit(program, 10s), kNotEnded);
        return true;
    }

    // Asks for a forward and returns the result its end line gives ("" when none came).
    std::string RunToEnd() {
        const std::size_t before = RunResults().size();
        EXPECT_EQ(Signal(), 0) << ReadFile(lastOutput_);
        const auto deadline = std::chrono::steady_clock::now() + 300s;
        while (RunResults().size() == before && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(50ms);
        const std::vector<std::string> results = RunResults();
        return results.size() > before ? results.back() : "";
    }

    // Copies of designated files on the device (file lists and temporary copies apart).
    int Copies() const {
        int count = 0;
        for (const std::string& name : FolderNames(Imported()))
            count += !IsFileList(name) && !IsTemporaryCopyName(name) ? 1 : 0;
        return count;
    }
    bool ListOnDevice() const {
        for (const std::string& name : FolderNames(Imported()))
            if (IsFileList(name)) return true;
        return false;
    }

    // What the device must show after any end of a run, a kill included: every list reads to
    // its end, every name it announces is on the device with its source's bytes and was never
    // announced before. Announcements are collected in `announced_` (name -> source path).
    void CheckAnnounced() {
        for (const std::string& list : FolderNames(Imported())) {
            if (!IsFileList(list)) continue;
            CXMLParse reader;
            ASSERT_TRUE(reader.SetupReadFromFile(Imported() + "/" + list)) << list;
            std::string element, value, name;
            while (reader.ReadNextElement(element, value)) {
                if (element == "transfername") name = value;
                if (element != "path") continue;
                EXPECT_TRUE(announced_.emplace(name, value).second)
                    << "announced twice under one name: " << name;
                const std::string copy = Imported() + "/" + name;
                EXPECT_TRUE(fs::exists(copy)) << "announced but not on the device: " << name;
                EXPECT_EQ(ReadFile(copy), ReadFile(value)) << "not whole: " << name;
            }
            EXPECT_TRUE(reader.IsEndOfDocument()) << "cut-off list " << list;
        }
    }

    // The device takes in the batches it was told of: each list and the copies lists named.
    // A copy no list names stays, as it does on the device; a copy cut off from its list by the
    // kill must not hold back the later runs, so the program clears those of its own.
    void DeviceTakesIn() {
        for (const std::string& name : FolderNames(Imported()))
            if (IsFileList(name) || announced_.count(name) != 0)
                fs::remove(Imported() + "/" + name);
    }

    // After a run that ended normally: nothing unannounced, no temporary copy; and every row
    // of the detection file list is settled and names a copy announced for its file.
    void ExpectComplete(const std::string& moment) {
        SCOPED_TRACE(moment);
        std::set<std::string> listed;
        for (const auto& [name, path] : announced_) listed.insert(name);
        for (const std::string& name : FolderNames(Imported())) {
            EXPECT_FALSE(IsTemporaryCopyName(name)) << "left: " << name;
            if (!IsFileList(name) && !IsTemporaryCopyName(name)) {
                EXPECT_EQ(1u, listed.count(name)) << "copied, never announced: " << name;
            }
        }
        sqlite3* db = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_open_v2((DataFolder() + "TessarineTool.db").c_str(), &db,
                                             SQLITE_OPEN_READONLY, nullptr));
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA integrity_check;", -1, &statement, nullptr);
        ASSERT_EQ(SQLITE_ROW, sqlite3_step(statement));
        EXPECT_STREQ("ok", reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
        sqlite3_finalize(statement);
        sqlite3_prepare_v2(db,
                           "SELECT FILE_PATH, SERVER_FILE_NAME, STATUS FROM DETECT_FILE_FILELIST",
                           -1, &statement, nullptr);
        std::set<std::string> rows;
        while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
            auto column = [&](int i) {
                return std::string(
                    reinterpret_cast<const char*>(sqlite3_column_text(statement, i)));
            };
            const std::string path = column(0);
            const std::string name = column(1);
            rows.insert(path);
            EXPECT_EQ("COMPLETE", column(2)) << path;
            const auto found = announced_.find(name);
            EXPECT_TRUE(found != announced_.end() && found->second == path)
                << path << " names " << name << ", which no list announced for it";
        }
        sqlite3_finalize(statement);
        sqlite3_close(db);
        EXPECT_EQ(static_cast<std::size_t>(kDesignated), rows.size());
        for (const auto& [name, path] : announced_) {
            EXPECT_EQ(1u, rows.count(path)) << "announced, no row: " << path;
            EXPECT_EQ(path.substr(path.size() - 4), ".txt") << path;
        }
    }

    testing::SmbFixture server_;  // set once loaded
    ScopedEnv drivesEnv_{"TESSARINE_FIXED_DRIVES", temp_.Sub("drive")};
    std::map<std::string, std::string> announced_;
};

TEST_F(ForwardCrashTest, KilledForwardIsCompletedByTheNextRun) {
    struct Moment {
        const char* what;
        std::function<bool()> reached;
    };
    const Moment moments[] = {
        {"after the first copy", [&] { return Copies() >= 1; }},
        {"a file list being written", [&] { return fs::exists(LocalFileList()); }},
        {"a file list just sent", [&] { return ListOnDevice(); }},
        {"mid-run", [&] { return Copies() >= kDesignated / 2; }},
    };
    pid_t program = StartConfigured();
    bool first = true;
    for (const Moment& moment : moments) {
        SCOPED_TRACE(moment.what);
        if (!first) {
            // Every moment starts from a device that has taken in everything and an empty
            // detection file list, so that the forward is a full one.
            ASSERT_EQ(kill(program, SIGTERM), 0);
            ASSERT_EQ(WaitExit(program, 60s), 0);
            for (const char* suffix : {"", "-wal", "-shm"})
                fs::remove(DataFolder() + "TessarineTool.db" + suffix);
            fs::remove(LocalFileList());
            EmptyImport();
            announced_.clear();
            program = StartConfigured();
        }
        first = false;
        const bool killed = KillWhen(program, moment.reached);
        const int copies = Copies();
        const bool temporary = [&] {
            for (const std::string& name : FolderNames(Imported()))
                if (IsTemporaryCopyName(name)) return true;
            return false;
        }();
        CheckAnnounced();
        const std::size_t announcedAtKill = announced_.size();
        DeviceTakesIn();
        if (killed) program = StartConfigured();
        const std::string result = RunToEnd();
        const std::string log = LogText();
        EXPECT_EQ("0", result) << log.substr(log.size() > 4000 ? log.size() - 4000 : 0);
        CheckAnnounced();
        std::cout << "[ crash    ] " << moment.what << ": "
                  << (killed ? "killed" : "the run ended first") << " with " << copies
                  << " copies on the device (" << announcedAtKill << " announced"
                  << (temporary ? ", a temporary copy" : "") << "); the next run: result " << result
                  << ", " << announced_.size() - announcedAtKill << " announced\n";
        ExpectComplete(moment.what);
        if (HasFailure()) break;
    }
    kill(program, SIGTERM);
    WaitExit(program, 60s);
}

}  // namespace
}  // namespace tessarine
