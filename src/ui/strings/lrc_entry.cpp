#include "ui/strings/lrc_entry.h"

#include <string_view>

namespace tessarine::ui {
namespace {

char16_t ToUpperAscii(char16_t c) { return c >= u'a' && c <= u'z' ? c - u'a' + u'A' : c; }
char16_t ToLowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c; }

// The text with the access key marked inside it or appended as "(&K)".
std::u16string WithAccessKey(std::u16string_view text, char16_t key, bool neverMarkInside) {
    // A text that marks its own key is taken as it is.
    if (text.find(u'&') != std::u16string_view::npos) return std::u16string(text);
    const char16_t upper = ToUpperAscii(key);
    const char16_t lower = ToLowerAscii(key);
    // An upper-case key in the text wins over an earlier lower-case one.
    const bool upperOnly = text.find(upper) != std::u16string_view::npos;
    std::u16string out;
    out.reserve(text.size() + 4);
    bool placed = false;
    for (const char16_t c : text) {
        if (!placed && !neverMarkInside && (c == upper || (!upperOnly && c == lower))) {
            out += u'&';
            placed = true;
        }
        out += c;
    }
    if (!placed) {
        out += u"(&";
        out += upper;
        out += u')';
    }
    return out;
}

}  // namespace

std::u16string MakeDisplayText(const LrcEntry& entry) {
    std::u16string_view text = entry.text;
    std::u16string_view accelerator;
    if (entry.kind == kLrcKindMenu) {
        const std::size_t tab = text.find(u'\t');
        if (tab != std::u16string_view::npos) {
            accelerator = text.substr(tab);
            text = text.substr(0, tab);
        }
    }
    std::u16string out;
    if ((entry.flags & kLrcFlagAccessKey) != 0 && entry.accessKey != 0) {
        out = WithAccessKey(text, entry.accessKey, (entry.flags & kLrcFlagAppendKey) != 0);
    } else {
        out = text;
    }
    if (entry.flags & kLrcFlagBlank) out += u' ';
    if (entry.flags & kLrcFlagEllipsis) out += u"...";
    if (entry.flags & kLrcFlagColon) out += u':';
    out += accelerator;
    return out;
}

}  // namespace tessarine::ui
