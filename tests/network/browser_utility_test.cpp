#include "network/browser_utility.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "fakes/test_support.h"

namespace tessarine {
namespace {

class RecordingOpener : public BrowserOpener {
public:
    void Open(const std::string& filePath) override {
        opened = filePath;
        content = testing::ReadFile(filePath);
    }
    std::string opened;
    std::string content;
};

std::string Utf16Le(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (const char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

const std::string kUrl = "http://10.0.0.5/index?pid=UserLoginProperty&aid=1";

TEST(BrowserUtilityTest, PageIsTheTemplateInUtf16WithTabsAndEscapedValues) {
    testing::TempDir temp;
    RecordingOpener opener;
    CBrowserUtility browser(opener, temp.Path());
    std::string path;
    ASSERT_EQ(0, browser.StartupBrowser(path, kUrl, "a\"b<c>&'", "fn5+Pz4/"));
    EXPECT_EQ(path, opener.opened);
    const std::string expected =
        "<html>\t\t\t\t\t\t\t\t<body onLoad=\"document.pform.submit();window.focus();\">"
        "\t\t\t\t\t\t\t\t\t<form name = \"pform\" action = "
        "\"http://10.0.0.5/index?pid=UserLoginProperty&amp;aid=1\" method = \"post\">"
        "\t\t\t\t\t\t\t\t\t<input type = hidden name = \"name\" value = "
        "\"a&quot;b&lt;c&gt;&amp;&#39;\">\t\t\t\t\t\t\t\t\t<input type = hidden name = "
        "\"password\" value = \"fn5+Pz4/\">\t\t\t\t\t\t\t\t\t</form>\t\t\t\t\t\t\t\t</body>"
        "\t\t\t\t\t\t\t</html>";
    EXPECT_EQ(Utf16Le(expected), opener.content);
    // The template is 289 characters; "{1}" and "{3}" become "name" and "password".
    EXPECT_EQ(289u - 6 + 4 + 8, CBrowserUtility::MakePageText("{0}", "{2}", "{4}").size());
}

TEST(BrowserUtilityTest, PageIsPrivateAndDeletedWhenDueAndAtTheEnd) {
    testing::TempDir temp;
    RecordingOpener opener;
    std::string path;
    {
        CBrowserUtility browser(opener, temp.Path(), std::chrono::milliseconds(200));
        ASSERT_EQ(0, browser.StartupBrowser(path, kUrl, "u", "p"));
        struct stat info {};
        ASSERT_EQ(0, stat(path.c_str(), &info));
        EXPECT_EQ(0600u, info.st_mode & 0777);
        ASSERT_EQ(0, stat(path.substr(0, path.rfind('/')).c_str(), &info));
        EXPECT_EQ(0700u, info.st_mode & 0777);
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        EXPECT_NE(0, access(path.c_str(), F_OK)) << "the page outlived its delay";

        ASSERT_EQ(0, browser.CreateTemporaryHtml(path, kUrl, "u", "p"));  // written, not opened
        ASSERT_EQ(0, access(path.c_str(), F_OK));
    }
    EXPECT_NE(0, access(path.c_str(), F_OK)) << "the page outlived the object";
}

TEST(BrowserUtilityTest, UnusableTemporaryFolderGivesMinusOne) {
    RecordingOpener opener;
    CBrowserUtility browser(opener, "/nonexistent/folder");
    std::string path = "unchanged";
    EXPECT_EQ(-1, browser.StartupBrowser(path, kUrl, "u", "p"));
    EXPECT_EQ("unchanged", path);
    EXPECT_EQ("", opener.opened);
}

}  // namespace
}  // namespace tessarine
