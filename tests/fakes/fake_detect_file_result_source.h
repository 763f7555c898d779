// Stored detection results in memory, newest first as given, for the detection result page; it
// counts its reads and can fail a chosen read.
#pragma once

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "ui/result_source.h"

namespace tessarine::testing {

class FakeDetectFileResultSource : public ui::CDetectFileResultSource {
public:
    std::vector<CDetectFileResult> results;  // newest first
    std::map<std::string, std::vector<DetectFileResultDetailData>> details;
    int resultReads = 0;
    int detailReads = 0;
    int failResultReadAt = -1;  // the read (counted from 1) that fails; -1: none

    // The key of a row is its detected time and its place counted from the oldest; a page
    // starts after the row holding the key given (the order is the vector's).
    bool ReadResults(const std::optional<ui::ResultListKey>& after, std::size_t limit,
                     std::vector<ui::ResultListRow>& out) override {
        ++resultReads;
        if (resultReads == failResultReadAt) return false;
        std::size_t start = 0;
        if (after) {
            start = results.size();
            for (std::size_t i = 0; i < results.size(); ++i) {
                const ui::ResultListKey key = Key(i);
                if (key.detectedTime == after->detectedTime && key.rowId == after->rowId)
                    start = i + 1;
            }
        }
        const std::size_t end = std::min(results.size(), start + limit);
        for (std::size_t i = start; i < end; ++i) out.push_back({results[i], Key(i)});
        return true;
    }
    ui::ResultListKey Key(std::size_t index) const {
        return {results[index].detectedTime, static_cast<std::int64_t>(results.size() - index)};
    }
    bool ReadDetails(const std::string& id, std::vector<DetectFileResultDetailData>& out) override {
        ++detailReads;
        const auto found = details.find(id);
        if (found != details.end()) out = found->second;
        return true;
    }

    // `count` results named file<i>, newest (largest stamp) first.
    void Fill(int count) {
        results.clear();
        for (int i = 0; i < count; ++i) {
            const std::string name = "file" + std::to_string(i) + ".txt";
            char stamp[15];
            std::snprintf(stamp, sizeof stamp, "2017%02d%02d%06d", 12 - (i / 28) % 12, 28 - i % 28,
                          235959 - i % 1000);
            results.push_back(
                {std::string(stamp) + "_/data/" + name, name, "/data/" + name, stamp, {}});
        }
    }
};

}  // namespace tessarine::testing
