// A fault at every step of a backup run: each database statement in turn, and each call the run
// makes of the device in turn, fails once. Whatever failed, the run ends with a result the
// result file agrees with, the file list stays sound and names only copies that exist, and the
// next run without faults brings the device to exactly the source.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "backup/backup_execute_fixture.h"
#include "infra/sql_fault_hook.h"
#include "platform/share_name.h"

namespace tessarine {
namespace {

using namespace backup_test;  // NOLINT(google-build-using-namespace): the fixture's own names
namespace fs = std::filesystem;
using testing::FaultInjectingShare;
using testing::ReadFile;
using testing::ShareOp;

// One sweep step: a fixture of its own (fresh folders, database and share) driven by hand.
class SweepRun : public BackupExecuteTest {
public:
    void TestBody() override {}

    // A small tree with every kind of entry: nested folders, an empty folder, a larger file,
    // names with non-ASCII letters and letter case.
    void MakeTree() {
        MakeFiles({"src1/a.txt", "src1/B.txt", "src1/Ünï.txt", "src1/sub/c.txt",
                   "src1/sub/deep/d.txt", "src1/sub/deep/E.TXT", "src1/other/f.txt"});
        fs::create_directories(Source("src1/empty"));
        ASSERT_TRUE(testing::WriteFile(Source("src1/large.bin"), std::string(300000, 'L')));
        SetModifiedTime(Source("src1/large.bin"), kNow - 86400);
    }

    // Changes for a differential run: changed, new, deleted file and deleted folder.
    void ChangeTree() {
        ASSERT_TRUE(testing::WriteFile(Source("src1/a.txt"), "changed a"));
        SetModifiedTime(Source("src1/a.txt"), kNow - 3600);
        MakeFiles({"src1/sub/new.txt", "src1/newdir/g.txt"});
        fs::remove(Source("src1/B.txt"));
        fs::remove_all(Source("src1/other"));
    }

    void UseShare(bool foldCase, ShareOp op = ShareOp::kCount, int n = 0) {
        hooks_.configure = [foldCase, op, n](FaultInjectingShare& faults, LocalShare& local) {
            local.SetFoldCase(foldCase);
            if (op != ShareOp::kCount) faults.FailNth(op, n);
            faults.SetFinalObserver([](const FaultInjectingShare& done) {
                for (int i = 0; i < static_cast<int>(ShareOp::kCount); ++i) {
                    const auto op = static_cast<ShareOp>(i);
                    lastCalls[op] = std::max(lastCalls[op], done.Calls(op));
                }
            });
        };
    }

    // Relative path -> content ("/" for a folder) of everything below a folder.
    static std::map<std::string, std::string> Tree(const std::string& root) {
        std::map<std::string, std::string> tree;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            const std::string relative = fs::relative(entry.path(), root).string();
            tree[relative] = entry.is_directory() ? "/" : ReadFile(entry.path().string());
        }
        return tree;
    }

    // The local file behind a destination path of a row.
    std::string ShareFileOf(const std::string& destination) const {
        const std::string prefix = Unc("");
        if (destination.rfind(prefix, 0) != 0) return std::string();
        std::string relative = destination.substr(prefix.size());
        for (char& c : relative)
            if (c == '\\') c = '/';
        return ShareFolder(relative);
    }

