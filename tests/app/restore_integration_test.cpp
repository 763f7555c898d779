// The real program backs up a real tree (part of /usr/share/doc) to smbd; then files are
// deleted, edited and added here, and "--restore" brings the copies back: to their place (local
// work kept), below another folder (the device's tree, contents and times), after a kill in the
// middle of a copy (no partial file, no temporary file once restored again); and the next backup
// copies nothing back and deletes nothing. Needs the smbd fixture (scripts/smbd-fixture).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>
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

constexpr std::size_t kDocFiles = 300;  // files taken from /usr/share/doc
constexpr std::size_t kLargeSize = 48u << 20;

struct FileState {
    std::string content;
    std::time_t modified = 0;
    ino_t inode = 0;
    bool operator==(const FileState& other) const {
        return content == other.content && modified == other.modified;
    }
};
using TreeState = std::map<std::string, FileState>;

// Every file below `root` by its path below it; `temporary` collects names of cut-off copies.
TreeState ReadTree(const std::string& root, std::vector<std::string>* temporary = nullptr) {
    TreeState files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string path = entry.path().string();
        if (temporary != nullptr && IsTemporaryCopyName(entry.path().filename().string()))
            temporary->push_back(path);
        if (!entry.is_regular_file() || entry.is_symlink()) continue;
        struct stat info {};
        ::stat(path.c_str(), &info);
        files[path.substr(root.size())] = {ReadFile(path), info.st_mtime, info.st_ino};
    }
    return files;
}

class RestoreCommandTest : public SmbHeadlessTest {
protected:
    RestoreCommandTest() : SmbHeadlessTest("restore") {}

    void SetUp() override {
        SmbHeadlessTest::SetUp();
        if (::testing::Test::IsSkipped() || HasFatalFailure()) return;
        CopyDocs();
        std::string large(kLargeSize, '\0');
        for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 131 % 251);
        ASSERT_TRUE(WriteFile(Source("large.bin"), large));
    }

    // Whole package folders of /usr/share/doc (links passed over) with their times, until
    // kDocFiles files are there.
    void CopyDocs() {
        std::vector<fs::path> packages;
        for (const auto& entry : fs::directory_iterator("/usr/share/doc"))
            if (entry.is_directory() && !entry.is_symlink()) packages.push_back(entry.path());
        std::sort(packages.begin(), packages.end());
        std::size_t files = 0;
        for (const fs::path& package : packages) {
            if (files >= kDocFiles) break;
            std::error_code error;
            for (fs::recursive_directory_iterator it(package, error), end; !error && it != end;
                 it.increment(error)) {
                if (it->is_symlink() || !it->is_regular_file()) continue;
                const std::string target =
                    Source(fs::relative(it->path(), "/usr/share/doc").string());
                fs::create_directories(fs::path(target).parent_path());
                if (!fs::copy_file(it->path(), target, error)) continue;
                fs::last_write_time(target, fs::last_write_time(it->path()), error);
                ++files;
            }
        }
        ASSERT_GE(files, std::size_t{20}) << "too little in /usr/share/doc";
    }

    // One backup by the running program, to its end.
    void BackUp() {
        const int before = RunEnds();
        ASSERT_EQ(0, Run({"--signal", "BackupNow"})) << ReadFile(lastOutput_);
        const auto deadline = std::chrono::steady_clock::now() + 600s;
        while (RunEnds() == before && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(50ms);
        ASSERT_GT(RunEnds(), before) << LogText();
    }

    int Count(const std::string& text) const {
        const std::string log = LogText();
        int count = 0;
        for (std::size_t at = 0; (at = log.find(text, at)) != std::string::npos; ++at) ++count;
        return count;
    }

    int Restore(const std::vector<std::string>& options) {
        std::vector<std::string> args{"--restore"};
        args.insert(args.end(), options.begin(), options.end());
        return WaitExit(Start(args), 120s);
    }
};

