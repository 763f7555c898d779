#include "platform/share_name.h"

#include <locale.h>
#include <wctype.h>

#include <cctype>
#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstdio>

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

std::string TemporaryCopyNameFor(std::string_view targetName) {
    // 64-bit FNV-1a: stable across builds and processes (the copier processes make the same
    // name as the program that recorded the target).
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : FoldShareName(targetName)) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    char name[32];
    std::snprintf(name, sizeof name, "~tess%016" PRIx64 ".tmp", hash);
    return name;
}

}  // namespace tessarine
