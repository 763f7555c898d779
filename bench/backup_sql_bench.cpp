// Backup file-list throughput: rows added one transaction each (as a backup run records its
// copies) and looked up one by one, against the sqlite3 shell inserting the same rows in one
// transaction. Usage: backup_sql_bench [rows] [work folder]. Prints "ratio=<ours/shell>" last.
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "backup/backup_exceptions.h"
#include "backup/backup_sql_utility.h"
#include "base/time_utility.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double CpuSeconds(const rusage& usage) {
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

// User + system time of this process so far.
double OwnCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return CpuSeconds(usage);
}

// Wall and processor time of one phase.
struct Timing {
    double wall = 0;
    double cpu = 0;
};

std::string SourcePath(int i) {
    char path[128];
    std::snprintf(path, sizeof path, "/home/user/文書/folder%03d/file%06d.txt", i / 1000, i);
    return path;
}

std::string DestinationPath(int i) {
    char path[160];
    std::snprintf(path, sizeof path, "\\\\192.168.1.10\\zereda\\backup\\folder%03d\\file%06d.txt",
                  i / 1000, i);
    return path;
}

std::time_t LastUpdate(int i) { return 1500000000 + i; }

// The same table and indexes as the program's file list, then every row in one transaction.
bool WriteShellScript(const std::string& path, int rows) {
    std::ofstream out(path);
    out << "CREATE TABLE IF NOT EXISTS BACKUP_FILELIST (SETTING_NUMBER INTEGER NOT NULL, "
           "SOURCE_FILE_PATH TEXT NOT NULL, DESTINATION_FILE_PATH TEXT NOT NULL, LAST_UPDATE "
           "TEXT NOT NULL, IS_DIRECTORY INTEGER NOT NULL, STATUS TEXT NOT NULL, PRIMARY "
           "KEY(SETTING_NUMBER, SOURCE_FILE_PATH));\n"
           "CREATE INDEX IF NOT EXISTS INDEX_BACKUP_INFORMATION ON "
           "BACKUP_FILELIST(SETTING_NUMBER, SOURCE_FILE_PATH);\n"
           "CREATE INDEX IF NOT EXISTS INDEX_BACKUP_SETTING_STATUS ON "
           "BACKUP_FILELIST(SETTING_NUMBER, STATUS);\n"
           "CREATE INDEX IF NOT EXISTS INDEX_BACKUP_SETTING ON BACKUP_FILELIST(SETTING_NUMBER);\n"
           "CREATE INDEX IF NOT EXISTS INDEX_BACKUP_STATUS ON BACKUP_FILELIST(STATUS);\n"
           "CREATE INDEX IF NOT EXISTS INDEX_BACKUP_SETTING_DIRECTORY_STATUS ON "
           "BACKUP_FILELIST(SETTING_NUMBER, IS_DIRECTORY, STATUS);\n"
           "BEGIN TRANSACTION;\n";
    for (int i = 0; i < rows; ++i) {
        out << "INSERT INTO BACKUP_FILELIST VALUES (0, '" << SourcePath(i) << "', '"
            << DestinationPath(i) << "', '" << tessarine::ToTimeStamp(LastUpdate(i))
            << "', 0, 'ADD');\n";
    }
    out << "COMMIT TRANSACTION;\n";
    return static_cast<bool>(out);
}

// Runs "sqlite3 <database> < <script>" as a whole process; wall seconds -1 on failure.
Timing TimeShell(const std::string& database, const std::string& script) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, script.c_str(), O_RDONLY, 0);
    char* argv[] = {const_cast<char*>("sqlite3"), const_cast<char*>("-bail"),
                    const_cast<char*>(database.c_str()), nullptr};
    const auto start = Clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "sqlite3", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return {-1, 0};
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {-1, 0};
    return {SecondsSince(start), CpuSeconds(usage)};
}

}  // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    std::string work;
    if (argc > 2) {
        work = argv[2];
        std::filesystem::create_directories(work);
    } else {
        char pattern[] = "/tmp/backup_sql_bench.XXXXXX";
        if (mkdtemp(pattern) == nullptr) return 1;
        work = pattern;
    }
    const std::string ourDatabase = work + "/ours.db";
    const std::string shellDatabase = work + "/shell.db";
    const std::string script = work + "/rows.sql";
    for (const auto& path :
         {ourDatabase, ourDatabase + "-wal", ourDatabase + "-shm", shellDatabase})
        std::filesystem::remove(path);

    Timing add;
    Timing lookup;
    try {
        tessarine::CBackupSQLUtility fileList(ourDatabase);
        if (fileList.Initialize() != 0) {
            std::fprintf(stderr, "cannot initialise %s\n", ourDatabase.c_str());
            return 1;
        }
        auto start = Clock::now();
        double cpu = OwnCpuSeconds();
        for (int i = 0; i < rows; ++i) {
            fileList.AddBackupInformation(0, SourcePath(i), DestinationPath(i), LastUpdate(i), 0);
        }
        add = {SecondsSince(start), OwnCpuSeconds() - cpu};

        start = Clock::now();
        cpu = OwnCpuSeconds();
        int found = 0;
        std::string destination;
        std::time_t lastUpdate = 0;
        for (int i = 0; i < rows; ++i) {
            if (fileList.GetBackupInformation(0, SourcePath(i), &destination, &lastUpdate) == 0 &&
                lastUpdate == LastUpdate(i))
                ++found;
        }
        lookup = {SecondsSince(start), OwnCpuSeconds() - cpu};
        if (found != rows) {
            std::fprintf(stderr, "found %d of %d rows\n", found, rows);
            return 1;
        }
    } catch (const tessarine::CAppException& e) {
        std::fprintf(stderr, "file list error %d: %s\n", e.GetErrorCode(),
                     e.GetErrorMessage().c_str());
        return 1;
    }

    if (!WriteShellScript(script, rows)) {
        std::fprintf(stderr, "cannot write %s\n", script.c_str());
        return 1;
    }
    const Timing shell = TimeShell(shellDatabase, script);
    if (shell.wall <= 0) {
        std::fprintf(stderr, "sqlite3 shell failed\n");
        return 1;
    }

    std::printf("rows=%d work=%s\n", rows, work.c_str());
    const auto print = [rows](const char* name, const Timing& timing) {
        std::printf("%-40s %8.3f s wall %8.0f rows/s   %8.3f s cpu\n", name, timing.wall,
                    rows / timing.wall, timing.cpu);
    };
    print("ours add (one transaction per row)", add);
    print("ours lookup (one query per row)", lookup);
    print("sqlite3 shell insert (one transaction)", shell);
    std::printf("cpu_ratio=%.2f\n", add.cpu / shell.cpu);
    std::printf("ratio=%.2f\n", add.wall / shell.wall);
    return 0;
}
