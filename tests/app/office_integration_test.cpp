// An office: three instances of the real program forward to one device (the smbd fixture, with
// the simulator's examiner taking in the batches) at the same moments, round after round, and
// collect the results. Each runs in a UTS namespace of its own under a host name of its own:
// two hosts whose names agree in their first 15 characters, and a second user on one of them
// (another account, "nobody", when the test runs as root). One instance is killed in the middle
// of a forward and started again. Afterwards every designated file was examined exactly once
// and its result is stored by its own host, no host holds another's, the examiner never missed
// a listed file, and no sender removed a file another made. Needs root or user namespaces (skips
// otherwise), the smbd fixture (TESSARINE_SMB_*) and the simulator.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/string_utility.h"
#include "fakes/smb_fixture.h"
#include "fakes/test_support.h"
#include "platform/share_name.h"
#include "platform/system_info.h"
#include "settings/profile_store.h"

namespace tessarine {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::FolderNames;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr int kFolders = 3;
constexpr int kFilesPerFolder = 40;  // 120 files: two file lists per full forward
// Rounds in a row in which nothing moved (no file forwarded, no result stored) before the
// office counts as stuck; and a bound on all rounds, far above what a working office needs.
constexpr int kMaxIdleRounds = 6;
constexpr int kMaxRounds = 60;
// Forwards of the victim that ended before the kill caught them, before the test gives up.
constexpr int kMaxKillAttempts = 8;
constexpr uid_t kSecondUser = 65534;  // "nobody", when the test runs as root
constexpr char kForwardEnd[] = "Detect File Forward End. Result:";
constexpr char kCheckEnd[] = "Detect File Result Check End. Result:";
// The trace line of a copy whose device name is claimed, just before it is made.
constexpr char kCopyBegun[] = "CDetectFileExecute::HandleFile Param:/";

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size())
        ++count;
    return count;
}

