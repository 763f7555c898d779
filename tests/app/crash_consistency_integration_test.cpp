// The program killed without warning (SIGKILL: power loss, the OOM killer) in the middle of a
// backup to a real SMB server, started again and run again: the device then holds exactly the
// source, every row of the file list names a copy that exists, and no temporary copy is left.
// Needs the smbd fixture (scripts/smbd-fixture; TESSARINE_SMB_* variables).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "app/smb_headless_fixture.h"
#include "fakes/smb_fixture.h"
#include "fakes/test_support.h"
#include "platform/share_name.h"

namespace tessarine {
namespace {

using namespace app_test;  // NOLINT(google-build-using-namespace): the fixture's own names
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;

constexpr int kFolders = 40;
constexpr int kFilesPerFolder = 50;  // 2000 small files
constexpr std::size_t kLargeSize = 32u << 20;

std::string LargeContent(char seed) {
    std::string content(kLargeSize, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(seed + (i * 131) % 251);
    return content;
}

class CrashConsistencyTest : public SmbHeadlessTest {
protected:
    CrashConsistencyTest() : SmbHeadlessTest("crash") {}

    void SetUp() override {
        SmbHeadlessTest::SetUp();
        if (::testing::Test::IsSkipped() || HasFatalFailure()) return;
        for (int f = 0; f < kFolders; ++f) {
            for (int i = 0; i < kFilesPerFolder; ++i) {
                const std::string name =
                    "d" + std::to_string(f) + "/f" + std::to_string(i) + ".txt";
                ASSERT_TRUE(WriteFile(Source(name), "content of " + name));
            }
        }
        ASSERT_TRUE(WriteFile(Source("large.bin"), LargeContent('a')));
    }

    // Asks the running program for a backup. A machine short of memory may fail the exec of
    // the signalling process itself (127): that is tried once more.
    int Signal() {
        int result = Run({"--signal", "BackupNow"});
        if (result == 127) result = Run({"--signal", "BackupNow"});
        return result;
    }

    // Signals a backup and waits until `moment` holds, then kills the program. False when the
    // run ended first.
    bool KillWhen(pid_t program, const std::function<bool()>& moment) {
        const int before = RunEnds();
        EXPECT_EQ(Signal(), 0) << ReadFile(lastOutput_);
        const auto deadline = std::chrono::steady_clock::now() + 300s;
        while (!moment()) {
            if (RunEnds() > before) return false;
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the run neither reached the moment nor ended";
                return false;
            }
            std::this_thread::sleep_for(2ms);
        }
        kill(program, SIGKILL);
        EXPECT_NE(WaitExit(program, 10s), kNotEnded);
        return true;
    }

    // Signals a backup and waits for its end.
    bool RunToEnd() {
        const int before = RunEnds();
        EXPECT_EQ(Signal(), 0) << ReadFile(lastOutput_);
        const auto deadline = std::chrono::steady_clock::now() + 600s;
        while (RunEnds() == before && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(50ms);
        return RunEnds() > before;
    }

    int CopiedFiles() const {
        int count = 0;
        std::error_code error;
        for (fs::recursive_directory_iterator it(Served(), error), end; !error && it != end;
             it.increment(error)) {
            if (it->is_regular_file(error)) ++count;
        }
        return count;
    }

    // The size of a temporary copy on the device of the large file, 0 when there is none.
    std::uintmax_t TemporaryLargeCopy() const {
        std::error_code error;
        for (fs::directory_iterator it(Served(), error), end; !error && it != end;
             it.increment(error)) {
            if (IsTemporaryCopyName(it->path().filename().string())) {
                const auto size = it->file_size(error);
                return error ? 0 : size;
            }
        }
        return 0;
    }

    // Everything the device must look like once a run has ended after the kill.
    void ExpectConsistent(const std::string& moment) {
        SCOPED_TRACE(moment);
        const std::string diff =
            "diff -r '" + Source() + "' '" + Served() + "' >" + temp_.Sub("diff.txt") + " 2>&1";
        EXPECT_EQ(0, std::system(diff.c_str())) << ReadFile(temp_.Sub("diff.txt"));

        std::vector<std::string> temporary;
        for (const auto& entry : fs::recursive_directory_iterator(Served())) {
            if (IsTemporaryCopyName(entry.path().filename().string()))
                temporary.push_back(entry.path().string());
        }
        EXPECT_EQ(std::vector<std::string>{}, temporary);

        sqlite3* db = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_open_v2((DataFolder() + "TessarineTool.db").c_str(), &db,
                                             SQLITE_OPEN_READONLY, nullptr));
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "SELECT DESTINATION_FILE_PATH FROM BACKUP_FILELIST", -1, &statement,
                           nullptr);
        int rows = 0;
        std::vector<std::string> missing;
        while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
            ++rows;
            std::string destination =
                reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
            const std::string prefix = Unc(folder_);
            std::string relative = destination.substr(std::min(prefix.size(), destination.size()));
            for (char& c : relative)
                if (c == '\\') c = '/';
            if (destination.rfind(prefix, 0) != 0 || !fs::exists(Served() + relative))
                missing.push_back(destination);
        }
        sqlite3_finalize(statement);
        sqlite3_close(db);
        EXPECT_EQ(std::vector<std::string>{}, missing);
        EXPECT_EQ(kFolders * (kFilesPerFolder + 1) + 1, rows);
    }
};

