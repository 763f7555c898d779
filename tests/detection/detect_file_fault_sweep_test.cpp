// A fault at every step of a forwarding run: each database statement in turn, and each call the
// run makes of the device in turn, fails once. Whatever failed, the run ends with 0 or 1, no file
// list announces a file that is not on the device, no name is copied twice, and once the device
// has taken in what arrived, the next run without faults sends and announces whatever is left.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "detection/detect_file_execute_fixture.h"
#include "infra/sql_fault_hook.h"
#include "infra/xml_parse.h"
#include "platform/share_name.h"

namespace tessarine {
namespace {

using namespace detect_test;  // NOLINT(google-build-using-namespace): the fixture's own names

// The designated files of the tree, below the drive.
const std::vector<std::string> kDesignated = {"docs/a.txt", "docs/b.docx", "docs/sub/c.TXT",
                                              "other/d.txt", "other/deep/e.txt"};

class SweepForward : public DetectFileExecuteTest {
public:
    void TestBody() override {}

    void MakeTree() {
        for (const std::string& file : kDesignated) AddFile(file);
        AddFile("docs/photo.jpg");
        AddFile("other/README");
    }

    // Copies that reached the device in the last run (final names), and whether one name was
    // copied twice.
    std::vector<std::string> Copies() const {
        std::vector<std::string> names;
        for (const auto& call : record_) {
            if (call.op == ShareOp::kCopyToShare && call.error == 0) names.push_back(call.path);
        }
        return names;
    }
    std::map<ShareOp, int> CallCounts() const {
        std::map<ShareOp, int> counts;
        for (const auto& call : record_) ++counts[call.op];
        return counts;
    }

    // Transfer names and local paths announced by the lists in the import folder.
    void Announced(std::vector<std::string>& transferNames, std::vector<std::string>& paths) const {
        for (const std::string& list : ImportedFiles(true)) {
            CXMLParse reader;
            if (!reader.SetupReadFromFile(Imported() + "/" + list)) {
                ADD_FAILURE() << "unreadable list " << list;
                continue;
            }
            std::string name;
            std::string value;
            while (reader.ReadNextElement(name, value)) {
                if (name == "transfername") transferNames.push_back(value);
                if (name == "path") paths.push_back(value);
            }
            EXPECT_TRUE(reader.IsEndOfDocument()) << "cut-off list " << list;
        }
    }

    // What must hold whenever a run has ended: every announced name is on the device, no
    // temporary copy is left, and no name was copied twice (`copied` collects across runs).
    // `once`, where given, collects the paths announced since the files last changed: one
    // announced again would be examined twice.
    void CheckDevice(std::set<std::string>& copied, std::set<std::string>& announcedPaths,
                     std::set<std::string>* once = nullptr) {
        std::vector<std::string> transferNames;
        std::vector<std::string> paths;
        Announced(transferNames, paths);
        const std::vector<std::string> present = ImportedFiles();
        const std::set<std::string> onDevice(present.begin(), present.end());
        for (const std::string& name : transferNames) {
            EXPECT_EQ(1u, onDevice.count(name)) << "announced but not on the device: " << name;
        }
        for (const std::string& name : testing::FolderNames(Imported())) {
            EXPECT_FALSE(IsTemporaryCopyName(name)) << name;
        }
        for (const std::string& path : Copies()) {
            EXPECT_TRUE(copied.insert(path).second) << "copied twice under one name: " << path;
        }
        announcedPaths.insert(paths.begin(), paths.end());
        if (once == nullptr) return;
        for (const std::string& path : paths)
            EXPECT_TRUE(once->insert(path).second) << "announced again: " << path;
    }