    // Problems of the file list: SQLite's own check, rows naming no copy, a source twice. A
    // mirroring run deletes a copy before its row, so a run broken off between the two leaves
    // the row of a deleted source without its copy (the next run deletes the row); `settled`
    // says no run was broken off.
    std::vector<std::string> DatabaseProblems(bool settled = true) const {
        std::vector<std::string> problems;
        sqlite3* db = nullptr;
        sqlite3_open_v2(temp_.Sub("TessarineTool.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA integrity_check;", -1, &statement, nullptr);
        if (sqlite3_step(statement) != SQLITE_ROW ||
            std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))) != "ok") {
            problems.push_back("integrity check fails");
        }
        sqlite3_finalize(statement);
        sqlite3_close(db);
        std::set<std::string> sources;
        for (const FileRow& row : Rows()) {
            if (!sources.insert(row.source).second) problems.push_back("twice: " + row.source);
            const std::string copy = ShareFileOf(row.destination);
            if (copy.empty() || !fs::exists(copy)) {
                if (!settled && !fs::exists(row.source)) continue;
                problems.push_back("row without its copy: " + row.destination);
            } else if (fs::is_directory(copy) != (row.isDirectory != 0)) {
                problems.push_back("row of another kind: " + row.destination);
            }
        }
        return problems;
    }

    std::vector<std::string> TemporaryCopies() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::recursive_directory_iterator(ShareRoot())) {
            if (IsTemporaryCopyName(entry.path().filename().string())) {
                found.push_back(entry.path().string());
            }
        }
        return found;
    }

    // The most calls of each operation one share saw since the map was cleared.
    static inline std::map<ShareOp, int> lastCalls;
};

// What one faulty run came to.
struct Outcome {
    int result = -1;
    int code = -1;  // the result file's code; -1: no result file
    bool ok = true;
};

// Checks after the faulty run and after the clean run that follows; `what` names the fault.
void CheckRecovery(SweepRun& run, const std::string& what, Outcome& outcome, bool mirroring,
                   bool foldCase) {
    SCOPED_TRACE(what);
    const int failuresBefore =
        ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    outcome.code = run.ClientResultCode().value_or(-1);
    EXPECT_TRUE(outcome.result == 0 || outcome.result == 1) << outcome.result;
    if (outcome.result == 0) {
        EXPECT_EQ(0, outcome.code);
    } else {
        EXPECT_TRUE(outcome.code == 1 || outcome.code == 2) << outcome.code;
    }
    EXPECT_EQ(std::vector<std::string>{}, run.DatabaseProblems(false)) << "after the faulty run";
    EXPECT_EQ(std::vector<std::string>{}, run.TemporaryCopies()) << "after the faulty run";

    run.Configure(Config{.mirroring = mirroring});
    run.UseShare(foldCase);
    run.RemoveResultFiles();
    const int clean = run.Run();
    EXPECT_EQ(0, clean) << "the clean run after the fault";
    EXPECT_EQ(SweepRun::Tree(run.Source("src1")), SweepRun::Tree(run.ShareFolder("dst1")));
    EXPECT_EQ(std::vector<std::string>{}, run.DatabaseProblems()) << "after the clean run";
    EXPECT_EQ(std::vector<std::string>{}, run.TemporaryCopies()) << "after the clean run";
    std::set<std::string> recorded;
    for (const FileRow& row : run.Rows()) recorded.insert(row.source);
    for (const auto& [relative, content] : SweepRun::Tree(run.Source("src1"))) {
        EXPECT_EQ(1u, recorded.count(run.Source("src1/" + relative))) << relative;
    }
    outcome.ok =
        ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count() ==
        failuresBefore;
}

enum class RunKind { kFull, kDifferential };

// Brings a fresh fixture to the moment before the run under test.
void Prepare(SweepRun& run, RunKind kind, bool foldCase) {
    run.SetUp();
    run.Configure(Config{.mirroring = kind == RunKind::kDifferential});
    run.MakeTree();
    if (kind == RunKind::kDifferential) {
        run.UseShare(foldCase);
        ASSERT_EQ(0, run.Run());
        run.RemoveResultFiles();
        run.ChangeTree();
    }
}

struct SweepCase {
    const char* what;
    RunKind kind;
    bool foldCase;
};

const SweepCase kSweeps[] = {
    {"full run", RunKind::kFull, false},
    {"full run, share folding case", RunKind::kFull, true},
    {"differential mirroring run", RunKind::kDifferential, false},
    {"differential mirroring run, share folding case", RunKind::kDifferential, true},
};

