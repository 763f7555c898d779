#include "platform/wildcard.h"

#include <gtest/gtest.h>

namespace tessarine {
namespace {

TEST(WildcardTest, MatchesLikeWindows) {
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    };
    const Case cases[] = {
        {"*", "anything.txt", true},
        {"", "anything", true},
        {"*.*", "no_extension", true},
        {"*.xml", "result.xml", true},
        {"*.xml", "RESULT.XML", true},
        {"*.XML", "result.xml", true},
        {"*.xml", "result.xml.bak", false},
        {"*.xml", "xml", false},
        {"PC01_*.xml", "PC01_20240101120000.xml", true},
        {"PC01_*.xml", "pc01_20240101120000.XML", true},
        {"PC01_*.xml", "PC02_20240101120000.xml", false},
        {"PC01_*.xml", "PC01_.xml", true},
        {"a?c", "abc", true},
        {"a?c", "ac", false},
        {"a?c", "abbc", false},
        {"a?c", "a日c", true},  // '?' is one character, not one byte
        {"日*", "日本語.txt", true},
        {"*本*", "日本語", true},
        {"*a*b*c", "xaybzc", true},
        {"*a*b*c", "xaybzcd", false},
        {"**x", "yyx", true},
        {"setting.xml", "Setting.XML", true},
        {"setting.xml", "setting.xm", false},
        {"a*", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " ~ " + c.name);
        EXPECT_EQ(MatchWildcard(c.pattern, c.name), c.match);
    }
}

TEST(WildcardTest, LongNamesDoNotBlowUp) {
    const std::string name(20000, 'a');
    EXPECT_FALSE(MatchWildcard("*a*a*a*a*a*a*b", name));
    EXPECT_TRUE(MatchWildcard("*a*a*a*a*a*a*", name));
}

}  // namespace
}  // namespace tessarine