    std::string IntegrityCheck() const {
        sqlite3* db = nullptr;
        sqlite3_open_v2(temp_.Sub("TessarineTool.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA integrity_check;", -1, &statement, nullptr);
        std::string result = "no answer";
        if (sqlite3_step(statement) == SQLITE_ROW)
            result = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return result;
    }

    void NextSecond() { clock_.Advance(std::chrono::seconds(5)); }
    ShareFaults& Faults() { return faults_; }
};

struct Tally {
    int survived = 0;
    std::map<int, int> results;
};

// One faulty run, then the device takes in, then a clean run; `fault` arms the fault before
// the faulty run and `disarm` removes it after.
void SweepStep(const std::string& what, bool differential,
               const std::function<void(SweepForward&)>& fault,
               const std::function<void(SweepForward&)>& disarm, Tally& tally, bool& ok) {
    SCOPED_TRACE(what);
    const int failuresBefore =
        ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    SweepForward run;
    run.SetUp();
    run.MakeTree();
    std::set<std::string> copied;
    std::set<std::string> announced;
    if (differential) {
        ASSERT_EQ(0, run.Run());
        run.CheckDevice(copied, announced);
        run.DeviceTakesIn();
        run.NextSecond();
        run.AddFile("docs/new.txt", kNow + 10);
        run.AddFile("docs/a.txt", kNow + 20, "changed");
    }
    fault(run);
    const int result = run.Run();
    disarm(run);
    EXPECT_TRUE(result == 0 || result == 1) << result;
    ++tally.results[result];
    std::set<std::string> once;
    run.CheckDevice(copied, announced, &once);
    EXPECT_EQ("ok", run.IntegrityCheck());

    run.DeviceTakesIn();
    run.NextSecond();
    EXPECT_EQ(0, run.Run()) << "the clean run after the fault";
    run.CheckDevice(copied, announced, &once);
    EXPECT_EQ("ok", run.IntegrityCheck());
    std::vector<std::string> expected = kDesignated;
    if (differential) expected.push_back("docs/new.txt");
    for (const std::string& file : expected) {
        EXPECT_EQ(1u, announced.count(run.Drive() + "/" + file)) << "never announced: " << file;
    }
    for (const std::string& row : run.Rows()) {
        EXPECT_EQ(row.substr(row.find('|')), "|COMPLETE") << row;
    }
    run.TearDown();
    ok = ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count() ==
         failuresBefore;
    if (ok) ++tally.survived;
}

void Print(const char* what, std::int64_t steps, const Tally& tally) {
    std::cout << "[ sweep    ] " << what << ": " << steps << " steps, " << tally.survived
              << " recovered;";
    for (const auto& [result, count] : tally.results)
        std::cout << " result " << result << ": " << count;
    std::cout << "\n";
}

TEST(DetectFileFaultSweepTest, EveryDatabaseStatementOfARunMayFail) {
    for (const bool differential : {false, true}) {
        const char* what = differential ? "differential forward" : "full forward";
        SCOPED_TRACE(what);
        std::int64_t statements = 0;
        Tally reference;
        bool referenceOk = true;
        SweepStep(
            "reference", differential, [](SweepForward&) { sql_fault_hook::Arm(0); },
            [&](SweepForward&) {
                statements = sql_fault_hook::Count();
                sql_fault_hook::Disarm();
            },
            reference, referenceOk);
        ASSERT_GT(statements, 5);
        Tally tally;
        bool ok = true;
        for (std::int64_t n = 1; n <= statements && ok; ++n) {
            SweepStep(
                "statement " + std::to_string(n), differential,
                [n](SweepForward&) { sql_fault_hook::Arm(n); },
                [n](SweepForward&) {
                    EXPECT_TRUE(sql_fault_hook::Fired()) << "statement " << n;
                    sql_fault_hook::Disarm();
                },
                tally, ok);
        }
        Print(what, statements, tally);
    }
}

TEST(DetectFileFaultSweepTest, EveryCallToTheDeviceOfARunMayFail) {
    for (const bool differential : {false, true}) {
        const char* what = differential ? "differential forward" : "full forward";
        SCOPED_TRACE(what);
        std::map<ShareOp, int> calls;
        Tally reference;
        bool referenceOk = true;
        SweepStep(
            "reference", differential, [](SweepForward&) {},
            [&](SweepForward& run) { calls = run.CallCounts(); }, reference, referenceOk);
        Tally tally;
        bool ok = true;
        int steps = 0;
        for (const auto& [op, count] : calls) {
            for (int n = 1; n <= count && ok; ++n, ++steps) {
                SweepStep(
                    "operation " + std::to_string(static_cast<int>(op)) + " call " +
                        std::to_string(n),
                    differential,
                    [op = op, n](SweepForward& run) {
                        run.Faults().configure = [op, n](FaultInjectingShare& share) {
                            share.FailNth(op, n);
                        };
                    },
                    [](SweepForward& run) { run.Faults().configure = {}; }, tally, ok);
            }
        }
        Print(what, steps, tally);
    }
}

}  // namespace
}  // namespace tessarine
