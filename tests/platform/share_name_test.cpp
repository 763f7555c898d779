#include "platform/share_name.h"

#include <gtest/gtest.h>

namespace tessarine {
namespace {

TEST(ShareNameTest, FoldsCaseAsTheDeviceComparesNames) {
    struct Case {
        const char* name;
        const char* folded;
    } const cases[] = {
        {"Readme.TXT", "readme.txt"},
        {"/home/U/Photos/IMG_01.JPG", "/home/u/photos/img_01.jpg"},
        {"ÄRGER.txt", "ärger.txt"},      // Latin-1 letters
        {"ΣΟΦΙΑ", "σοφια"},              // Greek
        {"Документ", "документ"},        // Cyrillic
        {"報告書.docx", "報告書.docx"},  // no case
        {"caf\xe9.txt", "caf\xe9.txt"},  // not UTF-8: kept byte for byte
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.folded, FoldShareName(c.name)) << c.name;
}

TEST(ShareNameTest, RecognisesOnlyTheNamesOfItsOwnTemporaryCopies) {
    struct Case {
        const char* name;
        bool temporary;
    } const cases[] = {
        {"~tess0123456789abcdef.tmp", true},
        {"~tess0123456789ABCDEF.TMP", true},  // as a server may show it
        {"~tessfedcba9876543210.bak", true},
        {"~tess0123456789abcde.tmp", false},   // one digit short
        {"~tess0123456789abcdeg.tmp", false},  // not hexadecimal
        {"~tess0123456789abcdef.txt", false},
        {"~tess-not-ours.tmp", false},
        {"tess0123456789abcdef.tmp", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.temporary, IsTemporaryCopyName(c.name)) << c.name;
}

TEST(ShareNameTest, TemporaryNameOfATargetIsFixedAndFoldsCase) {
    const std::string name = TemporaryCopyNameFor("PC01_report_20170401123456.docx");
    EXPECT_TRUE(IsTemporaryCopyName(name)) << name;
    EXPECT_EQ(name, TemporaryCopyNameFor("pc01_REPORT_20170401123456.DOCX"));
    EXPECT_NE(name, TemporaryCopyNameFor("PC02_report_20170401123456.docx"));
    EXPECT_NE(name, TemporaryCopyNameFor("PC01_report_20170401123457.docx"));
}

}  // namespace
}  // namespace tessarine
