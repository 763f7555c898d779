#include "platform/control_request.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tessarine {
namespace {

using State = ControlRequestReader::State;

TEST(ControlRequestReaderTest, CollectsOneLineOfAtMostTheLimit) {
    const std::string longest = "SIGNAL " + std::string(kControlRequestMax - 8, 'n');
    struct Case {
        const char* what;
        std::vector<std::string> pieces;
        State state;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"one piece", {"SIGNAL BackupNow\n"}, State::kComplete, "SIGNAL BackupNow"},
        {"bytes after the newline are dropped",
         {"SIGNAL A\nSIGNAL B\n"},
         State::kComplete,
         "SIGNAL A"},
        {"byte by byte", {"S", "I", "G", "\n"}, State::kComplete, "SIG"},
        {"no newline yet", {"SIGNAL Back"}, State::kNeedMore, "SIGNAL Back"},
        {"longest line, newline included", {longest + "\n"}, State::kComplete, longest},
        {"longest line, newline alone", {longest, "\n"}, State::kComplete, longest},
        {"one byte too long", {longest + "x\n"}, State::kTooLong, ""},
        {"too long in pieces", {longest, "x"}, State::kTooLong, ""},
        {"more after completion is ignored", {"A\n", "B\n"}, State::kComplete, "A"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ControlRequestReader reader;
        for (const std::string& piece : c.pieces) reader.Feed(piece);
        EXPECT_EQ(c.state, reader.GetState());
        if (c.state != State::kTooLong) {
            EXPECT_EQ(c.line, reader.Line());
        }
    }
}

TEST(ControlRequestReaderTest, RequestLinesNameAnEventOrNothing) {
    struct Case {
        std::string line;
        std::optional<std::string> name;
    };
    const std::vector<Case> cases = {
        {"SIGNAL BackupNow", "BackupNow"},
        {"SIGNAL BackupNow\r", "BackupNow"},
        {"SIGNAL Backup Now", "Backup Now"},
        {"SIGNAL ", std::nullopt},
        {"SIGNAL", std::nullopt},
        {"signal BackupNow", std::nullopt},
        {"SIGNAL a\rb", std::nullopt},
        {std::string("SIGNAL a\0b", 10), std::nullopt},
        {"SIGNAL " + std::string(kControlRequestMax - 8, 'n'),
         std::string(kControlRequestMax - 8, 'n')},
        {"SIGNAL " + std::string(kControlRequestMax - 7, 'n'), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(c.name, ParseControlRequest(c.line));
    }
}

TEST(ControlRequestReaderTest, EachVerbParsesOnlyItsOwnLines) {
    EXPECT_EQ("Backup", ParseControlRunRequest("RUN Backup"));
    EXPECT_EQ("Backup", ParseControlRunRequest("RUN Backup\r"));
    EXPECT_EQ(std::nullopt, ParseControlRunRequest("RUN "));
    EXPECT_EQ(std::nullopt, ParseControlRunRequest("run Backup"));
    EXPECT_EQ(std::nullopt, ParseControlRunRequest("SIGNAL Backup"));
    EXPECT_EQ(std::nullopt, ParseControlRequest("RUN Backup"));
    EXPECT_EQ(std::nullopt, ParseControlHoldRequest("RUN Backup"));
    const std::string request = MakeControlRunRequest("Backup");
    EXPECT_EQ("RUN Backup\n", request);
    EXPECT_EQ("Backup", ParseControlRunRequest(std::string_view(request).substr(0, 10)));
}

}  // namespace
}  // namespace tessarine
