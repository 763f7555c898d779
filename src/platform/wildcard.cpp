#include "platform/wildcard.h"

#include <cstdint>
#include <vector>

namespace tessarine {

namespace {

// Splits UTF-8 text into characters (a malformed byte counts as one character), with ASCII
// letters folded to lower case.
std::vector<std::uint32_t> FoldedCharacters(std::string_view text) {
    std::vector<std::uint32_t> chars;
    chars.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = 1;
        if (lead >= 0xf0 && lead < 0xf8)
            length = 4;
        else if (lead >= 0xe0)
            length = lead < 0xf0 ? 3 : 1;
        else if (lead >= 0xc0)
            length = 2;
        bool wellFormed = i + length <= text.size();
        for (size_t k = 1; wellFormed && k < length; ++k)
            wellFormed = (static_cast<unsigned char>(text[i + k]) & 0xc0) == 0x80;
        if (!wellFormed) length = 1;
        std::uint32_t value = lead;
        if (length > 1) {
            value = lead & (0x7f >> length);
            for (size_t k = 1; k < length; ++k)
                value = (value << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3f);
        } else if (lead >= 'A' && lead <= 'Z') {
            value = lead - 'A' + 'a';
        } else if (lead >= 0x80) {
            value = 0x110000 + lead;  // a stray byte: never equal to a real character
        }
        chars.push_back(value);
        i += length;
    }
    return chars;
}

}  // namespace

bool MatchWildcard(std::string_view pattern, std::string_view name) {
    if (pattern.empty() || pattern == "*" || pattern == "*.*") return true;
    const auto p = FoldedCharacters(pattern);
    const auto n = FoldedCharacters(name);
    // Greedy matching with one back-track point at the last '*': linear for usual patterns.
    size_t pi = 0, ni = 0;
    size_t starPos = p.size(), starMatch = 0;
    while (ni < n.size()) {
        if (pi < p.size() && p[pi] == '*') {
            starPos = pi++;
            starMatch = ni;
        } else if (pi < p.size() && (p[pi] == '?' || p[pi] == n[ni])) {
            ++pi;
            ++ni;
        } else if (starPos != p.size()) {
            pi = starPos + 1;
            ni = ++starMatch;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

}  // namespace tessarine
