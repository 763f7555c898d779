#include "ui/strings/lrc_entry.h"

#include <gtest/gtest.h>

#include "base/string_utility.h"

namespace tessarine::ui {
namespace {

struct DisplayCase {
    const char* text;
    char16_t key;
    std::uint16_t flags;
    std::uint16_t kind;
    const char* expected;
};

// The access-key and suffix rules, from the examples the format gives to the corners.
TEST(LrcEntryTest, DisplayTextMarksOrAppendsTheAccessKey) {
    constexpr std::uint16_t key = kLrcFlagAccessKey;
    const DisplayCase cases[] = {
        {"Save", u's', key, 0, "&Save"},
        {"Open", u'A', key | kLrcFlagAppendKey, 0, "Open(&A)"},
        {"設定", u'S', key | kLrcFlagEllipsis, 0, "設定(&S)..."},
        {"Save\tCtrl+S", u'S', key | kLrcFlagEllipsis, kLrcKindMenu, "&Save...\tCtrl+S"},
        // Only kind 5 keeps the part after the tab apart.
        {"Save\tCtrl+S", u'S', key | kLrcFlagEllipsis, 0, "&Save\tCtrl+S..."},
        {"Exit", u'x', key, kLrcKindMenu, "E&xit"},
        // An upper-case key in the text wins over an earlier lower-case one.
        {"banana Apple", u'a', key, 0, "banana &Apple"},
        {"banana", u'A', key, 0, "b&anana"},
        // The append flag also stops the lower-case search.
        {"Save", u's', key | kLrcFlagAppendKey, 0, "Save(&S)"},
        {"Open", u'O', key | kLrcFlagAppendKey, 0, "Open(&O)"},
        // A text that marks its own key is left alone, key and all.
        {"&File", u'F', key, 0, "&File"},
        {"Fi&le", u'F', key | kLrcFlagColon, 0, "Fi&le:"},
        // Only the part before the tab counts for an own mark.
        {"Copy\tCtrl+&C", u'C', key, kLrcKindMenu, "&Copy\tCtrl+&C"},
        {"Port", u'x', key, 0, "Port(&X)"},
        {"1.0", u'1', key, 0, "&1.0"},
        // No key: without the flag, or with the flag and key 0.
        {"File", u'F', 0, 0, "File"},
        {"File", 0, key, 0, "File"},
        // Suffixes in the order blank, "...", ":".
        {"Name", u'N', key | kLrcFlagColon | kLrcFlagEllipsis | kLrcFlagBlank, 0, "&Name ...:"},
        {"名前", 0, kLrcFlagBlank | kLrcFlagColon, 0, "名前 :"},
        {"", u'Q', key, kLrcKindMenu, "(&Q)"},
        {"\tF1", u'H', key | kLrcFlagEllipsis, kLrcKindMenu, "(&H)...\tF1"},
    };
    for (const DisplayCase& c : cases) {
        SCOPED_TRACE(c.text);
        LrcEntry entry;
        entry.text = Utf8ToWide(c.text);
        entry.accessKey = c.key;
        entry.flags = c.flags;
        entry.kind = c.kind;
        EXPECT_EQ(WideToUtf8(MakeDisplayText(entry)), c.expected);
    }
}

}  // namespace
}  // namespace tessarine::ui
