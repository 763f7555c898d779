#include "detection/detect_file_xml_utility.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/app_log.h"
#include "base/time_utility.h"
#include "detection/detect_file_exceptions.h"
#include "fakes/test_support.h"
#include "fakes/thrown_code.h"

namespace tessarine {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::time_t when = 0;
    EXPECT_TRUE(MakeLocalTime(year, month, day, hour, minute, second, when));
    return when;
}

std::string GoldenPath(const std::string& name) {
    return std::string(TESSARINE_SOURCE_DIR "/tests/detection/golden/") + name;
}

constexpr auto ThrownCode = testing::ThrownCode<CDetectFileXMLException>;

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

class DetectFileXmlUtilityTest : public ::testing::Test {
protected:
    void SetUp() override {
        CAppLog::Get().InitWith(dir_.Path() + "/", "test", false, std::int64_t{64} << 20);
    }
    void TearDown() override { CAppLog::Get().Reset(); }

    std::string Log() const { return ReadFile(CAppLog::Get().LogFilePath()); }
    std::string Folder() const { return dir_.Path() + "/detectfile/"; }
    std::string Document(const std::string& name, const std::string& content) const {
        const std::string path = dir_.Path() + "/in/" + name;
        EXPECT_TRUE(WriteFile(path, content));
        return path;
    }

    TempDir dir_;
};

// --- the device's detection setting -------------------------------------------------------

std::string Setting(const std::string& elements) {
    return std::string(kDeclaration) + "<setting>" + elements + "</setting>";
}

const std::string kHead = "<enable>on</enable><timestamp>20240101120000</timestamp>";

