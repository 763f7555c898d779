// Writes string containers (.lrc) for the tests: well-formed by default, with every field that
// a check looks at open to being set wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tessarine::testing {

// Byte offsets of the fields the reader checks, for tests that break one.
inline constexpr std::size_t kLrcMagicAt = 0;
inline constexpr std::size_t kLrcFirstOffsetAt = 136;
inline constexpr std::size_t kLrcTotalAt = 140;
inline constexpr std::size_t kLrcMaskAt = 144;
// Fields of the first section (the string section when the container has strings).
inline constexpr std::size_t kLrcSectionAt = 152;
inline constexpr std::size_t kLrcSectionTypeAt = kLrcSectionAt + 0;
inline constexpr std::size_t kLrcSectionHeaderSizeAt = kLrcSectionAt + 4;
inline constexpr std::size_t kLrcSectionDataSizeAt = kLrcSectionAt + 8;
inline constexpr std::size_t kLrcCharsetAt = kLrcSectionAt + 16;
inline constexpr std::size_t kLrcFormatAt = kLrcSectionAt + 20;
inline constexpr std::size_t kLrcEntryCountAt = kLrcSectionAt + 24;
// The first entry of a string section with the standard 28-byte header.
inline constexpr std::size_t kLrcFirstEntryAt = kLrcSectionAt + 28;

// One entry: LrcString(10002, "Settings").Key(u'S', 1).Kind(5).
struct LrcString {
    LrcString(std::uint32_t id, std::string text) : id(id), text(std::move(text)) {}
    LrcString& Key(char16_t key, std::uint16_t withFlags) {
        accessKey = key;
        flags = withFlags;
        return *this;
    }
    LrcString& Flags(std::uint16_t value) {
        flags = value;
        return *this;
    }
    LrcString& Kind(std::uint16_t value) {
        kind = value;
        return *this;
    }
    LrcString& ExtraLength(std::uint16_t value) {
        extraLength = value;
        return *this;
    }
    LrcString& TextLength(std::uint16_t value) {
        textLength = value;
        return *this;
    }
    LrcString& Unterminated() {
        terminated = false;
        return *this;
    }
    LrcString& AfterTerminator(std::u16string units) {
        afterTerminator = std::move(units);
        return *this;
    }

    std::uint32_t id = 0;
    std::string text;  // UTF-8; written as UTF-16 with a terminator
    char16_t accessKey = 0;
    std::uint16_t flags = 0;
    std::uint16_t kind = 0;
    // Overrides that make the entry malformed: the stored lengths (the bytes written follow
    // them), a text without its terminator, UTF-16 units after the terminator.
    std::optional<std::uint16_t> extraLength;
    std::optional<std::uint16_t> textLength;
    bool terminated = true;
    std::u16string afterTerminator;
};

class LrcBuilder {
public:
    LrcBuilder& Add(LrcString entry);
    LrcBuilder& Charset(std::uint32_t charset);
    // A section of another type after the string section (header of `headerSize` bytes).
    LrcBuilder& AddSection(std::uint32_t type, std::vector<char> data,
                           std::uint32_t headerSize = 16);
    // Bytes inside the string section's data after the last entry.
    LrcBuilder& TrailingEntryBytes(std::size_t count);

    // The container: header, the string section (when there are strings), the other sections.
    std::string Build() const;
    bool WriteTo(const std::string& path) const;

private:
    struct Section {
        std::uint32_t type;
        std::uint32_t headerSize;
        std::vector<char> data;
    };
    std::vector<LrcString> strings_;
    std::vector<Section> sections_;
    std::uint32_t charset_ = 128;
    std::size_t trailing_ = 0;
};

void PutU32(std::string& bytes, std::size_t offset, std::uint32_t value);
void PutU16(std::string& bytes, std::size_t offset, std::uint16_t value);
std::uint32_t GetU32(const std::string& bytes, std::size_t offset);

}  // namespace tessarine::testing
