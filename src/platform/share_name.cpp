#include "platform/share_name.h"

#include <locale.h>
#include <wctype.h>

#include <cctype>
#include <cstddef>

namespace tessarine {

namespace {

// A UTF-8 locale for towlower_l, made once; the process locale stays as it is.
locale_t FoldLocale() {
    static const locale_t locale = [] {
        locale_t made = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return made;
    }();
    return locale;
}

// Decodes one UTF-8 sequence at `text[i]`; 0 bytes when it is not valid.
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t& code) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    const char32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

void AppendUtf8(char32_t code, std::string& out) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

}  // namespace

std::string FoldShareName(std::string_view name) {
    std::string folded;
    folded.reserve(name.size());
    const locale_t locale = FoldLocale();
    for (std::size_t i = 0; i < name.size();) {
        const auto lead = static_cast<unsigned char>(name[i]);
        if (lead < 0x80) {
            folded.push_back(
                static_cast<char>(lead >= 'A' && lead <= 'Z' ? lead + ('a' - 'A') : lead));
            ++i;
            continue;
        }
        char32_t code = 0;
        const std::size_t length = DecodeUtf8(name, i, code);
        if (length == 0) {
            folded.push_back(name[i]);
            ++i;
            continue;
        }
        if (locale != static_cast<locale_t>(0))
            code = static_cast<char32_t>(towlower_l(static_cast<wint_t>(code), locale));
        AppendUtf8(code, folded);
        i += length;
    }
    return folded;
}

bool IsTemporaryCopyName(std::string_view name) {
    constexpr std::string_view kPrefix = "~tess";
    constexpr std::size_t kDigits = 16;
    if (name.size() != kPrefix.size() + kDigits + 4) return false;
    if (FoldShareName(name.substr(0, kPrefix.size())) != kPrefix) return false;
    for (std::size_t i = kPrefix.size(); i < kPrefix.size() + kDigits; ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
    }
    const std::string suffix = FoldShareName(name.substr(kPrefix.size() + kDigits));
    return suffix == ".tmp" || suffix == ".bak";
}

}  // namespace tessarine
