#include "network/search_agent_xml_utility.h"

#include <gtest/gtest.h>

#include "base/app_log.h"
#include "fakes/test_support.h"
#include "network/search_agent_xml_exception.h"

namespace tessarine {
namespace {

std::string Answer(const std::string& elements) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SERVERRESPONSE><COM><DETAILS>" + elements +
           "</DETAILS></COM></SERVERRESPONSE>";
}

const std::string kGoodFields =
    "<IP4ADRS>192.168.1.20</IP4ADRS><IP6ADRS>fe80::1</IP6ADRS><HTTP>8080</HTTP>"
    "<HTTPS>8443</HTTPS><HWNAME>QZV-4070</HWNAME><NETBIOS>DEV1</NETBIOS><ROMREV>2.10</ROMREV>";

class SearchAgentXMLUtilityTest : public ::testing::Test {
protected:
    void SetUp() override { CAppLog::Get().InitWith(temp_.Path() + "/", "test", false, 1 << 20); }
    void TearDown() override { CAppLog::Get().Reset(); }
    std::string Log() const { return testing::ReadFile(CAppLog::Get().LogFilePath()); }

    testing::TempDir temp_;
    CSearchAgentXMLUtility xml_;
};

TEST_F(SearchAgentXMLUtilityTest, RequestHasTheWriterFormatAndTheElementsInOrder) {
    EXPECT_EQ(
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SERVERREQUEST>\n"
        "  <COM>GETSERVERS</COM>\n  <PARAM>\n    <RESPTYPE>RESPONSEDIRECT</RESPTYPE>\n"
        "    <IP4ADRS>192.168.1.5</IP4ADRS>\n    <PORT>61000</PORT>\n  </PARAM>\n"
        "</SERVERREQUEST>\n",
        xml_.WriteServerRequestData("192.168.1.5", 61000));
}

TEST_F(SearchAgentXMLUtilityTest, RequestThatWouldNotFitIsRefused) {
    EXPECT_THROW(xml_.WriteServerRequestData(std::string(1000, '1'), 61000),
                 CSearchAgentXMLException);
}

TEST_F(SearchAgentXMLUtilityTest, AnswerFillsTheRecordAndTheObjectServesAgain) {
    for (int round = 0; round < 2; ++round) {
        const std::string answer = Answer(kGoodFields);
        CSearchAgentResponse response;
        xml_.ReadServerResponseData(answer.data(), answer.size(), response);
        EXPECT_EQ("192.168.1.20", response.ipv4Address);
        EXPECT_EQ("fe80::1", response.ipv6Address);
        EXPECT_EQ(8080, response.httpPort);
        EXPECT_EQ(8443, response.httpsPort);
        EXPECT_EQ("QZV-4070", response.hardwareName);
        EXPECT_EQ("DEV1", response.netbiosName);
        EXPECT_EQ("2.10", response.firmwareRevision);
    }
}

TEST_F(SearchAgentXMLUtilityTest, EmptyIpv6AndPortsThatAreNotNumbers) {
    const std::string answer = Answer(
        "<IP4ADRS>10.0.0.2</IP4ADRS><IP6ADRS></IP6ADRS><HTTP>abc</HTTP><HTTPS>70000</HTTPS>"
        "<HWNAME>QZV-4070</HWNAME><NETBIOS>D</NETBIOS><ROMREV>1</ROMREV>");
    CSearchAgentResponse response;
    xml_.ReadServerResponseData(answer.data(), answer.size(), response);
    EXPECT_EQ("", response.ipv6Address);
    EXPECT_EQ(0, response.httpPort);
    EXPECT_EQ(0, response.httpsPort);
}

TEST_F(SearchAgentXMLUtilityTest, MalformedAnswersAreRefusedWithTheFailingStep) {
    const struct {
        std::string answer;
        const char* logged;
    } cases[] = {
        {Answer("<IP4ADRS>1</IP4ADRS><IPV6>x</IPV6>"),
         "Read <ip6adrs> element Error. Element:IPV6"},
        {Answer("<ip4adrs>1</ip4adrs>"), "Read <ip4adrs> element Error. Element:ip4adrs"},
        {Answer("<IP4ADRS>1</IP4ADRS><IP6ADRS></IP6ADRS><HTTP>1</HTTP><HTTPS>1</HTTPS>"),
         "Read <hwname> element Error. Element:["},
        {"<A><B></B></A>", "Skip <serverrespone> or <com> or <details> element Error"},
        {"not xml at all", "Skip <serverrespone>"},
        {"<!DOCTYPE a [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><A><B><C><IP4ADRS>&e;</IP4ADRS>",
         "Read <ip4adrs>"},
        {std::string(8193, ' '), "Invalid Parameter"},
    };
    for (const auto& c : cases) {
        CSearchAgentResponse response;
        try {
            xml_.ReadServerResponseData(c.answer.data(), c.answer.size(), response);
            ADD_FAILURE() << "accepted: " << c.answer.substr(0, 80);
        } catch (const CSearchAgentXMLException& e) {
            EXPECT_EQ(1, e.GetErrorCode());
            EXPECT_EQ("レスポンスデータ読込みエラー", e.GetErrorMessage());
        }
        EXPECT_NE(std::string::npos, Log().find(c.logged)) << c.logged;
        EXPECT_EQ(std::string::npos, Log().find("root:")) << "an external entity was read";
    }
}

}  // namespace
}  // namespace tessarine
