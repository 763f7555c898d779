#include "infra/xml_parse.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/app_log.h"
#include "fakes/test_support.h"

namespace tessarine {
namespace {

using Elements = std::vector<std::pair<std::string, std::string>>;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr char kBom[] = "\xEF\xBB\xBF";
constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

// Sends the log to a temporary folder so tests can look at the error lines.
class XmlParseTest : public ::testing::Test {
protected:
    void SetUp() override { CAppLog::Get().InitWith(dir_.Path() + "/", "test", false, 1 << 30); }
    void TearDown() override { CAppLog::Get().Reset(); }
    std::string LogText() const { return ReadFile(dir_.Sub("test.log")); }

    TempDir dir_;
};

// Every element ReadNextElement yields until it fails.
Elements ReadAll(CXMLParse& parse) {
    Elements elements;
    std::string name;
    std::string value;
    while (parse.ReadNextElement(&name, &value)) elements.emplace_back(name, value);
    return elements;
}

// The document as UTF-16LE with a byte-order mark (ASCII input only).
std::string ToUtf16Le(const std::string& ascii) {
    std::string bytes = "\xFF\xFE";
    for (char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

TEST_F(XmlParseTest, ReadsElementsAndTheirFirstText) {
    struct Case {
        const char* label;
        std::string document;
        int skip;  // SkipElements count before reading; 0 for none
        Elements expected;
    };
    const Case cases[] = {
        {"value is the first text, even a child's", "<a><b>x</b></a>", 0, {{"a", "x"}}},
        {"element with end tag and no text is empty",
         "<r><a></a><b>y</b></r>",
         1,
         {{"a", ""}, {"b", "y"}}},
        // Read as the text that follows, it would shift every later field by one.
        {"empty-element tag is empty", "<r><a/><b>y</b></r>", 1, {{"a", ""}, {"b", "y"}}},
        {"comments, instructions, CDATA and whitespace are passed over",
         "<r>\n  <!--c--><?pi x?>\n  <a><!--x--><![CDATA[cd]]>t</a>\n</r>",
         1,
         {{"a", "t"}}},
        {"prefixes are dropped",
         "<p:r xmlns:p=\"urn:x\"><p:a attr=\"1\">v</p:a></p:r>",
         1,
         {{"a", "v"}}},
        {"references are decoded",
         "<r><a>&amp;&lt;&gt;&quot;&apos;&#x3042;&#12354;</a></r>",
         1,
         {{"a", "&<>\"'ああ"}}},
        {"skip of 3 passes three nested wrappers",
         "<w1><w2><w3><c>1</c><d>2</d></w3></w2></w1>",
         3,
         {{"c", "1"}, {"d", "2"}}},
        {"UTF-8 byte-order mark and declaration",
         std::string(kBom) + kDeclaration + "\n<r><a>日本</a></r>",
         1,
         {{"a", "日本"}}},
        {"UTF-16LE detected from its byte-order mark",
         ToUtf16Le("<r><a>w</a><b>v</b></r>"),
         1,
         {{"a", "w"}, {"b", "v"}}},
        {"declared Shift_JIS is converted to UTF-8",
         "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><r><a>\x93\xfa\x96\x7b</a></r>",
         1,
         {{"a", "日本"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CXMLParse parse;
        ASSERT_EQ(parse.SetupReadFromBuffer(c.document), 1);
        if (c.skip > 0) {
            ASSERT_TRUE(parse.SkipElements(c.skip));
        }
        EXPECT_EQ(ReadAll(parse), c.expected);
        // Running out of elements is a read failure at the clean end of the document.
        EXPECT_EQ(parse.GetLastError(), CXMLParse::kErrorRead);
        EXPECT_TRUE(parse.IsEndOfDocument());
    }
    EXPECT_NE(LogText().find("CXMLParse::ReadNextElement Read Error["), std::string::npos);
}

TEST_F(XmlParseTest, SkipElementsFailsWhenTheDocumentEndsFirst) {
    const std::string document = "<r><a>1</a><b>2</b></r>";
    for (int count : {0, -1, 4}) {
        SCOPED_TRACE(count);
        CXMLParse parse;
        ASSERT_EQ(parse.SetupReadFromBuffer(document), 1);
        EXPECT_FALSE(parse.SkipElements(count));
        EXPECT_EQ(parse.GetLastError(), CXMLParse::kErrorRead);
        EXPECT_TRUE(parse.IsEndOfDocument());
        std::string name, value;
        EXPECT_FALSE(parse.ReadNextElement(name, value));
    }
    // Reaching the end while skipping is not worth an error line.
    EXPECT_EQ(LogText().find("SkipElements"), std::string::npos);
}

TEST_F(XmlParseTest, ArgumentAndStateErrorsSetTheirCodes) {
    using Op = std::function<int(CXMLParse&, const TempDir&)>;
    const auto read = [](CXMLParse& p, std::string* n, std::string* v) {
        return p.ReadNextElement(n, v) ? 1 : 0;
    };
    struct Case {
        const char* label;
        Op op;
        int expectedCode;
    };
    const Case cases[] = {
        {"read from empty path", [](CXMLParse& p, auto&) { return p.SetupReadFromFile(""); }, 1},
        {"read from missing file",
         [](CXMLParse& p, const TempDir& d) { return p.SetupReadFromFile(d.Sub("none.xml")); }, 4},
        {"read from a folder",
         [](CXMLParse& p, const TempDir& d) { return p.SetupReadFromFile(d.Path()); }, 4},
        {"read from null buffer",
         [](CXMLParse& p, auto&) { return p.SetupReadFromBuffer(nullptr, 4); }, 1},
        {"read from zero bytes",
         [](CXMLParse& p, auto&) { return p.SetupReadFromBuffer("<a/>", 0); }, 1},
        {"read before set-up",
         [&](CXMLParse& p, auto&) {
             std::string n, v;
             return read(p, &n, &v);
         },
         2},
        {"skip before set-up", [](CXMLParse& p, auto&) { return p.SkipElements(1) ? 1 : 0; }, 2},
        {"read into null output",
         [&](CXMLParse& p, auto&) {
             std::string v;
             p.SetupReadFromBuffer("<a>x</a>");
             return read(p, nullptr, &v);
         },
         1},
        {"write before set-up", [](CXMLParse& p, auto&) { return p.WriteStartElement("a"); }, 2},
        {"end before set-up", [](CXMLParse& p, auto&) { return p.WriteEndElement(); }, 2},
        {"text before set-up", [](CXMLParse& p, auto&) { return p.WriteElementAndText("a", "x"); },
         2},
        {"flush before set-up", [](CXMLParse& p, auto&) { return p.Flush(); }, 2},
        {"write on a reader",
         [](CXMLParse& p, auto&) {
             p.SetupReadFromBuffer("<a/>");
             return p.WriteStartElement("a");
         },
         2},
        {"read on a writer",
         [&](CXMLParse& p, auto&) {
             std::string n, v;
             p.SetupWriteToBuffer();
             return read(p, &n, &v);
         },
         2},
        {"second read set-up",
         [](CXMLParse& p, auto&) {
             p.SetupReadFromBuffer("<a/>");
             return p.SetupReadFromBuffer("<b/>");
         },
         3},
        {"write set-up on a reader",
         [](CXMLParse& p, auto&) {
             p.SetupReadFromBuffer("<a/>");
             return p.SetupWriteToBuffer();
         },
         3},
        {"write to empty path", [](CXMLParse& p, auto&) { return p.SetupWriteToFile(""); }, 1},
        {"write into missing folder",
         [](CXMLParse& p, const TempDir& d) { return p.SetupWriteToFile(d.Sub("no/x.xml")); }, 4},
        {"empty element name",
         [](CXMLParse& p, auto&) {
             p.SetupWriteToBuffer();
             return p.WriteStartElement("");
         },
         1},
        {"empty text",
         [](CXMLParse& p, auto&) {
             p.SetupWriteToBuffer();
             return p.WriteElementAndText("a", "");
         },
         1},
        {"empty name with text",
         [](CXMLParse& p, auto&) {
             p.SetupWriteToBuffer();
             return p.WriteElementAndText("", "x");
         },
         1},
        {"name that is no XML name",
         [](CXMLParse& p, auto&) {
             p.SetupWriteToBuffer();
             return p.WriteStartElement("a><b");
         },
         9},
        {"end without an open element",
         [](CXMLParse& p, auto&) {
             p.SetupWriteToBuffer();
             return p.WriteEndElement();
         },
         11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        CXMLParse parse;
        EXPECT_EQ(parse.GetLastError(), 0);
        EXPECT_EQ(c.op(parse, dir), 0);
        EXPECT_EQ(parse.GetLastError(), c.expectedCode);
    }
    const std::string log = LogText();
    for (const char* line : {"CXMLParse::SetupReadFromFile Parameter Error[",
                             "CXMLParse::ReadNextElement Buffer is NULL[",
                             "CXMLParse::WriteStartElement Object Not Setuped[",
                             "CXMLParse::SetupReadFromBuffer Object Not Released[",
                             "CXMLParse::SetupReadFromFile CreateStreamError[",
                             "CXMLParse::WriteElementAndText Start Element or Text is Empty["}) {
        EXPECT_NE(log.find(line), std::string::npos) << line;
    }
}

TEST_F(XmlParseTest, WritesIndentedUtf8WithByteOrderMarkOnlyOnFlush) {
    CXMLParse parse;
    ASSERT_EQ(parse.SetupWriteToBuffer(), 1);
    ASSERT_EQ(parse.WriteStartElement("log"), 1);
    ASSERT_EQ(parse.WriteElementAndText("debug", "FALSE"), 1);
    EXPECT_EQ(parse.WriteElementAndText("skipped", ""), 0);  // writes nothing
    ASSERT_EQ(parse.WriteStartElement("empty"), 1);
    ASSERT_EQ(parse.WriteEndElement(), 1);
    ASSERT_EQ(parse.WriteElementAndText("max_size", "10"), 1);
    ASSERT_EQ(parse.WriteEndElement(), 1);
    EXPECT_EQ(parse.GetBuffer(), "");
    ASSERT_EQ(parse.Flush(), 1);
    EXPECT_EQ(parse.GetBuffer(), std::string(kBom) + kDeclaration +
                                     "\n<log>\n  <debug>FALSE</debug>\n  <empty/>\n"
                                     "  <max_size>10</max_size>\n</log>\n");
}

TEST_F(XmlParseTest, FileIsTruncatedAtSetupAndWrittenOnlyByFlush) {
    const std::string path = dir_.Sub("out.xml");
    const std::string other = dir_.Sub("other.xml");
    ASSERT_TRUE(WriteFile(path, "previous content that is longer than the new document"));
    {
        CXMLParse parse;
        ASSERT_EQ(parse.SetupWriteToFile(path), 1);
        EXPECT_EQ(ReadFile(path), "");
        ASSERT_EQ(parse.WriteStartElement("r"), 1);
        ASSERT_EQ(parse.WriteElementAndText("a", "1"), 1);
        ASSERT_EQ(parse.WriteEndElement(), 1);
        EXPECT_EQ(ReadFile(path), "");

        // A second set-up is refused and touches neither file.
        EXPECT_EQ(parse.SetupWriteToFile(other), 0);
        EXPECT_EQ(parse.GetLastError(), CXMLParse::kErrorNotReleased);
        EXPECT_NE(access(other.c_str(), F_OK), 0);

        ASSERT_EQ(parse.Flush(), 1);
    }
    EXPECT_EQ(ReadFile(path), std::string(kBom) + kDeclaration + "\n<r>\n  <a>1</a>\n</r>\n");

    // Dropped without Flush: the truncated file stays empty.
    {
        CXMLParse parse;
        ASSERT_EQ(parse.SetupWriteToFile(path), 1);
        ASSERT_EQ(parse.WriteElementAndText("a", "1"), 1);
    }
    EXPECT_EQ(ReadFile(path), "");
}

TEST_F(XmlParseTest, TextRoundTripsThroughEscaping) {
    std::string longText;
    for (int i = 0; i < 3000; ++i) longText += "chunk&<>" + std::to_string(i) + " ";
    const std::vector<std::string> texts = {
        "a&b",
        "x<y>z",
        "\"double\" 'single'",
        "]]>",
        "C:\\日本語\\フォルダ&<",
        "  leading and trailing  ",
        "line1\r\nline2\rline3\n",
        "tab\there",
        longText,  // crosses the parser's input chunks
    };
    const std::string path = dir_.Sub("日本語ファイル.xml");
    {
        CXMLParse parse;
        ASSERT_EQ(parse.SetupWriteToFile(path), 1);
        ASSERT_EQ(parse.WriteStartElement("root"), 1);
        for (const std::string& text : texts) ASSERT_EQ(parse.WriteElementAndText("t", text), 1);
        ASSERT_EQ(parse.WriteEndElement(), 1);
        ASSERT_EQ(parse.Flush(), 1);
    }
    const std::string raw = ReadFile(path);
    EXPECT_NE(raw.find("<t>a&amp;b</t>"), std::string::npos);
    EXPECT_NE(raw.find("<t>x&lt;y&gt;z</t>"), std::string::npos);

    CXMLParse parse;
    ASSERT_EQ(parse.SetupReadFromFile(path), 1);
    ASSERT_TRUE(parse.SkipElements(1));
    const Elements read = ReadAll(parse);
    ASSERT_EQ(read.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(read[i].first, "t");
        EXPECT_EQ(read[i].second, texts[i]) << "text " << i;
    }
    EXPECT_TRUE(parse.IsEndOfDocument());
}

TEST_F(XmlParseTest, TextXmlCannotHoldIsWrittenAsReplacementCharacter) {
    const std::string kReplacement = "\xEF\xBF\xBD";
    struct Case {
        const char* label;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"invalid byte",
         "bad\xFF"
         "byte",
         "bad" + kReplacement + "byte"},
        {"control character",
         "ctl\x01"
         "char",
         "ctl" + kReplacement + "char"},
        {"NUL", std::string("nul\0in", 6), "nul" + kReplacement + "in"},
        {"cut sequence at the end", "cut\xE3\x81", "cut" + kReplacement + kReplacement},
        {"overlong form of '/'",
         "a\xC0\xAF"
         "b",
         "a" + kReplacement + kReplacement + "b"},
        {"surrogate", "s\xED\xA0\x80", "s" + kReplacement + kReplacement + kReplacement},
        {"U+FFFE", "n\xEF\xBF\xBE", "n" + kReplacement + kReplacement + kReplacement},
        {"valid four-byte character", "emoji\xF0\x9F\x98\x80", "emoji\xF0\x9F\x98\x80"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CXMLParse writer;
        ASSERT_EQ(writer.SetupWriteToBuffer(), 1);
        ASSERT_EQ(writer.WriteStartElement("r"), 1);
        ASSERT_EQ(writer.WriteElementAndText("t", c.text), 1);
        ASSERT_EQ(writer.WriteEndElement(), 1);
        ASSERT_EQ(writer.Flush(), 1);

        CXMLParse reader;
        ASSERT_EQ(reader.SetupReadFromBuffer(writer.GetBuffer()), 1);
        ASSERT_TRUE(reader.SkipElements(1));
        EXPECT_EQ(ReadAll(reader), (Elements{{"t", c.expected}}));
        EXPECT_TRUE(reader.IsEndOfDocument());
    }
}

// Resident memory of the process in bytes.
long ResidentBytes() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

TEST_F(XmlParseTest, HostileDocumentsAreNeitherExpandedNorFetched) {
    std::string laughs = "<!DOCTYPE r [<!ENTITY l0 \"lol\">";
    for (int i = 1; i <= 10; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) laughs += "&l" + std::to_string(i - 1) + ";";
        laughs += "\">";
    }
    laughs += "]><r><a>&l10;</a></r>";
    std::string quadratic =
        "<!DOCTYPE r [<!ENTITY big \"" + std::string(100000, 'x') + "\">]><r><a>";
    for (int i = 0; i < 20000; ++i) quadratic += "&big;";
    quadratic += "</a></r>";

    struct Case {
        const char* label;
        std::string document;
    };
    const Case cases[] = {
        {"billion laughs", laughs},
        {"quadratic blow-up", quadratic},
        {"external file entity",
         "<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><r><a>&x;</a></r>"},
        {"external network entity",
         "<!DOCTYPE r [<!ENTITY x SYSTEM \"http://127.0.0.1:9/x\">]><r><a>&x;</a></r>"},
        {"external parameter entity",
         "<!DOCTYPE r [<!ENTITY % p SYSTEM \"file:///etc/passwd\"> %p;]><r><a>v</a></r>"},
        {"external DTD", "<!DOCTYPE r SYSTEM \"http://127.0.0.1:9/r.dtd\"><r><a>&x;</a></r>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const long residentBefore = ResidentBytes();
        const auto started = std::chrono::steady_clock::now();
        CXMLParse parse;
        ASSERT_EQ(parse.SetupReadFromBuffer(c.document), 1);
        std::string values;
        if (parse.SkipElements(1)) {
            for (const auto& [name, value] : ReadAll(parse)) values += value;
        }
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        EXPECT_LT(ResidentBytes() - residentBefore, 64L << 20);
        EXPECT_LT(values.size(), 16u) << values.substr(0, 64);
        EXPECT_EQ(values.find("root:"), std::string::npos);
        EXPECT_EQ(parse.GetLastError(), CXMLParse::kErrorRead);
    }
}

TEST_F(XmlParseTest, MalformedInputEndsWithReadErrorAndALogLine) {
    const std::string cases[] = {
        "<a><b>x</a>",
        "<a><b>x</b>",
        "<a>",
        "not xml",
        "<a/><b/>",
        "<a>&undefined;</a>",
        std::string("\0\x01\x02\xFF\xFE", 5),
        "<?xml version=\"1.0\" encoding=\"no-such-encoding\"?><a>x</a>",
        "<r><a>1</a><b",
    };
    for (const std::string& document : cases) {
        SCOPED_TRACE(document);
        CXMLParse reader;
        ASSERT_EQ(reader.SetupReadFromBuffer(document), 1);
        ReadAll(reader);
        EXPECT_EQ(reader.GetLastError(), CXMLParse::kErrorRead);
        EXPECT_FALSE(reader.IsEndOfDocument());

        CXMLParse skipper;
        ASSERT_EQ(skipper.SetupReadFromBuffer(document), 1);
        EXPECT_FALSE(skipper.SkipElements(0));
        EXPECT_EQ(skipper.GetLastError(), CXMLParse::kErrorRead);
        EXPECT_FALSE(skipper.IsEndOfDocument());
    }
    EXPECT_NE(LogText().find("CXMLParse::ReadNode Parse Error: "), std::string::npos);
}

TEST_F(XmlParseTest, EveryTruncationOfADocumentIsReportedAsBroken) {
    const std::string document = std::string(kBom) + kDeclaration +
                                 "\n<backupresult>\n  <execute_count>2</execute_count>\n"
                                 "  <data>\n    <path>/home/a/日本&amp;</path>\n  </data>\n"
                                 "</backupresult>\n";
    // The whole document ends at the last '>'; only the trailing newline may be cut.
    const std::size_t complete = document.rfind('>') + 1;
    for (std::size_t length = 1; length < document.size(); ++length) {
        SCOPED_TRACE(length);
        CXMLParse parse;
        ASSERT_EQ(parse.SetupReadFromBuffer(document.data(), static_cast<std::uint32_t>(length)),
                  1);
        EXPECT_FALSE(parse.SkipElements(0));
        EXPECT_EQ(parse.IsEndOfDocument(), length >= complete);
    }
}

TEST_F(XmlParseTest, DocumentsAboveTheSizeCapAreRefused) {
    const std::string over(CXMLParse::kMaxDocumentSize + 1, ' ');
    CXMLParse fromBuffer;
    EXPECT_EQ(fromBuffer.SetupReadFromBuffer(over), 0);
    EXPECT_EQ(fromBuffer.GetLastError(), CXMLParse::kErrorRead);

    const std::string bigFile = dir_.Sub("big.xml");
    ASSERT_TRUE(WriteFile(bigFile, "<r/>"));
    ASSERT_EQ(truncate(bigFile.c_str(), CXMLParse::kMaxDocumentSize + 1), 0);
    CXMLParse fromFile;
    EXPECT_EQ(fromFile.SetupReadFromFile(bigFile), 0);
    EXPECT_EQ(fromFile.GetLastError(), CXMLParse::kErrorRead);
    EXPECT_NE(LogText().find("CXMLParse::SetupReadFromFile Read Error["), std::string::npos);

    // Exactly at the cap is still read.
    std::string atCap = "<r>";
    const std::string item = "<p>0123456789012345678901234567890123456789</p>\n";
    while (atCap.size() + item.size() + 4 <= CXMLParse::kMaxDocumentSize) atCap += item;
    atCap += std::string(CXMLParse::kMaxDocumentSize - atCap.size() - 4, ' ') + "</r>";
    ASSERT_EQ(atCap.size(), CXMLParse::kMaxDocumentSize);
    ASSERT_TRUE(WriteFile(bigFile, atCap));
    CXMLParse atLimit;
    ASSERT_EQ(atLimit.SetupReadFromFile(bigFile), 1);
    EXPECT_FALSE(atLimit.SkipElements(0));
    EXPECT_TRUE(atLimit.IsEndOfDocument());

    // The parser's own limits stay on: one text node above 10 MB is refused.
    const std::string hugeText = "<r>" + std::string(10'000'001, 'x') + "</r>";
    CXMLParse hugeNode;
    ASSERT_EQ(hugeNode.SetupReadFromBuffer(hugeText), 1);
    EXPECT_FALSE(hugeNode.SkipElements(0));
    EXPECT_FALSE(hugeNode.IsEndOfDocument());
}

TEST_F(XmlParseTest, MemoryDocumentRoundTripsAndReleasedObjectIsReusable) {
    // A subclass may drop what it holds and start over (as the result-file writer does).
    class Reusable : public CXMLParse {
    public:
        using CXMLParse::Release;
    };
    Reusable parse;
    ASSERT_EQ(parse.SetupWriteToBuffer(), 1);
    ASSERT_EQ(parse.WriteStartElement("SERVERREQUEST"), 1);
    ASSERT_EQ(parse.WriteElementAndText("IP4ADRS", "192.168.1.10"), 1);
    ASSERT_EQ(parse.WriteEndElement(), 1);
    ASSERT_EQ(parse.Flush(), 1);
    const std::string bytes = parse.GetBuffer();

    EXPECT_EQ(parse.SetupReadFromBuffer(bytes), 0);  // still set up for writing
    parse.Release();
    EXPECT_EQ(parse.GetBuffer(), "");
    ASSERT_EQ(parse.SetupReadFromBuffer(bytes), 1);
    EXPECT_EQ(ReadAll(parse), (Elements{{"SERVERREQUEST", "192.168.1.10"}}));
    EXPECT_EQ(parse.GetLastError(), CXMLParse::kErrorRead);
}

}  // namespace
}  // namespace tessarine