TEST_F(CrashConsistencyTest, KilledBackupIsCompletedByTheNextRun) {
    struct Moment {
        const char* what;
        std::function<bool()> reached;
        bool changeLarge;  // the large file is replaced before the run
    };
    const int small = kFolders * kFilesPerFolder;
    const Moment moments[] = {
        {"first copies", [&] { return CopiedFiles() >= 1; }, false},
        {"a third of the files", [&] { return CopiedFiles() >= small / 3; }, false},
        {"the large file half copied", [&] { return TemporaryLargeCopy() >= kLargeSize / 2; },
         false},
        {"most of the files", [&] { return CopiedFiles() >= small * 9 / 10; }, false},
        {"the large file being replaced", [&] { return TemporaryLargeCopy() >= kLargeSize / 4; },
         true},
    };
    pid_t program = StartConfigured(server_, {{Source(), Unc(folder_)}}, true);
    bool first = true;
    for (const Moment& moment : moments) {
        SCOPED_TRACE(moment.what);
        if (!first && !moment.changeLarge) {
            // Every other moment starts from an empty device and an empty file list.
            ASSERT_EQ(kill(program, SIGTERM), 0);
            ASSERT_EQ(WaitExit(program, 60s), 0);
            for (const char* suffix : {"", "-wal", "-shm"})
                fs::remove(DataFolder() + "TessarineTool.db" + suffix);
            for (const auto& entry : fs::directory_iterator(Served())) fs::remove_all(entry.path());
            program = StartConfigured(server_, {{Source(), Unc(folder_)}}, true);
        }
        first = false;
        if (moment.changeLarge) {
            ASSERT_EQ(TemporaryLargeCopy(), 0u);
            ASSERT_TRUE(WriteFile(Source("large.bin"), LargeContent('k')));
            testing::SetModifiedTime(Source("large.bin"), std::time(nullptr) + 60);
        }
        const bool killed = KillWhen(program, moment.reached);
        std::cout << "[ crash    ] " << moment.what << ": "
                  << (killed ? "killed" : "the run ended first") << " with " << CopiedFiles()
                  << " files on the device\n";
        if (killed) program = StartConfigured(server_, {{Source(), Unc(folder_)}}, true);
        ASSERT_TRUE(RunToEnd()) << LogText();
        ExpectConsistent(moment.what);
        if (HasFailure()) break;
    }
    kill(program, SIGTERM);
    WaitExit(program, 60s);
}

}  // namespace
}  // namespace tessarine