TEST_F(DetectFileXmlUtilityTest, SettingDocumentsAreReadByTheirElementOrder) {
    struct Case {
        const char* what;
        std::string document;
        int enabled;
        std::string timestamp;
        std::vector<std::string> extensions;
        std::uint32_t maximumSize;
    };
    const std::vector<Case> cases = {
        {"good document",
         Setting(kHead + "<ext><data>txt</data><data>DOC</data></ext>"
                         "<maxfilesize>10</maxfilesize>"),
         1,
         "20240101120000",
         {"txt", "DOC"},
         10},
        {"switch text ON is off",
         Setting("<enable>ON</enable><timestamp>t</timestamp><x><data>pdf</data></x>"
                 "<maxfilesize>5</maxfilesize>"),
         0,
         "t",
         {"pdf"},
         5},
        {"switch text 1 is off",
         Setting("<enable>1</enable><timestamp>t</timestamp><x/><maxfilesize>5</maxfilesize>"),
         0,
         "t",
         {},
         5},
        {"switch text true is off",
         Setting("<enable>true</enable><timestamp>t</timestamp><x/><maxfilesize>5</maxfilesize>"),
         0,
         "t",
         {},
         5},
        {"root and container names are not examined",
         std::string(kDeclaration) + "<anything>" + kHead +
             "<whatever><data>xlsx</data></whatever><maxfilesize>1</maxfilesize></anything>",
         1,
         "20240101120000",
         {"xlsx"},
         1},
        {"data without container loses its first entry to the container step",
         Setting(kHead + "<data>txt</data><data>doc</data><maxfilesize>10</maxfilesize>"),
         1,
         "20240101120000",
         {"doc"},
         10},
        {"unexpected elements are skipped",
         Setting(kHead + "<ext><data>txt</data><comment>x</comment><data>doc</data></ext>"
                         "<maxfilesize>10</maxfilesize>"),
         1,
         "20240101120000",
         {"txt", "doc"},
         10},
        {"everything after maxfilesize is ignored",
         Setting(kHead + "<ext><data>txt</data></ext><maxfilesize>7</maxfilesize>"
                         "<data>late</data><maxfilesize>99</maxfilesize>"),
         1,
         "20240101120000",
         {"txt"},
         7},
        {"extension with a dot is kept as it stands",
         Setting(kHead + "<ext><data>.txt</data></ext><maxfilesize>1</maxfilesize>"),
         1,
         "20240101120000",
         {".txt"},
         1},
        {"extensions that name no plain extension are left out",
         Setting(kHead + "<ext><data>a/b</data><data>..\\x</data><data>t&#9;xt</data>"
                         "<data>d&#127;</data><data>e&#133;</data><data></data>"
                         "<data>docx</data></ext><maxfilesize>1</maxfilesize>"),
         1,
         "20240101120000",
         {"docx"},
         1},
        {"Japanese and markup characters come back unchanged",
         Setting("<enable>on</enable><timestamp>時刻&amp;&lt;1&gt;</timestamp><ext>"
                 "<data>文書</data></ext><maxfilesize>1</maxfilesize>"),
         1,
         "時刻&<1>",
         {"文書"},
         1},
        {"prefixes, comments and CDATA are passed over",
         Setting("<d:enable xmlns:d=\"urn:x\"><!--c-->on</d:enable><timestamp><![CDATA[ts]]>"
                 "</timestamp><ext><data>txt</data></ext><?pi x?><maxfilesize>2</maxfilesize>"),
         1,
         "",
         {"txt"},
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CDetectFileServerSetting setting;
        setting.extensions = {"stale"};
        ASSERT_EQ(CDetectFileXMLUtility().ReadDetectFileServerSetting(
                      Document("setting.xml", c.document), &setting),
                  0);
        EXPECT_EQ(setting.enabled, c.enabled);
        EXPECT_EQ(setting.GetTimestamp(), c.timestamp);
        EXPECT_EQ(setting.extensions, c.extensions);
        EXPECT_EQ(setting.maximumSize, c.maximumSize);
    }
}

TEST_F(DetectFileXmlUtilityTest, MaximumSizeIsReadLikeWcstolIntoAnUnsignedValue) {
    struct Case {
        const char* text;
        std::uint32_t expected;
    };
    const std::vector<Case> cases = {
        {"10", 10},
        {" 12abc", 12},
        {"\t\n+3", 3},
        {"-5", 4294967291u},
        {"-1", 4294967295u},
        {"abc", 0},
        {"", 0},
        {"- 5", 0},
        {"0x10", 0},
        {"2147483647", 2147483647u},
        {"99999999999", 2147483647u},       // clamped to the largest 32-bit long
        {"-99999999999", 2147483648u},      // the smallest 32-bit long, as unsigned
        {"000000000000000000000042", 42u},  // leading zeros never overflow
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("maxfilesize text '") + c.text + "'");
        CDetectFileServerSetting setting;
        setting.maximumSize = 777;
        ASSERT_EQ(CDetectFileXMLUtility().ReadDetectFileServerSetting(
                      Document("setting.xml",
                               Setting(kHead + "<x/><maxfilesize>" + c.text + "</maxfilesize>")),
                      &setting),
                  0);
        EXPECT_EQ(setting.maximumSize, c.expected);
    }
}