TEST_F(RestoreCommandTest, RestoresInPlaceAndElsewhereSurvivesAKillAndTheNextBackupCopiesNothing) {
    pid_t program = StartConfigured(server_, {{Source(), Unc(folder_)}}, true);
    ASSERT_NO_FATAL_FAILURE(BackUp());
    ASSERT_EQ(kill(program, SIGTERM), 0);
    ASSERT_EQ(0, WaitExit(program, 60s));
    const TreeState backedUp = ReadTree(Source());
    ASSERT_EQ(backedUp, ReadTree(Served()));
    const std::vector<std::vector<std::string>> usage = {
        {"--pair", "0"}, {"--pair", "11"}, {"--pair", "x"}, {"--to"}, {"--bogus"}};
    for (const auto& args : usage) EXPECT_EQ(64, Restore(args)) << args.front();
    EXPECT_EQ(2, Restore({"--pair", "3"})) << ReadFile(lastOutput_);  // a pair not set

    // Local changes: a package folder and a file deleted, a file edited, a file added.
    const std::string& first = backedUp.begin()->first;
    ASSERT_NE(std::string::npos, first.find('/', 1)) << first;
    const std::string deletedFolder = first.substr(1, first.find('/', 1) - 1);
    fs::remove_all(Source(deletedFolder));
    const std::string deletedFile = std::prev(backedUp.end(), 2)->first;  // not large.bin
    const std::string editedFile = std::prev(backedUp.end(), 3)->first;
    ASSERT_EQ(std::string::npos, deletedFile.find("large.bin"));
    fs::remove(Source() + deletedFile);
    ASSERT_TRUE(WriteFile(Source() + editedFile, "edited here"));
    ASSERT_TRUE(WriteFile(Source("added.txt"), "added here"));

    // In place: everything back but the edited file, which is listed as kept.
    EXPECT_EQ(1, Restore({})) << ReadFile(lastOutput_);
    const std::string output = ReadFile(lastOutput_);
    EXPECT_NE(std::string::npos,
              output.find("not restored: " + Source() + editedFile + ": local file differs"))
        << output;
    EXPECT_NE(std::string::npos, output.find(" 1 skipped, 0 failed.")) << output;
    TreeState now = ReadTree(Source());
    EXPECT_EQ("edited here", now[editedFile].content);
    EXPECT_EQ("added here", now["/added.txt"].content);
    now[editedFile] = backedUp.at(editedFile);
    now.erase("/added.txt");
    EXPECT_EQ(backedUp, now);

    // Without the program the restore held its lock; beside it, the program's backup flag.
    EXPECT_EQ(0, Count("Control Hold Granted"));
    program = StartConfigured(server_, {{Source(), Unc(folder_)}}, true);
    const std::string elsewhereDry = temp_.Sub("dry");
    EXPECT_EQ(0, Restore({"--dry-run", "--to", elsewhereDry})) << ReadFile(lastOutput_);
    EXPECT_FALSE(fs::exists(elsewhereDry));
    EXPECT_EQ(1, Count("Control Hold Granted. Name:BackupRunning"));
    EXPECT_EQ(1, Count("Control Hold Released. Name:BackupRunning"));

    // Elsewhere: the device's tree, contents and times.
    const std::string elsewhere = temp_.Sub("elsewhere");
    EXPECT_EQ(0, Restore({"--pair", "1", "--to", elsewhere})) << ReadFile(lastOutput_);
    EXPECT_EQ(ReadTree(Served()), ReadTree(elsewhere + "/docs"));

    // Killed while the large file is being copied: no partial file under its name; the next
    // restore brings it whole and leaves no temporary file.
    fs::remove(Source("large.bin"));
    const pid_t restore = Start({"--restore", Source("large.bin")});
    bool sawTemporary = false;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!sawTemporary && WaitExit(restore, 0ms) == kNotEnded &&
           std::chrono::steady_clock::now() < deadline) {
        std::error_code error;
        for (fs::directory_iterator it(Source(), error), end; !error && it != end;
             it.increment(error))
            if (IsTemporaryCopyName(it->path().filename().string())) sawTemporary = true;
        if (!sawTemporary) std::this_thread::sleep_for(1ms);
    }
    kill(restore, SIGKILL);
    WaitExit(restore, 10s);
    // The copy may have taken its name between the look and the kill: then it is whole.
    if (fs::exists(Source("large.bin"))) {
        EXPECT_TRUE(backedUp.at("/large.bin") == ReadTree(Source())["/large.bin"]);
    }
    std::cout << "[ restore  ] killed "
              << (sawTemporary ? "with a temporary copy" : "after the copy")
              << (fs::exists(Source("large.bin")) ? ", the file whole\n" : ", no file\n");
    EXPECT_EQ(0, Restore({"--", Source("large.bin")})) << ReadFile(lastOutput_);
    std::vector<std::string> temporary;
    now = ReadTree(Source(), &temporary);
    EXPECT_EQ(std::vector<std::string>{}, temporary);
    EXPECT_EQ(backedUp.at("/large.bin"), now["/large.bin"]);

    // The killed restore gave the flag back: the next backup (mirroring on) runs, copies only
    // the edited and added files and deletes nothing.
    EXPECT_EQ(Count("Control Hold Granted."), Count("Control Hold Released."));
    const TreeState before = ReadTree(Served());
    ASSERT_NO_FATAL_FAILURE(BackUp());
    const TreeState after = ReadTree(Served());
    std::vector<std::string> copied;
    for (const auto& [path, state] : after) {
        const auto old = before.find(path);
        if (old == before.end() || old->second.inode != state.inode) copied.push_back(path);
    }
    EXPECT_EQ((std::vector<std::string>{"/added.txt", editedFile}), copied);
    for (const auto& [path, state] : before) EXPECT_EQ(1u, after.count(path)) << path;
}

}  // namespace
}  // namespace tessarine
