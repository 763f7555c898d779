#include "platform/share_name.h"

#include <locale.h>
#include <wctype.h>

#include <cctype>
#include <cstddef>

#include "base/string_utility.h"

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
