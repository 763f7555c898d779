#include "base/string_utility.h"

#include <gtest/gtest.h>

#include <regex>

#include "base/app_log.h"
#include "fakes/test_support.h"

namespace tessarine {
namespace {

using testing::ReadFile;
using testing::TempDir;

TEST(StringUtilityTest, NumbersAndFlags) {
    EXPECT_EQ(BoolToString(5), "TRUE");
    EXPECT_EQ(BoolToString(0), "FALSE");
    EXPECT_EQ(IntToString(-1), "-1");
    EXPECT_EQ(ULongToString(4294967295u), "4294967295");
    struct {
        const char* text;
        int value;
    } toInt[] = {{"12ab", 12},
                 {"ab", 0},
                 {"", 0},
                 {"-7", -7},
                 {"  42", 42},
                 {"+3", 3},
                 {"99999999999", 2147483647},
                 {"-99999999999", -2147483647 - 1}};
    for (const auto& c : toInt) EXPECT_EQ(StringToInt(c.text), c.value) << c.text;
    struct {
        const char* text;
        bool digits;
    } digits[] = {{"8080", true}, {"80a", false}, {" 80", false}, {"", true}, {"-1", false}};
    for (const auto& c : digits) EXPECT_EQ(IsDigitsOnly(c.text), c.digits) << c.text;
}

TEST(StringUtilityTest, Utf16RoundTrip) {
    const std::string texts[] = {"", "abc", "設定", "バックアップ＆指定ファイル", "emoji 😀 end",
                                 "ü"};
    for (const auto& text : texts) EXPECT_EQ(WideToUtf8(Utf8ToWide(text)), text) << text;
    EXPECT_EQ(Utf8ToWide("😀").size(), 2u);               // a surrogate pair
    EXPECT_EQ(Utf8ToWide("\xE3\x81"), u"\uFFFD\uFFFD");  // truncated sequence, no overread
}

TEST(StringUtilityTest, Base64) {
    struct {
        const char* text;
        const char* base64;
    } cases[] = {{"", ""},
                 {"f", "Zg=="},
                 {"fo", "Zm8="},
                 {"foo", "Zm9v"},
                 {"password", "cGFzc3dvcmQ="},
                 {"設定", "6Kit5a6a"}};
    for (const auto& c : cases) {
        EXPECT_EQ(CStringUtility::EncodeBase64(c.text), c.base64) << c.text;
        EXPECT_EQ(CStringUtility::DecodeBase64(c.base64), c.text) << c.base64;
    }
    // Every UTF-8 byte of a Japanese text is covered.
    const std::string japanese = "パスワード１２３";
    EXPECT_EQ(CStringUtility::DecodeBase64(CStringUtility::EncodeBase64(japanese)), japanese);
    for (const char* bad : {"Zm9v!", "Z", "Zg=x", "Zg==="})
        EXPECT_EQ(CStringUtility::DecodeBase64(bad), "") << bad;
}

// A bad input gives the platform decoder's error line: method name, the system error, "[%d]".
TEST(StringUtilityTest, Base64DecodeErrorLine) {
    TempDir dir;
    CAppLog::Get().InitWith(dir.Path() + "/", "t", false, 1 << 20);
    EXPECT_EQ(CStringUtility::DecodeBase64("Zm9v!"), "");
    CAppLog::Get().Reset();
    const std::string text = ReadFile(dir.Sub("t.log"));
    EXPECT_TRUE(
        std::regex_search(text, std::regex(R"( ERR\[ *\d+\] L\[ *\d+\] )"
                                           R"(CStringUtility::DecodeBase64 22\[22\]\r\n$)")))
        << text;
}

TEST(StringUtilityTest, Cp932) {
    EXPECT_EQ(Utf8ToCp932("abc"), "abc");
    EXPECT_EQ(Utf8ToCp932("設定"), "\x90\xDD\x92\xE8");
    EXPECT_EQ(Cp932ToUtf8("\x90\xDD\x92\xE8"), "設定");
    EXPECT_EQ(Utf8ToCp932("a😀b"), "a?b");  // no CP932 form
}

// Only what cannot be converted becomes '?': a character without a form in the target, or
// one bad byte; what follows is converted as usual.
TEST(StringUtilityTest, Cp932ReplacesOnlyWhatCannotBeConverted) {
    const struct {
        const char* name;
        std::string utf8;
        std::string cp932;
    } toCp932[] = {
        {"Latin-1 byte in a name", "caf\xe9.txt", "caf?.txt"},
        {"valid e acute has no CP932 form", "caf\xc3\xa9.txt", "caf?.txt"},
        {"bad byte before Japanese", "\xff設定", "?\x90\xDD\x92\xE8"},
        {"truncated sequence at the end", "ab\xe3\x81", "ab??"},
        {"lone continuation bytes",
         "a\x80\x80"
         "b",
         "a??b"},
        {"overlong form",
         "a\xc0\xaf"
         "b",
         "a??b"},
    };
    for (const auto& c : toCp932) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Utf8ToCp932(c.utf8), c.cp932);
    }
    const struct {
        const char* name;
        std::string cp932;
        std::string utf8;
    } toUtf8[] = {
        {"lead byte without trail", "\x90 \x90\xDD", "? 設"},
    };
    for (const auto& c : toUtf8) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Cp932ToUtf8(c.cp932), c.utf8);
    }
}

TEST(StringUtilityTest, FormatGrowsPastAnyBuffer) {
    EXPECT_EQ(Format("L[%4d] %s", 7, "x"), "L[   7] x");
    const std::string longText(5000, 'y');
    EXPECT_EQ(Format("%s!", longText.c_str()).size(), 5001u);
}

TEST(StringUtilityTest, TerminalSafeTextReplacesWhatATerminalWouldObey) {
    struct Case {
        const char* text;
        const char* shown;
    } const cases[] = {
        {"QZV-4070 報告書 Ärger", "QZV-4070 報告書 Ärger"},
        {"a\tb\r\n\x1b[2Jc\x7f", "a?b???[2Jc?"},
        {"x\xc2\x85y\xc2\x9b"
         "31mz",
         "x?y?31mz"},  // C1: NEL, CSI
        {"x\x9b"
         "31m\xc2",
         "x?31m?"},                                   // bytes that are no UTF-8
        {"name\xe2\x80\xaegpj.exe", "name?gpj.exe"},  // right-to-left override
        {"\xe2\x81\xa6"
         "a\xe2\x81\xa9\xe2\x80\x8f",
         "?a??"},  // isolate, its end, RLM
        {"a\xe2\x80\xa8"
         "b\xd8\x9c",
         "a?b?"},                                                  // line separator, ALM
        {"\xe2\x80\x8d\xe2\x80\x94", "\xe2\x80\x8d\xe2\x80\x94"},  // joiner, dash: kept
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.shown, TerminalSafeText(c.text)) << c.text;
}

}  // namespace
}  // namespace tessarine