TEST_F(DetectFileXmlUtilityTest, BrokenSettingDocumentsFailWithTheirErrorLine) {
    struct Case {
        const char* what;
        std::string document;
        std::string logLine;  // "" when no line of this reader is expected
    };
    const std::vector<Case> cases = {
        {"timestamp before enable",
         Setting("<timestamp>t</timestamp><enable>on</enable><x/><maxfilesize>1</maxfilesize>"),
         "Read <enable> element Error. Element:timestamp["},
        {"enable without timestamp", Setting("<enable>on</enable><x/><maxfilesize>1</maxfilesize>"),
         "Read <timestamp> element Error. Element:x["},
        {"no maxfilesize", Setting(kHead + "<ext><data>txt</data></ext>"), "Read Error["},
        {"only a root", Setting(""), "Read <enable> element Error. Element:["},
        {"empty file", "", "Skip <setting> element Error["},
        {"not XML", "enable=on", "Skip <setting> element Error["},
        {"cut off in the list",
         std::string(kDeclaration) + "<setting>" + kHead + "<ext><data>txt</da", "Parse Error: "},
        {"mismatched end tag", Setting(kHead + "<ext><data>txt</ext><maxfilesize>1</maxfilesize>"),
         "Parse Error: "},
        {"two roots",
         "<setting><enable>on</enable></setting><setting><timestamp>t</timestamp></setting>",
         "Read <timestamp> element Error. Element:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CDetectFileServerSetting setting;
        EXPECT_EQ(ThrownCode([&] {
                      CDetectFileXMLUtility().ReadDetectFileServerSetting(
                          Document("setting.xml", c.document), &setting);
                  }),
                  CDetectFileXMLUtility::kReadServerSettingError);
        EXPECT_NE(Log().find(c.logLine), std::string::npos) << Log();
    }
    EXPECT_EQ(ThrownCode([&] {
                  CDetectFileXMLUtility().ReadDetectFileServerSetting(dir_.Sub("missing.xml"),
                                                                      nullptr);
              }),
              0);
    EXPECT_NE(Log().find("Invalid Parameter["), std::string::npos);
    CDetectFileServerSetting setting;
    EXPECT_EQ(ThrownCode([&] {
                  CDetectFileXMLUtility().ReadDetectFileServerSetting(dir_.Sub("missing.xml"),
                                                                      &setting);
              }),
              0);
    EXPECT_NE(Log().find("Detect File Server Setting Read Error["), std::string::npos);
}

TEST_F(DetectFileXmlUtilityTest, UnexpectedAndRefusedElementsAreLogged) {
    CDetectFileServerSetting setting;
    ASSERT_EQ(
        CDetectFileXMLUtility().ReadDetectFileServerSetting(
            Document("setting.xml", Setting(kHead + "<ext><data>txt</data><comment>x</comment>"
                                                    "<data>..\\up</data><data>a&#10;b</data></ext>"
                                                    "<maxfilesize>1</maxfilesize>")),
            &setting),
        0);
    const std::string log = Log();
    EXPECT_NE(log.find("ERR"), std::string::npos);
    EXPECT_NE(log.find("ReadDetectFileServerSetting UnExpected Element:comment["),
              std::string::npos);
    EXPECT_NE(log.find("Extension Ignored (path separator):..\\up"), std::string::npos);
    EXPECT_NE(log.find("Extension Ignored (control character):a\\x0Ab"), std::string::npos);
}

TEST_F(DetectFileXmlUtilityTest, AFloodOfUnknownElementsIsLoggedOnlyInPart) {
    std::string flood;
    for (int i = 0; i < 5000; ++i) flood += "<z>1</z>";
    CDetectFileServerSetting setting;
    ASSERT_EQ(CDetectFileXMLUtility().ReadDetectFileServerSetting(
                  Document("setting.xml",
                           Setting(kHead + "<ext>" + flood + "</ext><maxfilesize>1</maxfilesize>")),
                  &setting),
              0);
    const std::string log = Log();
    std::size_t lines = 0;
    for (std::size_t pos = 0; (pos = log.find("UnExpected Element:z", pos)) != std::string::npos;
         ++pos) {
        ++lines;
    }
    EXPECT_EQ(lines, 100u);
    EXPECT_NE(log.find("More unexpected elements follow"), std::string::npos);
}

TEST_F(DetectFileXmlUtilityTest, AnEntityBombIsRefusedByTheReader) {
    std::string bomb = "<!DOCTYPE setting [<!ENTITY a0 \"aaaaaaaaaa\">";
    for (int i = 1; i <= 9; ++i) {
        bomb += "<!ENTITY a" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) bomb += "&a" + std::to_string(i - 1) + ";";
        bomb += "\">";
    }
    bomb += "]>";
    CDetectFileServerSetting setting;
    EXPECT_EQ(ThrownCode([&] {
                  CDetectFileXMLUtility().ReadDetectFileServerSetting(
                      Document("setting.xml",
                               std::string(kDeclaration) + bomb +
                                   "<setting><enable>on</enable><timestamp>&a9;</timestamp><x/>"
                                   "<maxfilesize>3</maxfilesize></setting>"),
                      &setting);
              }),
              CDetectFileXMLUtility::kReadServerSettingError);
    EXPECT_NE(Log().find("Parse Error: "), std::string::npos);
    EXPECT_EQ(setting.timestamp, "");
}

