#include "network/http_utility.h"

#include <gtest/gtest.h>

#include "base/string_utility.h"

namespace tessarine {
namespace {

TEST(HttpUtilityTest, UrlEncodeKeepsUnreservedBytesAndEncodesTheRestOfTheUtf8) {
    const struct {
        const char* text;
        const char* encoded;
    } cases[] = {
        {"C:/a b", "C%3A%2Fa%20b"},    {"AZaz09-_.~", "AZaz09-_.~"},
        {"\xE3\x81\x82", "%E3%81%82"},  // "あ"
        {"+&=%", "%2B%26%3D%25"},      {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(c.encoded, CHttpUtility::UrlEncode(c.text)) << c.text;
}

TEST(HttpUtilityTest, HeaderLinesCarryTheirPrefixAndLineEnd) {
    EXPECT_EQ("Accept: text/*\r\n", CHttpUtility::MakeHeaderLine(0, "text/*"));
    EXPECT_EQ("User-Agent: KVQClient\r\n", CHttpUtility::MakeHeaderLine(1, "KVQClient"));
    EXPECT_EQ("Authorization: x\r\n", CHttpUtility::MakeHeaderLine(2, "x"));
    EXPECT_EQ("Content-Length: 5\r\n", CHttpUtility::MakeHeaderLine(5, "5"));
    EXPECT_EQ("", CHttpUtility::MakeHeaderLine(6, "x"));
    EXPECT_EQ("", CHttpUtility::MakeHeaderLine(-1, "x"));
}

TEST(HttpUtilityTest, HttpDateIsEnglishGmt) {
    EXPECT_EQ("Thu, 01 Jan 1970 00:00:00 GMT", CHttpUtility::FormatHttpDate(0));
    EXPECT_EQ("Sun, 06 Nov 1994 08:49:37 GMT", CHttpUtility::FormatHttpDate(784111777));
    EXPECT_EQ("Thu, 29 Feb 2024 23:59:59 GMT", CHttpUtility::FormatHttpDate(1709251199));
}

TEST(HttpUtilityTest, FormBodyKeepsBase64PlusAndSlashAsTheyAre) {
    CHttpUtility http;
    const std::string base64 = CStringUtility::EncodeBase64("~~~?>?");
    ASSERT_EQ("fn5+Pz4/", base64);
    http.CreateLoginPostData("user name", base64);
    EXPECT_EQ("name=user name&password=fn5+Pz4/", http.LoginPostData());
}

TEST(HttpUtilityTest, UrlsFollowTheSslChoice) {
    EXPECT_EQ("http://10.0.0.5/index?pid=UserLoginProperty&aid=1",
              CHttpUtility::LoginUrl("10.0.0.5", false));
    EXPECT_EQ("https://10.0.0.5/index?pid=UserLoginProperty&aid=1",
              CHttpUtility::LoginUrl("10.0.0.5", true));
    EXPECT_EQ("http://dev/index?pid=Header&aid=1", CHttpUtility::LogoutUrl("dev", false));
    EXPECT_EQ("https://dev/index?pid=Header&aid=1", CHttpUtility::LogoutUrl("dev", true));
}

TEST(HttpUtilityTest, AddressesThatAreNotPlainHostsAreRefusedWithoutTraffic) {
    CHttpUtility http;
    for (const char* address : {"", "evil@10.0.0.1", "10.0.0.1/x", "10.0.0.1:81", "a b"})
        EXPECT_EQ(-1, http.IsSuccessAuthorize(address, "u", "p", 80, 443, false)) << address;
}

TEST(HttpUtilityTest, RequestsWithoutSessionFail) {
    CHttpUtility http;
    EXPECT_EQ(-1, http.SendRequest(CHttpUtility::kLoginObject));
    EXPECT_EQ(-1, http.SendLogoutRequest(CHttpUtility::kLogoutObject));
}

}  // namespace
}  // namespace tessarine