std::string Summary(const std::map<std::pair<int, int>, int>& outcomes) {
    std::ostringstream text;
    for (const auto& [key, count] : outcomes) {
        text << " result " << key.first << "/code " << key.second << ": " << count;
    }
    return text.str();
}

TEST(BackupFaultSweepTest, EveryDatabaseStatementOfARunMayFail) {
    for (const SweepCase& sweep : kSweeps) {
        SCOPED_TRACE(sweep.what);
        std::int64_t statements = 0;
        {
            SweepRun reference;
            Prepare(reference, sweep.kind, sweep.foldCase);
            reference.UseShare(sweep.foldCase);
            sql_fault_hook::Arm(0);
            ASSERT_EQ(0, reference.Run());
            statements = sql_fault_hook::Count();
            sql_fault_hook::Disarm();
            reference.TearDown();
        }
        ASSERT_GT(statements, 10);
        std::map<std::pair<int, int>, int> outcomes;
        std::vector<std::int64_t> passed;  // failed statements the run got over
        for (std::int64_t n = 1; n <= statements; ++n) {
            SweepRun run;
            Prepare(run, sweep.kind, sweep.foldCase);
            run.UseShare(sweep.foldCase);
            sql_fault_hook::Arm(n);
            Outcome outcome;
            outcome.result = run.Run();
            const bool fired = sql_fault_hook::Fired();
            sql_fault_hook::Disarm();
            EXPECT_TRUE(fired) << "statement " << n;
            CheckRecovery(run, "statement " + std::to_string(n), outcome,
                          sweep.kind == RunKind::kDifferential, sweep.foldCase);
            ++outcomes[{outcome.result, outcome.code}];
            if (outcome.result == 0) passed.push_back(n);
            run.TearDown();
            if (!outcome.ok) break;  // the first failing step is enough to read
        }
        std::cout << "[ sweep    ] " << sweep.what << ": statements 1.." << statements << ","
                  << Summary(outcomes) << "; got over statements";
        for (std::int64_t n : passed) std::cout << " " << n;
        std::cout << "\n";
    }
}

TEST(BackupFaultSweepTest, EveryCallToTheDeviceOfARunMayFail) {
    for (const SweepCase& sweep : kSweeps) {
        SCOPED_TRACE(sweep.what);
        std::map<ShareOp, int> calls;
        {
            SweepRun reference;
            Prepare(reference, sweep.kind, sweep.foldCase);
            reference.UseShare(sweep.foldCase);
            SweepRun::lastCalls.clear();
            ASSERT_EQ(0, reference.Run());
            for (const auto& [op, count] : SweepRun::lastCalls) {
                if (count > 0) calls[op] = count;
            }
            reference.TearDown();
        }
        std::map<std::pair<int, int>, int> outcomes;
        int total = 0;
        bool ok = true;
        for (const auto& [op, count] : calls) {
            for (int n = 1; n <= count && ok; ++n) {
                SweepRun run;
                Prepare(run, sweep.kind, sweep.foldCase);
                run.UseShare(sweep.foldCase, op, n);
                Outcome outcome;
                outcome.result = run.Run();
                const std::string what = "operation " + std::to_string(static_cast<int>(op)) +
                                         " call " + std::to_string(n);
                if (op == ShareOp::kConnect) {
                    EXPECT_EQ(1, outcome.result) << what;
                    EXPECT_EQ(std::optional<int>(1), run.ClientResultCode()) << what;
                }
                CheckRecovery(run, what, outcome, sweep.kind == RunKind::kDifferential,
                              sweep.foldCase);
                ++outcomes[{outcome.result, outcome.code}];
                ++total;
                ok = outcome.ok;
                run.TearDown();
            }
        }
        std::cout << "[ sweep    ] " << sweep.what << ": " << total << " device calls,"
                  << Summary(outcomes) << "\n";
    }
}

}  // namespace
}  // namespace tessarine