TEST_F(DetectFileXmlUtilityTest, ExternalEntitiesAreNeverLoaded) {
    TempDir outside;
    ASSERT_TRUE(WriteFile(outside.Sub("secret"), "SECRET"));
    const std::string document = std::string(kDeclaration) +
                                 "<!DOCTYPE setting [<!ENTITY s SYSTEM \"file://" +
                                 outside.Sub("secret") +
                                 "\">]><setting><enable>on</enable><timestamp>&s;</timestamp>"
                                 "<x><data>&s;</data><data>txt</data></x>"
                                 "<maxfilesize>3</maxfilesize></setting>";
    CDetectFileServerSetting setting;
    ASSERT_EQ(CDetectFileXMLUtility().ReadDetectFileServerSetting(Document("setting.xml", document),
                                                                  &setting),
              0);
    EXPECT_EQ(setting.timestamp, "");
    EXPECT_EQ(setting.extensions, std::vector<std::string>{"txt"});
    EXPECT_EQ(Log().find("SECRET"), std::string::npos);
}

// --- a detection result -------------------------------------------------------------------

std::string Result(const std::string& groups) {
    return std::string(kDeclaration) +
           "<detectresult><file>report.docx</file><path>/home/a/report.docx</path>"
           "<timestamp>20240102030405</timestamp><groups>" +
           groups + "</groups></detectresult>";
}

std::string Group(const std::string& name, const std::string& count,
                  const std::vector<std::string>& texts) {
    std::string hits;
    for (const std::string& text : texts) hits += "<text>" + text + "</text>";
    return "<group><name>" + name + "</name><count>" + count + "</count>" +
           (hits.empty() ? std::string("<hits/>") : "<hits>" + hits + "</hits>") + "</group>";
}

using Details = std::vector<std::pair<std::string, std::string>>;

Details Flatten(const CDetectFileResult& result) {
    Details details;
    for (const auto& detail : result.details) details.emplace_back(detail.category, detail.hitText);
    return details;
}