int Shell(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// How a process gets a UTS namespace here: "" when it cannot.
std::string UtsNamespaceCommand() {
    if (Shell("unshare --uts sh -c 'hostname uts-probe'") == 0) return "unshare --uts";
    if (Shell("unshare --user --map-root-user --uts sh -c 'hostname uts-probe'") == 0)
        return "unshare --user --map-root-user --uts";
    return "";
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while ((at = text.find_first_not_of(' ', at)) != std::string::npos) {
        const std::size_t end = text.find(' ', at);
        words.push_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

// Runs argv with its output in `output`; the child's pid, or -1.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& output,
            const std::map<std::string, std::string>& env) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(fd, STDOUT_FILENO);
    dup2(fd, STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

int WaitExit(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (std::chrono::steady_clock::now() > deadline) return -1;
        std::this_thread::sleep_for(20ms);
    }
}

// One user's program on one host: its own data folder, runtime folder and tree of files.
struct Instance {
    std::string label;  // A, B, B2
    std::string host;
    std::string folder;           // holds profile/, run/, drive/, output
    std::vector<std::string> as;  // prefix that runs a command as this instance's user
    uid_t uid = 0;
    pid_t pid = -1;
    std::set<std::string> files;  // the designated files' paths

    std::string DataFolder() const { return folder + "/profile/corvane/Tessarine Tool/"; }
    std::string LogPath() const { return DataFolder() + "log/TessarineTool.log"; }
    std::string Log() const { return ReadFile(LogPath()); }
    // The log from byte `from` on (what a run wrote since then).
    std::string LogFrom(std::size_t from) const {
        std::ifstream in(LogPath(), std::ios::binary);
        in.seekg(static_cast<std::streamoff>(from));
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::size_t LogSize() const {
        std::error_code error;
        const auto size = fs::file_size(LogPath(), error);
        return error ? 0 : static_cast<std::size_t>(size);
    }
    std::map<std::string, std::string> Env() const {
        return {{"ALLUSERSPROFILE", folder + "/profile"},
                {"XDG_RUNTIME_DIR", folder + "/run"},
                {"TESSARINE_FIXED_DRIVES", folder + "/drive"}};
    }
};

class OfficeTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* binary = std::getenv("TESSARINE_BINARY");
        if (binary == nullptr || *binary == '\0') GTEST_SKIP() << "TESSARINE_BINARY is not set";
        binary_ = binary;
        uts_ = UtsNamespaceCommand();
        if (uts_.empty())
            GTEST_SKIP() << "UTS namespaces are not allowed here (unshare --uts failed, with and "
                            "without a user namespace)";
        testing::SmbFixture smb;
        if (!smb.Load()) GTEST_SKIP() << testing::kSmbFixtureMissing;
        smb_ = smb;
        ASSERT_EQ(0, Simulator("layout '" + smb_.root +
                               "' --switch on --extensions txt --max-size 10 "
                               "--timestamp 20170401000000"));
        EmptyImport();
        // The second user of host B is another account when the test may switch to one.
        const bool otherAccount = geteuid() == 0 && uts_ == "unshare --uts";
        chmod(temp_.Path().c_str(), 0711);
        instances_.resize(3);
        const char* const labels[] = {"A", "B", "B2"};
        const char* const hosts[] = {"office-workstation-1", "office-workstation-2",
                                     "office-workstation-2"};
        for (std::size_t i = 0; i < instances_.size(); ++i) {
            instances_[i].label = labels[i];
            instances_[i].host = hosts[i];
        }
        if (otherAccount) {
            instances_[2].uid = kSecondUser;
            instances_[2].as = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        } else {
            std::cout << "[ office   ] the second user of host B runs under this account: no "
                         "other account can be switched to here\n";
        }
        for (Instance& instance : instances_) MakeInstance(instance);
    }

    void TearDown() override {
        for (Instance& instance : instances_) {
            if (instance.pid > 0 && kill(instance.pid, SIGKILL) == 0)
                waitpid(instance.pid, nullptr, 0);
        }
        if (examiner_ > 0 && kill(examiner_, SIGKILL) == 0) waitpid(examiner_, nullptr, 0);
        if (!smb_.root.empty()) EmptyImport();
    }

    void MakeInstance(Instance& instance) {
        instance.folder = temp_.Sub(instance.label);
        for (const char* sub : {"profile", "run", "drive"})
            fs::create_directories(instance.folder + "/" + sub);
        fs::permissions(instance.folder + "/run", fs::perms::owner_all);
        for (int f = 0; f < kFolders; ++f) {
            AddFolder(instance, f);
            ASSERT_FALSE(HasFatalFailure());
        }
        // Trace lines name every copy the instance makes.
        ASSERT_TRUE(WriteFile(instance.DataFolder() + "log/setting.xml",
                              "<log><debug>TRUE</debug><max_size>50</max_size></log>"));
        ASSERT_TRUE(WriteFile(
            instance.DataFolder() + "TessarineTool.msf",
            "[CommonSetting]\r\nIPV4Address=" + smb_.host + "\r\nUserName=" + smb_.user +
                "\r\nUserPassword=" + CStringUtility::EncodeBase64(smb_.password) + "\r\n"));
        for (const auto& entry : fs::recursive_directory_iterator(instance.folder)) {
            const bool folder = entry.is_directory();
            if (entry.path().parent_path().string() == instance.folder &&
                entry.path().filename() == "run")
                continue;
            chmod(entry.path().c_str(), folder ? 0755 : 0644);
        }
        chmod(instance.folder.c_str(), 0755);
        for (const std::string sub : {"/profile/corvane", "/profile/corvane/Tessarine Tool",
                                      "/profile/corvane/Tessarine Tool/log"})
            chmod((instance.folder + sub).c_str(), 0700);
        chmod((instance.DataFolder() + "TessarineTool.msf").c_str(), 0600);
        if (instance.uid != 0) {
            ASSERT_EQ(0, Shell("chown -R " + std::to_string(instance.uid) + ":" +
                               std::to_string(instance.uid) + " '" + instance.folder + "'"));
        }
    }

    // A folder of designated files (and one that is not) in the instance's tree.
    void AddFolder(Instance& instance, int f) {
        const std::string folder = instance.folder + "/drive/d" + std::to_string(f);
        for (int i = 0; i < kFilesPerFolder; ++i) {
            const std::string path = folder + "/report" + std::to_string(i) + ".txt";
            // Every file holds a hit, so that every examination gives a result.
            ASSERT_TRUE(WriteFile(path, "confidential " + instance.label + " " + path + "\n"));
            instance.files.insert(path);
        }
        ASSERT_TRUE(WriteFile(folder + "/photo.jpg", "not designated"));
        if (instance.pid <= 0) return;  // a tree being made gets its modes and owner at the end
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            chmod(entry.path().c_str(), 0644);
        chmod(folder.c_str(), 0755);
        if (instance.uid != 0) {
            ASSERT_EQ(0, Shell("chown -R " + std::to_string(instance.uid) + ":" +
                               std::to_string(instance.uid) + " '" + folder + "'"));
        }
    }

    int Simulator(const std::string& arguments) const {
        return Shell("python3 '" TESSARINE_SOURCE_DIR "/tools/devicesim/devicesim.py' " +
                     arguments);
    }
    std::string Imported() const { return smb_.root + "/zereda/import/data"; }
    std::string Results() const { return smb_.root + "/zereda/import/result"; }
    void EmptyImport() {
        std::error_code ignored;
        for (const std::string& folder : {Imported(), Results()})
            for (const auto& name : FolderNames(folder)) fs::remove(folder + "/" + name, ignored);
    }

    void StartExaminer() {
        examinerOutput_ = temp_.Sub("examiner.out");
        examiner_ = Spawn({"python3", TESSARINE_SOURCE_DIR "/tools/devicesim/devicesim.py",
                           "examine", smb_.root, "--interval", "0.2"},
                          examinerOutput_, {});
        ASSERT_GT(examiner_, 0);
    }

    // The program itself, in a UTS namespace whose host name is the instance's.
    void Start(Instance& instance) {
        std::vector<std::string> argv = Words(uts_);
        for (const char* word : {"sh", "-c", "hostname \"$0\" && exec \"$@\""})
            argv.push_back(word);
        argv.push_back(instance.host);
        argv.insert(argv.end(), instance.as.begin(), instance.as.end());
        argv.push_back(binary_);
        argv.push_back("--headless");
        instance.pid = Spawn(argv, instance.folder + "/output", instance.Env());
        ASSERT_GT(instance.pid, 0);
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (Signal(instance, "Ping") != 2) {
            ASSERT_EQ(-1, WaitExit(instance.pid, 0ms)) << ReadFile(instance.folder + "/output");
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << instance.label << " not ready";
            std::this_thread::sleep_for(100ms);
        }
    }

    pid_t SpawnSignal(const Instance& instance, const std::string& event) {
        std::vector<std::string> argv = instance.as;
        argv.push_back(binary_);
        argv.push_back("--signal");
        argv.push_back(event);
        return Spawn(argv, instance.folder + "/signals", instance.Env());
    }
    int Signal(const Instance& instance, const std::string& event) {
        return WaitExit(SpawnSignal(instance, event), 30s);
    }
    // The event to every instance at one moment; `meanwhile` runs while the signalling
    // processes are still on their way out (a forward can be over before they are).
    void SignalAll(const std::string& event, const std::function<void()>& meanwhile = {}) {
        std::vector<pid_t> signals;
        for (const Instance& instance : instances_) signals.push_back(SpawnSignal(instance, event));
        if (meanwhile) meanwhile();
        for (std::size_t i = 0; i < signals.size(); ++i)
            EXPECT_EQ(0, WaitExit(signals[i], 30s)) << instances_[i].label << " " << event;
    }

    bool WaitFor(const std::function<bool()>& done, std::chrono::seconds timeout,
                 std::chrono::milliseconds poll = 50ms) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(poll);
        }
        return true;
    }

    // Whether one of the copies a run's log has begun lies whole on the device.
    bool CopyLanded(const std::string& runLog) const {
        for (std::size_t at = 0; (at = runLog.find(kCopyBegun, at)) != std::string::npos;) {
            const std::size_t comma = runLog.find(", ", at);
            const std::size_t end = runLog.find_first_of("\r\n", comma);
            at = end;
            if (comma == std::string::npos || end == std::string::npos) return false;
            std::error_code error;
            const auto size =
                fs::file_size(Imported() + "/" + runLog.substr(comma + 2, end - comma - 2), error);
            if (!error && size > 0) return true;
        }
        return false;
    }

    bool ListWaiting() const {
        for (const std::string& name : FolderNames(Imported()))
            if (name.ends_with(".qzv") && name[0] != '~') return true;
        return false;
    }

    // (path, detection time) of every stored result of one instance.
    static std::vector<std::pair<std::string, std::string>> Stored(const Instance& instance) {
        std::vector<std::pair<std::string, std::string>> rows;
        sqlite3* db = nullptr;
        const std::string path = instance.DataFolder() + "TessarineTool.db";
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            return rows;
        }
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "SELECT FILE_PATH, DETECTED_TIME FROM DETECT_FILE_RESULT", -1,
                           &statement, nullptr);
        while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
            rows.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)),
                              reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)));
        }
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return rows;
    }

    // Names on the device each instance gave its copies and lists, from its trace lines
    // "Param:<local path>, <name>".
    static std::set<std::string> Written(const Instance& instance) {
        std::set<std::string> names;
        static const std::regex copy(R"(Param:/[^\r\n]*, ([^,\r\n]+)\r?\n)");
        const std::string prefix = ComputerNameOfHost(instance.host) + "_";
        const std::string log = instance.Log();
        for (auto it = std::sregex_iterator(log.begin(), log.end(), copy);
             it != std::sregex_iterator(); ++it)
            if ((*it)[1].str().starts_with(prefix)) names.insert((*it)[1]);
        return names;
    }

    TempDir temp_;
    testing::SmbFixture smb_;
    std::string binary_;
    std::string uts_;
    std::vector<Instance> instances_;
    pid_t examiner_ = -1;
    std::string examinerOutput_;
};

