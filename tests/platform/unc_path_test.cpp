#include "platform/unc_path.h"

#include <gtest/gtest.h>

#include <vector>

namespace tessarine {
namespace {

struct ParseCase {
    const char* text;
    bool ok;
    const char* host;
    int port;
    const char* share;
    const char* below;
};

TEST(UncPathTest, ParsesDevicePaths) {
    const ParseCase cases[] = {
        // UNC form as kept in settings and XML.
        {R"(\\192.168.1.10\zereda\backup\a.xml)", true, "192.168.1.10", 0, "zereda",
         "backup/a.xml"},
        {R"(\\192.168.1.10\zereda\import\data\)", true, "192.168.1.10", 0, "zereda", "import/data"},
        {R"(\\192.168.1.10\zereda)", true, "192.168.1.10", 0, "zereda", ""},
        {R"(\\192.168.1.10)", true, "192.168.1.10", 0, "", ""},
        {R"(\\host\zereda/mixed/sep\x)", true, "host", 0, "zereda", "mixed/sep/x"},
        {R"(\\host\zereda\\double\\\sep)", true, "host", 0, "zereda", "double/sep"},
        {R"(\\host\zereda\.\a\.\b)", true, "host", 0, "zereda", "a/b"},
        {R"(\\host\zereda\日本語\ファイル.txt)", true, "host", 0, "zereda", "日本語/ファイル.txt"},
        {R"(\\host\zereda\with space\#1%.txt)", true, "host", 0, "zereda", "with space/#1%.txt"},
        // smb:// form as a user may type it.
        {"smb://192.168.1.10/zereda/backup/a.xml", true, "192.168.1.10", 0, "zereda",
         "backup/a.xml"},
        {"SMB://host:1445/zereda/x", true, "host", 1445, "zereda", "x"},
        {"smb://host/zereda/My%20Docs/%E6%97%A5.txt", true, "host", 0, "zereda", "My Docs/日.txt"},
        {"smb://host/", true, "host", 0, "", ""},
        // Malformed: a clean failure.
        {"", false, "", 0, "", ""},
        {R"(\\)", false, "", 0, "", ""},
        {R"(\\\\)", false, "", 0, "", ""},
        {R"(\\\zereda\a)", false, "", 0, "", ""},
        {R"(\host\zereda)", false, "", 0, "", ""},
        {"/home/user/file.txt", false, "", 0, "", ""},
        {"C:\\data\\file.txt", false, "", 0, "", ""},
        {"smb://", false, "", 0, "", ""},
        {"smb:///zereda/a", false, "", 0, "", ""},
        {"smb://host:/zereda", false, "", 0, "", ""},
        {"smb://host:0/zereda", false, "", 0, "", ""},
        {"smb://host:65536/zereda", false, "", 0, "", ""},
        {"smb://host:44x/zereda", false, "", 0, "", ""},
        {"smb://user:pw@host/zereda", false, "", 0, "", ""},
        {"smb://host/zereda/a?opt=1", false, "", 0, "", ""},
        {"smb://host/zereda/bad%2", false, "", 0, "", ""},
        {"smb://host/zereda/bad%zz", false, "", 0, "", ""},
        {"smb://host/zereda/a%2Fb", false, "", 0, "", ""},
        {"smb://host/zereda/a%5Cb", false, "", 0, "", ""},
        {"smb://host/zereda/a%00b", false, "", 0, "", ""},
        {R"(\\host\zereda\..\..\etc\passwd)", false, "", 0, "", ""},
        {R"(\\host\zereda\a\..)", false, "", 0, "", ""},
        {R"(\\host name\zereda)", false, "", 0, "", ""},
        {R"(\\host:445\zereda)", false, "", 0, "", ""},
        {R"(\\host\zereda\a*.txt)", false, "", 0, "", ""},
        {R"(\\host\zereda\a?.txt)", false, "", 0, "", ""},
        {"\\\\host\\zereda\\tab\there", false, "", 0, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        DevicePath path;
        path.host = "untouched";
        ASSERT_EQ(ParseDevicePath(c.text, path), c.ok);
        if (!c.ok) {
            EXPECT_EQ(path.host, "untouched");
            continue;
        }
        EXPECT_EQ(path.host, c.host);
        EXPECT_EQ(path.port, c.port);
        EXPECT_EQ(path.share, c.share);
        EXPECT_EQ(path.Below(), c.below);
    }
}

TEST(UncPathTest, FormsUncPathsAndUrls) {
    struct Case {
        const char* text;
        int port;
        const char* unc;
        const char* url;
    };
    const Case cases[] = {
        {R"(\\192.168.1.10\zereda\backup\)", 0, R"(\\192.168.1.10\zereda\backup)",
         "smb://192.168.1.10/zereda/backup"},
        {"smb://h/zereda/a/b.txt", 1445, R"(\\h\zereda\a\b.txt)", "smb://h:1445/zereda/a/b.txt"},
        {"smb://h:2000/zereda", 1445, R"(\\h\zereda)", "smb://h:2000/zereda"},
        {R"(\\h)", 0, R"(\\h)", "smb://h/"},
        // Names that mean something in a URL are escaped, UTF-8 byte by byte.
        {R"(\\h\zereda\My Docs\100%#+.txt)", 0, R"(\\h\zereda\My Docs\100%#+.txt)",
         "smb://h/zereda/My%20Docs/100%25%23%2B.txt"},
        {R"(\\h\zereda\日)", 0, R"(\\h\zereda\日)", "smb://h/zereda/%E6%97%A5"},
        {R"(\\h\IPC$)", 0, R"(\\h\IPC$)", "smb://h/IPC%24"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        DevicePath path;
        ASSERT_TRUE(ParseDevicePath(c.text, path));
        EXPECT_EQ(ToUncPath(path), c.unc);
        EXPECT_EQ(ToSmbUrl(path, c.port), c.url);
        // The URL reads back as the same path.
        DevicePath again;
        ASSERT_TRUE(ParseDevicePath(ToSmbUrl(path, c.port), again));
        EXPECT_EQ(ToUncPath(again), c.unc);
    }
}

TEST(UncPathTest, JoinsRelativePartsWithBackslashes) {
    struct Case {
        const char* folder;
        const char* relative;
        const char* joined;
    };
    const Case cases[] = {
        {R"(\\h\zereda\backup\)", "a/b.txt", R"(\\h\zereda\backup\a\b.txt)"},
        {R"(\\h\zereda\backup)", "a/b.txt", R"(\\h\zereda\backup\a\b.txt)"},
        {R"(\\h\zereda\backup\\)", "/a", R"(\\h\zereda\backup\a)"},
        {R"(\\h\zereda\backup)", R"(\x\y)", R"(\\h\zereda\backup\x\y)"},
        {R"(\\h\zereda\backup\)", "", R"(\\h\zereda\backup\)"},
        {R"(\\h)", "zereda", R"(\\h\zereda)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.folder) + " + " + c.relative);
        EXPECT_EQ(JoinDevicePath(c.folder, c.relative), c.joined);
    }
}

TEST(UncPathTest, RecognisesDevicePaths) {
    EXPECT_TRUE(IsDevicePath(R"(\\h\zereda)"));
    EXPECT_TRUE(IsDevicePath("Smb://h/zereda"));
    EXPECT_FALSE(IsDevicePath("/tmp/x"));
    EXPECT_FALSE(IsDevicePath(R"(\h\zereda)"));
    EXPECT_FALSE(IsDevicePath("smb:/h"));
}

}  // namespace
}  // namespace tessarine