TEST_F(DetectFileXmlUtilityTest, ResultDocumentsYieldTheirHitsInDocumentOrder) {
    struct Case {
        const char* what;
        std::string document;
        Details details;
    };
    const std::vector<Case> cases = {
        {"two groups, the second without hits",
         Result(Group("個人情報", "2", {"山田太郎", "03-1234-5678"}) + Group("社外秘", "0", {})),
         {{"個人情報", "山田太郎"}, {"個人情報", "03-1234-5678"}}},
        {"no group after the container", Result(""), {}},
        {"container as an empty-element tag",
         std::string(kDeclaration) +
             "<detectresult><file>f</file><path>p</path><timestamp>t</timestamp><groups/>"
             "</detectresult>",
         {}},
        {"negative count reads no text", Result(Group("c", "-3", {})), {}},
        {"count read like wcstol",
         Result(Group("c", " 1 hit", {"x"}) + Group("d", "", {})),
         {{"c", "x"}}},
        {"element names of groups and hits are not examined",
         Result("<g><name>c</name><count>1</count><h><text>y</text></h></g>"),
         {{"c", "y"}}},
        {"markup characters come back unchanged",
         Result(Group("c&amp;d", "1", {"&lt;b&gt;"})),
         {{"c&d", "<b>"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CDetectFileResult result;
        result.details = {{"stale", "stale"}};
        ASSERT_EQ(
            CDetectFileXMLUtility().ReadDetectFileResult(Document("r.xml", c.document), &result),
            0);
        EXPECT_EQ(result.id, "");
        EXPECT_EQ(Flatten(result), c.details);
    }
    CDetectFileResult result;
    ASSERT_EQ(CDetectFileXMLUtility().ReadDetectFileResult(
                  Document("r.xml", Result(Group("c", "1", {"x"}))), &result),
              0);
    EXPECT_EQ(result.fileName, "report.docx");
    EXPECT_EQ(result.filePath, "/home/a/report.docx");
    EXPECT_EQ(result.detectedTime, "20240102030405");
}

TEST_F(DetectFileXmlUtilityTest, ReadsTheResultTheSimulatedDeviceWrites) {
    const auto golden = std::filesystem::path(TESSARINE_SOURCE_DIR) /
                        "tools/devicesim/tests/golden/PC01_20240102030405.xml";
    CDetectFileResult result;
    ASSERT_EQ(CDetectFileXMLUtility().ReadDetectFileResult(golden.string(), &result), 0);
    EXPECT_EQ(result.fileName, "memo.txt");
    EXPECT_EQ(result.filePath, "/home/a/memo & <1>.txt");
    EXPECT_EQ(result.detectedTime, "20240102030405");
    EXPECT_EQ(Flatten(result), (Details{{"社外秘", "社外秘"},
                                        {"社外秘", "CONFIDENTIAL"},
                                        {"電話番号", "03-1234-5678"},
                                        {"電話番号", "045-111-2222"}}));
}

TEST_F(DetectFileXmlUtilityTest, BrokenResultDocumentsFailAndKeepTheDetails) {
    const std::string head =
        std::string(kDeclaration) +
        "<detectresult><file>f</file><path>p</path><timestamp>t</timestamp><groups>";
    struct Case {
        const char* what;
        std::string document;
        std::string logLine;
    };
    const std::vector<Case> cases = {
        {"count larger than the hits", Result(Group("c", "3", {"x", "y"})),
         "CDetectFileXMLUtility::ReadDetectFileResult Read <text> element Error. Element:["},
        {"huge count", Result(Group("c", "99999999999", {"x"})),
         "Read <text> element Error. Element:["},
        {"more hits than the count", Result(Group("c", "1", {"x", "y"}) + Group("d", "0", {})),
         "Read <name> element Error. Element:group["},
        {"group without name", Result("<group><count>1</count></group>"),
         "Read <name> element Error. Element:count["},
        {"group without count", Result("<group><name>c</name><hits/></group>"),
         "Read <count> element Error. Element:hits["},
        {"path before file",
         std::string(kDeclaration) +
             "<detectresult><path>p</path><file>f</file><timestamp>t</timestamp></detectresult>",
         "Read <file> element Error. Element:path["},
        {"no path",
         std::string(kDeclaration) + "<detectresult><file>f</file><timestamp>t</timestamp>"
                                     "</detectresult>",
         "Read <path> element Error. Element:timestamp["},
        {"no timestamp",
         std::string(kDeclaration) + "<detectresult><file>f</file><path>p</path></detectresult>",
         "Read <timestamp> element Error. Element:["},
        {"empty file", "", "Skip <detectresult> element Error["},
        // A document that breaks off after a complete group is not a result without the rest.
        {"cut off after a group", head + Group("c", "1", {"x"}) + "<gro", "Document is malformed"},
        {"cut off after the hits", head + "<group><name>c</name><count>1</count><hits><text>x",
         "Document is malformed"},
        {"end tags missing", head + Group("c", "1", {"x"}), "Document is malformed"},
        {"text after the root", Result(Group("c", "1", {"x"})) + "<junk/>",
         "Document is malformed"},
        {"bad character reference", Result(Group("c", "1", {"&#0;"})), "Parse Error: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CDetectFileResult result;
        result.details = {{"old", "old"}};
        EXPECT_EQ(ThrownCode([&] {
                      CDetectFileXMLUtility().ReadDetectFileResult(Document("r.xml", c.document),
                                                                   &result);
                  }),
                  CDetectFileXMLUtility::kReadResultError);
        EXPECT_EQ(Flatten(result), (Details{{"old", "old"}}));
        EXPECT_NE(Log().find(c.logLine), std::string::npos) << Log();
    }
    EXPECT_EQ(ThrownCode([&] {
                  CDetectFileXMLUtility().ReadDetectFileResult(Document("r.xml", Result("")),
                                                               nullptr);
              }),
              1);
    CDetectFileResult result;
    EXPECT_EQ(ThrownCode([&] {
                  CDetectFileXMLUtility().ReadDetectFileResult(dir_.Sub("none.xml"), &result);
              }),
              1);
    EXPECT_NE(Log().find("Detect File Result Read Error["), std::string::npos);
}

// --- the file list ------------------------------------------------------------------------

TEST_F(DetectFileXmlUtilityTest, FileListMatchesGoldenByteForByte) {
    CDetectFileXMLUtility list(Folder());
    ASSERT_EQ(list.OpenFileList("PC01"), 0);
    ASSERT_EQ(
        list.WriteFileData("/home/a/report.docx", "report.docx", "PC01_report_20170401123456.docx",
                           LocalTime(2017, 3, 31, 9, 8, 7)),
        0);
    ASSERT_EQ(list.WriteFileData("/home/a/見積 & <案>.pdf", "見積 & <案>.pdf",
                                 "PC01_見積 & <案>_20170401123457.pdf",
                                 LocalTime(2017, 4, 1, 23, 59, 59)),
              0);
    // Nothing reaches the file before the list is closed.
    EXPECT_EQ(ReadFile(Folder() + "filelist"), "");
    ASSERT_EQ(list.CloseFileList(), 0);
    EXPECT_EQ(list.GetFileListPath(), Folder() + "filelist");
    EXPECT_EQ(ReadFile(Folder() + "filelist"), ReadFile(GoldenPath("filelist")));
    struct stat status {};
    ASSERT_EQ(::stat((Folder() + "filelist").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST_F(DetectFileXmlUtilityTest, FileListWithoutEntriesHasAnEmptyFileElement) {
    ASSERT_TRUE(WriteFile(Folder() + "filelist", std::string(4096, 'x')));
    CDetectFileXMLUtility list(Folder());
    ASSERT_EQ(list.OpenFileList("PC01"), 0);
    ASSERT_EQ(list.CloseFileList(), 0);
    EXPECT_EQ(ReadFile(Folder() + "filelist"), std::string("\xEF\xBB\xBF") + kDeclaration +
                                                   "\n<filelist>\n  <pc>PC01</pc>\n  <file/>\n"
                                                   "</filelist>\n");
}

TEST_F(DetectFileXmlUtilityTest, FileListFailuresNameTheStepAndTheWriterCode) {
    struct Case {
        const char* what;
        std::function<void(CDetectFileXMLUtility&)> call;
        int code;
        std::string logLine;
    };
    const std::time_t when = LocalTime(2017, 4, 1, 0, 0, 0);
    const std::vector<Case> cases = {
        {"empty computer name", [](auto& l) { l.OpenFileList(""); }, 2,
         "Write PC Element Error. code:1["},
        {"empty file name",
         [&](auto& l) {
             l.OpenFileList("PC01");
             l.WriteFileData("/a/b", "", "t", when);
         },
         3, "Write Name Element Error. code:1["},
        {"empty transfer name",
         [&](auto& l) {
             l.OpenFileList("PC01");
             l.WriteFileData("/a/b", "b", "", when);
         },
         3, "Write TransferName Element Error. code:1["},
        {"empty path",
         [&](auto& l) {
             l.OpenFileList("PC01");
             l.WriteFileData("", "b", "t", when);
         },
         3, "Write Path Element Error. code:1["},
        {"data before the list is open", [&](auto& l) { l.WriteFileData("/a/b", "b", "t", when); },
         3, "Write Data Element Error. code:2["},
        {"close before the list is open", [](auto& l) { l.CloseFileList(); }, 4,
         "Write File End Element Error. code:2["},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CDetectFileXMLUtility list(Folder());
        EXPECT_EQ(ThrownCode([&] { c.call(list); }), c.code);
        EXPECT_NE(Log().find(c.logLine), std::string::npos) << Log();
    }

    // The list file cannot be made: a folder stands where it belongs.
    TempDir other;
    ASSERT_EQ(::mkdir((other.Path() + "/filelist").c_str(), 0700), 0);
    EXPECT_EQ(ThrownCode([&] { CDetectFileXMLUtility(other.Path()).OpenFileList("PC01"); }), 2);
    EXPECT_NE(Log().find("Setup Error. code:4["), std::string::npos);
}

TEST_F(DetectFileXmlUtilityTest, FileListNeedsAKnownFolder) {
    // Without a data folder there is no detection folder, and no list is written anywhere else.
    CDetectFileXMLUtility list{std::string()};
    EXPECT_EQ(list.GetFileListPath(), "");
    EXPECT_EQ(ThrownCode([&] { list.OpenFileList("PC01"); }), 2);
    EXPECT_NE(Log().find("Get Folder Path Error."), std::string::npos);
}

TEST_F(DetectFileXmlUtilityTest, DefaultFolderIsInTheDataFolder) {
    testing::ScopedEnv profile("ALLUSERSPROFILE", dir_.Path());
    EXPECT_EQ(CDetectFileXMLUtility().GetFileListPath(),
              dir_.Path() + "/corvane/Tessarine Tool/detectfile/filelist");
}

}  // namespace
}  // namespace tessarine
