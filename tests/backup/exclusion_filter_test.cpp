#include "backup/exclusion_filter.h"

#include <gtest/gtest.h>

namespace tessarine {
namespace {

TEST(ExclusionFilterTest, PatternsMatchNamesFoldersAndAnchoredPaths) {
    const ExclusionFilter filter(" *.tmp ; node_modules/;;.cache/ ; docs/old/*.pdf; /top.txt");
    const struct {
        const char* path;
        bool isFolder;
        bool excluded;
    } cases[] = {
        {"a.tmp", false, true},
        {"deep/er/b.tmp", false, true},
        {"a.tmp.txt", false, false},
        {"node_modules", true, true},
        {"web/node_modules", true, true},
        {"node_modules", false, false},  // a file of that name is not a folder
        {".cache", true, true},
        {"docs/old/x.pdf", false, true},
        {"docs/old/sub/x.pdf", false, false},  // '*' does not cross '/'
        {"other/docs/old/x.pdf", false, false},
        {"top.txt", false, true},
        {"sub/top.txt", false, false},  // a leading '/' anchors
        {"A.TMP", false, false},        // letter case counts
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.excluded, filter.Excludes(c.path, c.isFolder)) << c.path;
    EXPECT_TRUE(filter.ExcludesPathOrParent("web/node_modules/x/y.js", false));
    EXPECT_FALSE(filter.ExcludesPathOrParent("web/src/y.js", false));
    EXPECT_TRUE(filter.ExcludesEitherKind("node_modules"));
}

TEST(ExclusionFilterTest, UnusablePatternsAreDropped) {
    EXPECT_TRUE(ExclusionFilter(" ; / ;//").Empty());
    EXPECT_EQ((std::vector<std::string>{"a", "b c"}), ExclusionFilter::Split(" a ;; b c ;"));
    EXPECT_NE("", ExclusionFilter::Problem("/"));
    EXPECT_EQ("", ExclusionFilter::Problem("*.tmp"));
}

}  // namespace
}  // namespace tessarine
