#include "ui/strings/lrc_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "fakes/lrc_builder.h"
#include "fakes/test_support.h"

namespace tessarine::ui {
namespace {

using testing::GetU32;
using testing::kLrcCharsetAt;
using testing::kLrcEntryCountAt;
using testing::kLrcFirstEntryAt;
using testing::kLrcFirstOffsetAt;
using testing::kLrcFormatAt;
using testing::kLrcMaskAt;
using testing::kLrcSectionAt;
using testing::kLrcSectionDataSizeAt;
using testing::kLrcSectionHeaderSizeAt;
using testing::kLrcSectionTypeAt;
using testing::kLrcTotalAt;
using testing::LrcBuilder;
using testing::LrcString;
using testing::PutU16;
using testing::PutU32;

bool AnyFont(std::uint32_t) { return true; }

// Two good strings; each case breaks one thing in it.
LrcBuilder TwoStrings() {
    LrcBuilder builder;
    builder.Add(LrcString(10002, "Settings").Key(u'S', 1));
    builder.Add(LrcString(1007, "Manual"));
    return builder;
}

// The first entry's 12-byte header fields.
constexpr std::size_t kFirstExtraLengthAt = kLrcFirstEntryAt + 8;
constexpr std::size_t kFirstTextLengthAt = kLrcFirstEntryAt + 10;

struct RejectCase {
    const char* name;
    std::function<std::string()> bytes;
    LrcError expected;
};

std::string Patched32(std::size_t offset, std::uint32_t value) {
    std::string bytes = TwoStrings().Build();
    PutU32(bytes, offset, value);
    return bytes;
}

// Each rule of the format rejects the whole container, for the reason it breaks.
TEST(LrcReaderTest, EveryRuleOfTheFormatRejectsTheContainer) {
    const RejectCase cases[] = {
        {"shorter than the header", [] { return TwoStrings().Build().substr(0, 151); },
         LrcError::kTooShort},
        {"empty file", [] { return std::string(); }, LrcError::kTooShort},
        {"bad magic",
         [] {
             std::string bytes = TwoStrings().Build();
             bytes[3] = 'G';
             return bytes;
         },
         LrcError::kBadMagic},
        {"first section not at 152", [] { return Patched32(kLrcFirstOffsetAt, 156); },
         LrcError::kBadFirstOffset},
        {"total one more than the file",
         [] {
             std::string bytes = TwoStrings().Build();
             PutU32(bytes, kLrcTotalAt, GetU32(bytes, kLrcTotalAt) + 1);
             return bytes;
         },
         LrcError::kSizeMismatch},
        {"a byte appended to the file", [] { return TwoStrings().Build() + '\0'; },
         LrcError::kSizeMismatch},
        {"header only but a total", [] { return TwoStrings().Build().substr(0, 152); },
         LrcError::kSizeMismatch},
        {"sections without a mask", [] { return Patched32(kLrcMaskAt, 0); }, LrcError::kEmptyMask},
        {"mask names a section that is not there", [] { return Patched32(kLrcMaskAt, 1 | 4); },
         LrcError::kSectionCount},
        {"section type with two bits", [] { return Patched32(kLrcSectionTypeAt, 3); },
         LrcError::kBadSectionType},
        {"section type not in the mask",
         [] {
             // Sections 1 and 2 in the file, 1 and 4 in the mask: 2 comes while 4 is awaited.
             std::string bytes = TwoStrings().AddSection(2, {'x', 'y'}).Build();
             PutU32(bytes, kLrcMaskAt, 1 | 4);
             return bytes;
         },
         LrcError::kBadSectionType},
        {"a section beyond those of the mask",
         [] {
             std::string bytes = TwoStrings().AddSection(2, {'x', 'y'}).Build();
             PutU32(bytes, kLrcMaskAt, 1);
             return bytes;
         },
         LrcError::kSectionCount},
        {"section type zero", [] { return Patched32(kLrcSectionTypeAt, 0); },
         LrcError::kBadSectionType},
        {"string section header under 28", [] { return Patched32(kLrcSectionHeaderSizeAt, 27); },
         LrcError::kBadSectionHeader},
        {"string section without data", [] { return Patched32(kLrcSectionDataSizeAt, 0); },
         LrcError::kBadSectionHeader},
        {"section data past the total",
         [] {
             std::string bytes = TwoStrings().Build();
             PutU32(bytes, kLrcSectionDataSizeAt, GetU32(bytes, kLrcSectionDataSizeAt) + 1);
             return bytes;
         },
         LrcError::kSectionOverrun},
        {"section data size near 4 GiB", [] { return Patched32(kLrcSectionDataSizeAt, ~0u); },
         LrcError::kSectionOverrun},
        {"string format not 1", [] { return Patched32(kLrcFormatAt, 2); },
         LrcError::kBadStringFormat},
        {"entry count 0", [] { return Patched32(kLrcEntryCountAt, 0); }, LrcError::kNoEntries},
        {"entry count above the entries", [] { return Patched32(kLrcEntryCountAt, 3); },
         LrcError::kEntryCountMismatch},
        {"entry count below the entries", [] { return Patched32(kLrcEntryCountAt, 1); },
         LrcError::kEntryCountMismatch},
        {"extra area of 1 byte",
         [] { return LrcBuilder().Add(LrcString(1, "a").ExtraLength(1)).Build(); },
         LrcError::kBadEntry},
        {"extra area of 0 bytes",
         [] { return LrcBuilder().Add(LrcString(1, "a").ExtraLength(0)).Build(); },
         LrcError::kBadEntry},
        {"odd text length",
         [] { return LrcBuilder().Add(LrcString(1, "ab").TextLength(5)).Build(); },
         LrcError::kBadEntry},
        {"empty text", [] { return LrcBuilder().Add(LrcString(1, "").TextLength(0)).Build(); },
         LrcError::kBadEntry},
        {"text without terminator",
         [] { return LrcBuilder().Add(LrcString(1, "ab").Unterminated()).Build(); },
         LrcError::kBadEntry},
        {"text length past the section",
         [] {
             std::string bytes = LrcBuilder().Add(LrcString(1, "ab")).Build();
             PutU16(bytes, kFirstTextLengthAt, 8);
             return bytes;
         },
         LrcError::kEntryOverrun},
        {"extra length past the section",
         [] {
             std::string bytes = LrcBuilder().Add(LrcString(1, "ab")).Build();
             PutU16(bytes, kFirstExtraLengthAt, 0xFFFE);
             return bytes;
         },
         LrcError::kEntryOverrun},
        {"bytes after the last entry", [] { return TwoStrings().TrailingEntryBytes(4).Build(); },
         LrcError::kEntrySizeMismatch},
        {"a whole entry header of zeros after the last entry",
         [] { return TwoStrings().TrailingEntryBytes(12).Build(); }, LrcError::kBadEntry},
        {"string section twice",
         [] {
             // A second string section after the first: the same type met again.
             const std::string one = TwoStrings().Build();
             std::string bytes = one + one.substr(kLrcSectionAt);
             PutU32(bytes, kLrcTotalAt, static_cast<std::uint32_t>(bytes.size() - 152));
             return bytes;
         },
         LrcError::kSectionCount},
    };
    for (const RejectCase& c : cases) {
        SCOPED_TRACE(c.name);
        CLrcReader reader(AnyFont);
        const LrcError error = reader.Parse(c.bytes());
        EXPECT_EQ(error, c.expected) << DescribeLrcError(error);
        EXPECT_FALSE(reader.IsLoaded());
        EXPECT_EQ(reader.Find(10002), nullptr);
        EXPECT_EQ(reader.EntryCount(), 0u);
    }
}

struct AcceptCase {
    const char* name;
    std::function<std::string()> bytes;
    std::size_t entries;
};

TEST(LrcReaderTest, WellFormedContainersAreTaken) {
    const AcceptCase cases[] = {
        {"two strings", [] { return TwoStrings().Build(); }, 2},
        {"header only", [] { return LrcBuilder().Build(); }, 0},
        {"header only with a mask",
         [] {
             std::string bytes = LrcBuilder().Build();
             PutU32(bytes, kLrcMaskAt, 1);
             return bytes;
         },
         0},
        {"another section after the strings",
         [] {
             return TwoStrings().AddSection(4, {1, 2, 3}).Build();
         },
         2},
        {"another section with a longer header",
         [] { return TwoStrings().AddSection(8, {1}, 40).Build(); }, 2},
        {"no string section at all",
         [] {
             return LrcBuilder().AddSection(2, {1, 2}).Build();
         },
         0},
        {"extra area longer than the key",
         [] { return LrcBuilder().Add(LrcString(5, "x").Key(u'X', 1).ExtraLength(6)).Build(); }, 1},
        {"units after the terminator",
         [] { return LrcBuilder().Add(LrcString(5, "x").AfterTerminator(u"yz")).Build(); }, 1},
    };
    for (const AcceptCase& c : cases) {
        SCOPED_TRACE(c.name);
        CLrcReader reader(AnyFont);
        EXPECT_EQ(reader.Parse(c.bytes()), LrcError::kNone);
        EXPECT_TRUE(reader.IsLoaded());
        EXPECT_EQ(reader.EntryCount(), c.entries);
    }
}

TEST(LrcReaderTest, EntriesKeepTheirFieldsAndTextUpToTheTerminator) {
    CLrcReader reader(AnyFont);
    ASSERT_EQ(reader.Parse(
                  LrcBuilder()
                      .Add(LrcString(32780, "設定\tCtrl+S").Key(u'S', 0x15).Kind(5).ExtraLength(4))
                      .Add(LrcString(7, "ab").AfterTerminator(u"cd"))
                      .Build()),
              LrcError::kNone);
    const LrcEntry* menu = reader.Find(32780);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->kind, 5);
    EXPECT_EQ(menu->flags, 0x15);
    EXPECT_EQ(menu->accessKey, u'S');
    EXPECT_EQ(menu->text, u"設定\tCtrl+S");
    ASSERT_NE(reader.Find(7), nullptr);
    EXPECT_EQ(reader.Find(7)->text, u"ab");
    EXPECT_EQ(reader.Find(8), nullptr);
}

TEST(LrcReaderTest, ARepeatedIdKeepsItsFirstText) {
    CLrcReader reader(AnyFont);
    ASSERT_EQ(
        reader.Parse(
            LrcBuilder().Add(LrcString(1019, "first")).Add(LrcString(1019, "second")).Build()),
        LrcError::kNone);
    EXPECT_EQ(reader.Find(1019)->text, u"first");
}

// The character set must have a display font; the check sees the section's number.
TEST(LrcReaderTest, ACharsetWithoutDisplayFontRejectsTheContainer) {
    std::uint32_t asked = 0;
    CLrcReader reader([&asked](std::uint32_t charset) {
        asked = charset;
        return charset != 134;
    });
    EXPECT_EQ(reader.Parse(TwoStrings().Charset(134).Build()), LrcError::kNoDisplayFont);
    EXPECT_EQ(asked, 134u);
    EXPECT_FALSE(reader.IsLoaded());
    EXPECT_EQ(reader.Parse(TwoStrings().Charset(128).Build()), LrcError::kNone);
    EXPECT_EQ(reader.Charset(), 128u);
}

// A failed load after a good one leaves nothing of the old container.
TEST(LrcReaderTest, LoadingReplacesOrDropsTheContainerBefore) {
    testing::TempDir dir;
    const std::string path = dir.Sub("TessarineTool.lrc");
    CLrcReader reader(AnyFont);
    ASSERT_TRUE(TwoStrings().WriteTo(path));
    ASSERT_EQ(reader.Load(path), LrcError::kNone);
    ASSERT_NE(reader.Find(1007), nullptr);

    ASSERT_TRUE(testing::WriteFile(path, TwoStrings().Build() + "x"));
    EXPECT_EQ(reader.Load(path), LrcError::kSizeMismatch);
    EXPECT_EQ(reader.Find(1007), nullptr);

    EXPECT_EQ(reader.Load(dir.Sub("missing.lrc")), LrcError::kMissing);
    EXPECT_EQ(reader.Load(dir.Path()), LrcError::kUnreadable);  // a folder
    EXPECT_FALSE(reader.IsLoaded());
}

// Every cut and every flipped bit of a good container is refused or read whole, never read past
// its end (the suite runs under AddressSanitizer); an entry that survives shows a text.
TEST(LrcReaderTest, CutAndFlippedContainersAreRefusedOrReadSafely) {
    const std::string good =
        TwoStrings()
            .Add(LrcString(32780, "Save\tCtrl+S").Key(u'S', kLrcFlagAccessKey | 4).Kind(5))
            .AddSection(4, {1, 2, 3})
            .Build();
    CLrcReader reader(AnyFont);
    int taken = 0;
    for (std::size_t size = 0; size < good.size(); ++size) {
        if (reader.Parse(std::string_view(good).substr(0, size)) == LrcError::kNone) ++taken;
    }
    EXPECT_EQ(taken, 0);  // a cut always breaks the size rule
    for (std::size_t bit = 0; bit < good.size() * 8; ++bit) {
        std::string bytes = good;
        bytes[bit / 8] = static_cast<char>(bytes[bit / 8] ^ (1 << (bit % 8)));
        if (reader.Parse(bytes) != LrcError::kNone) continue;
        for (const std::uint32_t id : {10002u, 1007u, 32780u}) {
            const LrcEntry* entry = reader.Find(id);
            if (entry != nullptr) {
                EXPECT_FALSE(MakeDisplayText(*entry).empty());
            }
        }
    }
}

TEST(LrcReaderTest, AFileBeyondTheSizeLimitIsNotRead) {
    testing::TempDir dir;
    const std::string path = dir.Sub("big.lrc");
    ASSERT_TRUE(testing::WriteFile(path, "LRCF"));
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(kLrcMaxFileSize + 1)), 0);
    CLrcReader reader(AnyFont);
    EXPECT_EQ(reader.Load(path), LrcError::kTooLarge);
}

}  // namespace
}  // namespace tessarine::ui
