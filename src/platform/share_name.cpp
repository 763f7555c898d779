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

namespace {

constexpr std::string_view kTemporaryPrefix = "~tess";
constexpr std::size_t kTemporaryDigits = 16;
constexpr std::size_t kTemporaryStem = kTemporaryPrefix.size() + kTemporaryDigits;
constexpr std::string_view kAsideSuffix = ".bak";
// The longest name a share takes (255 UTF-16 units, never more than this many bytes).
constexpr std::size_t kLongestName = 255;

// "~tess<16 hex digits>" at the start of `name`.
bool HasTemporaryStem(std::string_view name) {
    if (name.size() < kTemporaryStem) return false;
    if (FoldShareName(name.substr(0, kTemporaryPrefix.size())) != kTemporaryPrefix) return false;
    for (std::size_t i = kTemporaryPrefix.size(); i < kTemporaryStem; ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
    }
    return true;
}

}  // namespace

bool IsTemporaryCopyName(std::string_view name) {
    if (!HasTemporaryStem(name)) return false;
    if (!FinalNameOfAsideCopy(name).empty()) return true;
    if (name.size() != kTemporaryStem + 4) return false;
    const std::string suffix = FoldShareName(name.substr(kTemporaryStem));
    return suffix == ".tmp" || suffix == kAsideSuffix;
}

std::string AsideCopyName(std::string_view finalName, std::uint64_t random) {
    char stem[kTemporaryStem + 1];
    std::snprintf(stem, sizeof stem, "~tess%016" PRIx64, random);
    std::string name = stem;
    if (!finalName.empty() &&
        name.size() + 1 + finalName.size() + kAsideSuffix.size() <= kLongestName) {
        name += '~';
        name += finalName;
    }
    name += kAsideSuffix;
    return name;
}

std::string FinalNameOfAsideCopy(std::string_view name) {
    constexpr std::size_t kShortest = kTemporaryStem + 1 + 1 + kAsideSuffix.size();
    if (name.size() < kShortest || !HasTemporaryStem(name) || name[kTemporaryStem] != '~')
        return {};
    if (FoldShareName(name.substr(name.size() - kAsideSuffix.size())) != kAsideSuffix) return {};
    return std::string(
        name.substr(kTemporaryStem + 1, name.size() - kTemporaryStem - 1 - kAsideSuffix.size()));
}

std::string TemporaryCopyNameFor(std::string_view targetName, std::string_view sender) {
    // 64-bit FNV-1a: stable across builds and processes (the copier processes make the same
    // name as the program that recorded the target).
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    const auto mix = [&hash](std::string_view bytes) {
        for (const char c : bytes) {
            hash ^= static_cast<unsigned char>(c);
            hash *= 0x100000001b3ULL;
        }
    };
    mix(FoldShareName(targetName));
    if (!sender.empty()) {
        // A NUL never occurs in a name: the target and the sender cannot run into each other.
        mix(std::string_view("\0", 1));
        mix(sender);
    }
    char name[32];
    std::snprintf(name, sizeof name, "~tess%016" PRIx64 ".tmp", hash);
    return name;
}

}  // namespace tessarine
