#include <cstdint>

#include "platform/system_info.h"

namespace tessarine {

namespace {

constexpr std::size_t kKeptPrefix = 8;
constexpr std::size_t kHashCharacters = 6;
// Crockford's base 32: digits and upper-case letters without I, L, O and U.
constexpr char kBase32[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";

bool IsUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string ComputerNameOfHost(std::string_view hostName) {
    std::string name(hostName.substr(0, hostName.find('.')));
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (name.size() <= kMaxComputerName) return name;

    // FNV-1a: the same value on every machine and in every version.
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : name) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    // Mixed, so that names differing in one character differ in every character of the hash.
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdull;
    hash ^= hash >> 33;
    hash *= 0xc4ceb9fe1a85ec53ull;
    hash ^= hash >> 33;
    std::size_t keep = kKeptPrefix;
    while (keep > 0 && IsUtf8Continuation(name[keep])) --keep;
    std::string result = name.substr(0, keep) + "-";
    for (std::size_t i = 0; i < kHashCharacters; ++i) {
        result.push_back(kBase32[hash & 31u]);
        hash >>= 5;
    }
    return result;
}

}  // namespace tessarine
