// Stores N detection results, each with three hits, one at a time through the same call the
// result checker uses, into a results database; for the load benchmark's peak-memory figures.
//
//   result_store_bench COUNT DATABASE
//
// Prints how many were stored; exits 1 when any result was not stored as new.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/app_exception.h"
#include "detection/detect_file_result.h"
#include "detection/detect_file_result_sql_utility.h"

using namespace tessarine;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: result_store_bench COUNT DATABASE\n");
        return 2;
    }
    const int count = std::atoi(argv[1]);
    CDetectFileResultSQLUtility results(argv[2]);
    if (results.Initialize() != 0) {
        std::fprintf(stderr, "cannot initialise the results database %s\n", argv[2]);
        return 2;
    }
    int stored = 0;
    for (int i = 0; i < count; ++i) {
        char stamp[15];
        std::snprintf(stamp, sizeof stamp, "2017%02d%02d%02d%02d%02d", 1 + i % 12, 1 + i % 28,
                      i % 24, i % 60, (i / 60) % 60);
        CDetectFileResult result;
        result.fileName = "report" + std::to_string(i) + ".docx";
        result.filePath =
            "/home/user1/documents/d" + std::to_string(i / 100) + "/" + result.fileName;
        result.detectedTime = stamp;
        result.details = {{"マイナンバー", "1234 5678 9012"},
                          {"マイナンバー", "2345 6789 0123"},
                          {"クレジットカード", "4111-1111-1111-1111"}};
        try {
            if (results.StoreDetectFileResult(result) ==
                CDetectFileResultSQLUtility::StoreOutcome::kStored)
                ++stored;
        } catch (const CAppException& e) {
            std::fprintf(stderr, "result %d: %s\n", i, e.GetErrorMessage().c_str());
        }
    }
    std::printf("stored=%d of %d\n", stored, count);
    return stored == count ? 0 : 1;
}