TEST_F(OfficeTest, SendersOfOneDeviceKeepTheirFilesAndResultsApart) {
    StartExaminer();
    for (Instance& instance : instances_) {
        Start(instance);
        ASSERT_FALSE(HasFatalFailure());
    }
    Instance& victim = instances_[1];  // host B's first user: its host has another sender
    bool killed = false;
    int killAttempts = 0;
    int nextFolder = kFolders;
    std::size_t storedBefore = 0;
    int idleRounds = 0;

    int round = 0;
    for (; round < kMaxRounds && idleRounds < kMaxIdleRounds; ++round) {
        std::vector<std::size_t> from;  // where this round's log lines begin
        for (const Instance& instance : instances_) from.push_back(instance.LogSize());
        const std::size_t victimIndex = 1;
        bool restarted = false;
        std::string runLog;  // the victim's run until it was killed or ended
        SignalAll("DetectFileNow", [&] {
            if (killed) return;
            // Killed the moment its forward has landed a first copy on the device (its claim
            // there is an empty file, the copy replaces it), with more under way. A forward
            // that waits behind another sender's batch ends without any, and the next round
            // tries again.
            ASSERT_TRUE(WaitFor(
                [&] {
                    runLog = victim.LogFrom(from[victimIndex]);
                    return CopyLanded(runLog) || runLog.find(kForwardEnd) != std::string::npos;
                },
                300s, 5ms))
                << "the run of " << victim.label << " neither copied nor ended";
            if (runLog.find(kForwardEnd) == std::string::npos) {
                kill(victim.pid, SIGKILL);
                EXPECT_NE(-1, WaitExit(victim.pid, 10s));
                runLog = victim.LogFrom(from[victimIndex]);
                // The forward's end line can have been written just before the kill.
                killed = runLog.find(kForwardEnd) == std::string::npos;
                std::cout << "[ office   ] round " << round << ": " << victim.label
                          << (killed ? " killed after " : " ended before the kill, after ")
                          << Count(runLog, kCopyBegun) << " copies begun\n";
                Start(victim);
                ASSERT_FALSE(HasFatalFailure());
                restarted = true;  // its next forward comes with the next round
                from[victimIndex] = victim.LogSize();
            }
        });
        ASSERT_FALSE(HasFatalFailure());
        if (!killed && runLog.find(kCopyBegun) != std::string::npos) {
            // Its files all went out before the kill could land: new ones give it another
            // forward to be caught in.
            ASSERT_LT(++killAttempts, kMaxKillAttempts)
                << "no forward of " << victim.label << " was caught copying";
            AddFolder(victim, nextFolder++);
            ASSERT_FALSE(HasFatalFailure());
            std::cout << "[ office   ] round " << round << ": " << victim.label
                      << " was not caught; it gets a new folder of files\n";
        }
        std::size_t forwarded = 0;
        for (std::size_t i = 0; i < instances_.size(); ++i) {
            if (restarted && i == victimIndex) continue;
            std::string runLog;
            ASSERT_TRUE(WaitFor(
                [&] {
                    runLog = instances_[i].LogFrom(from[i]);
                    return runLog.find(kForwardEnd) != std::string::npos;
                },
                300s))
                << instances_[i].label << ": the forward did not end";
            static const std::regex count(R"(Forward End\. Result:-?\d+ Forwarded:(\d+))");
            for (auto it = std::sregex_iterator(runLog.begin(), runLog.end(), count);
                 it != std::sregex_iterator(); ++it)
                forwarded += std::stoul((*it)[1]);
        }
        ASSERT_TRUE(WaitFor([&] { return !ListWaiting(); }, 120s)) << "the examiner is stuck";

        std::vector<std::size_t> checks;
        for (const Instance& instance : instances_)
            checks.push_back(Count(instance.Log(), kCheckEnd));
        SignalAll("DetectFileResultNow");
        for (std::size_t i = 0; i < instances_.size(); ++i) {
            ASSERT_TRUE(
                WaitFor([&] { return Count(instances_[i].Log(), kCheckEnd) > checks[i]; }, 120s))
                << instances_[i].label << ": the result check did not end";
        }
        std::size_t totalFiles = 0;
        for (const Instance& instance : instances_) totalFiles += instance.files.size();
        std::set<std::string> examined;
        for (const Instance& instance : instances_)
            for (const auto& row : Stored(instance)) examined.insert(row.first);
        std::cout << "[ office   ] round " << round << ": " << forwarded << " files forwarded, "
                  << examined.size() << " of " << totalFiles << " files have a stored result\n";
        if (killed && examined.size() >= totalFiles && FolderNames(Imported()).empty() &&
            FolderNames(Results()).empty())
            break;
        // Evidence that the office moves: files went out or results came back.
        idleRounds =
            forwarded > 0 || examined.size() > storedBefore || restarted ? 0 : idleRounds + 1;
        storedBefore = examined.size();
    }
    EXPECT_TRUE(killed) << "no forward of " << victim.label << " was caught copying";
    EXPECT_LT(idleRounds, kMaxIdleRounds)
        << "the office stopped moving; left in the import folder: "
        << ::testing::PrintToString(FolderNames(Imported()));
    EXPECT_LT(round, kMaxRounds) << "the office never got every file through";

    for (Instance& instance : instances_) {
        kill(instance.pid, SIGTERM);
        EXPECT_EQ(0, WaitExit(instance.pid, 60s)) << instance.label;
        instance.pid = -1;
    }
    kill(examiner_, SIGTERM);
    WaitExit(examiner_, 10s);
    examiner_ = -1;

    // Results by host: each file examined once (one detection time), stored by its own host.
    std::map<std::string, std::set<std::string>> filesOf;  // host -> paths
    std::map<std::string, std::string> hostOf;             // path -> host
    for (const Instance& instance : instances_) {
        filesOf[instance.host].insert(instance.files.begin(), instance.files.end());
        for (const std::string& path : instance.files) hostOf[path] = instance.host;
    }
    std::map<std::string, std::set<std::string>> timesOf;  // path -> detection times
    std::size_t storedTwice = 0;
    std::map<std::string, std::set<std::pair<std::string, std::string>>> byHost;
    for (const Instance& instance : instances_) {
        for (const auto& [path, time] : Stored(instance)) {
            const auto owner = hostOf.find(path);
            EXPECT_TRUE(owner != hostOf.end() && owner->second == instance.host)
                << instance.label << " (" << instance.host
                << ") holds another host's result: " << path;
            timesOf[path].insert(time);
            if (!byHost[instance.host].emplace(path, time).second) ++storedTwice;
        }
    }
    for (const auto& [host, paths] : filesOf) {
        for (const std::string& path : paths) {
            const auto found = timesOf.find(path);
            EXPECT_TRUE(found != timesOf.end()) << host << ": no result stored for " << path;
            if (found != timesOf.end()) {
                EXPECT_EQ(1u, found->second.size()) << path << " examined more than once";
            }
        }
    }
    EXPECT_TRUE(FolderNames(Results()).empty()) << "results left on the device";
    const std::string examiner = ReadFile(examinerOutput_);
    EXPECT_EQ(std::string::npos, examiner.find("is not there")) << examiner;
    EXPECT_EQ(std::string::npos, examiner.find("left in place")) << examiner;

    // A name on the device belongs to one sender at a time (its claim there): two users of one
    // host may well give one name in turn, once the device has taken the first copy in. Had
    // two held it at once, one copy would have replaced the other: a file without a result
    // and the examiner missing a listed file, both checked above.
    std::vector<std::set<std::string>> written;
    for (const Instance& instance : instances_) written.push_back(Written(instance));
    // No removal names a copy, or the temporary file of a copy, that another sender made.
    static const std::regex removal(R"(Remove (Cut|Unannounced) Copy:([^\r\n]+))");
    for (std::size_t i = 0; i < instances_.size(); ++i) {
        const Instance& instance = instances_[i];
        const std::string log = instance.Log();
        std::size_t removals = 0;
        for (auto it = std::sregex_iterator(log.begin(), log.end(), removal);
             it != std::sregex_iterator(); ++it, ++removals) {
            const std::string removed = FoldShareName((*it)[2].str());
            const bool temporary = (*it)[1] == "Cut";
            // A name both made, in turn, is the remover's own copy when it made it too.
            if (!temporary && written[i].count((*it)[2].str()) != 0) continue;
            for (std::size_t j = 0; j < instances_.size(); ++j) {
                if (j == i) continue;
                const bool theirs =
                    std::any_of(written[j].begin(), written[j].end(), [&](const std::string& name) {
                        // A sender's temporary names carry its data folder.
                        return FoldShareName(
                                   temporary ? TemporaryCopyNameFor(
                                                   name, instances_[j].DataFolder() + "detectfile/")
                                             : name) == removed;
                    });
                EXPECT_FALSE(theirs) << instance.label << " removed what " << instances_[j].label
                                     << " made (under a name both may have made): " << (*it)[0];
            }
        }
        std::cout << "[ office   ] " << instance.label << " (" << instance.host << " as "
                  << ComputerNameOfHost(instance.host) << "): " << written[i].size()
                  << " copies and lists made, " << Stored(instance).size() << " results stored, "
                  << removals << " removals, " << Count(log, kForwardEnd) << " forwards\n";
    }
    std::cout << "[ office   ] " << round + 1
              << " rounds; results stored by both users of host B: " << storedTwice << "\n";
    for (const std::string& name : FolderNames(Imported()))
        std::cout << "[ office   ] left in the import folder: " << name << "\n";
    // TESSARINE_OFFICE_LOGS=<folder> keeps the logs for a look after a failure.
    if (const char* keep = std::getenv("TESSARINE_OFFICE_LOGS"); keep != nullptr && *keep) {
        fs::create_directories(keep);
        for (const Instance& instance : instances_)
            fs::copy_file(instance.DataFolder() + "log/TessarineTool.log",
                          std::string(keep) + "/" + instance.label + ".log",
                          fs::copy_options::overwrite_existing);
        fs::copy_file(examinerOutput_, std::string(keep) + "/examiner.out",
                      fs::copy_options::overwrite_existing);
    }
}

}  // namespace
}  // namespace tessarine
