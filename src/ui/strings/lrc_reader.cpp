#include "ui/strings/lrc_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <utility>

#include "base/app_log.h"

namespace tessarine::ui {
namespace {

constexpr std::size_t kSectionHeaderMin = 16;
constexpr std::size_t kStringSectionHeaderMin = 28;
constexpr std::size_t kEntryHeaderSize = 12;
constexpr std::uint32_t kStringFormat = 1;

std::uint32_t U32(std::string_view bytes, std::size_t offset) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + offset);
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

std::uint16_t U16(std::string_view bytes, std::size_t offset) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + offset);
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// The whole file, refusing one beyond the size limit.
LrcError ReadWholeFile(const std::string& path, std::string& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? LrcError::kMissing : LrcError::kUnreadable;
    LrcError result = LrcError::kNone;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        result = LrcError::kUnreadable;
    } else if (static_cast<std::uint64_t>(status.st_size) > kLrcMaxFileSize) {
        result = LrcError::kTooLarge;
    } else {
        bytes.resize(static_cast<std::size_t>(status.st_size));
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        // A file that shrank while being read is checked as it was read.
        bytes.resize(done);
        if (done == 0 && status.st_size != 0) result = LrcError::kUnreadable;
    }
    ::close(fd);
    return result;
}

}  // namespace

const char* DescribeLrcError(LrcError error) {
    switch (error) {
        case LrcError::kNone:
            return "loaded";
        case LrcError::kMissing:
            return "no such file";
        case LrcError::kUnreadable:
            return "cannot be read";
        case LrcError::kTooLarge:
            return "file too large";
        case LrcError::kTooShort:
            return "shorter than its header";
        case LrcError::kBadMagic:
            return "no LRCF mark";
        case LrcError::kBadFirstOffset:
            return "first section not at 152";
        case LrcError::kSizeMismatch:
            return "section size does not match the file size";
        case LrcError::kEmptyMask:
            return "sections without a section mask";
        case LrcError::kBadSectionType:
            return "bad section type";
        case LrcError::kBadSectionHeader:
            return "bad section header";
        case LrcError::kSectionOverrun:
            return "section runs past the end";
        case LrcError::kSectionCount:
            return "sections do not match the section mask";
        case LrcError::kNoDisplayFont:
            return "no display font for the character set";
        case LrcError::kBadStringFormat:
            return "unknown string section format";
        case LrcError::kNoEntries:
            return "string section without entries";
        case LrcError::kBadEntry:
            return "bad string entry";
        case LrcError::kEntryOverrun:
            return "string entry runs past the section";
        case LrcError::kEntrySizeMismatch:
            return "string entries do not fill the section";
        case LrcError::kEntryCountMismatch:
            return "string entry count does not match";
    }
    return "unknown error";
}

CLrcReader::CLrcReader(CharsetFontCheck hasFont) : hasFont_(std::move(hasFont)) {}

void CLrcReader::Clear() {
    loaded_ = false;
    charset_ = 0;
    entries_.clear();
}

const LrcEntry* CLrcReader::Find(std::uint32_t id) const {
    const auto it = entries_.find(id);
    return it == entries_.end() ? nullptr : &it->second;
}

LrcError CLrcReader::Load(const std::string& path) {
    Clear();
    std::string bytes;
    const LrcError readResult = ReadWholeFile(path, bytes);
    if (readResult != LrcError::kNone) return readResult;
    return Parse(bytes);
}

LrcError CLrcReader::Parse(std::string_view bytes) {
    Clear();
    if (bytes.size() < kLrcHeaderSize) return LrcError::kTooShort;
    if (bytes.substr(0, 4) != "LRCF") return LrcError::kBadMagic;
    if (U32(bytes, 136) != kLrcHeaderSize) return LrcError::kBadFirstOffset;
    const std::uint32_t total = U32(bytes, 140);
    if (total != bytes.size() - kLrcHeaderSize) return LrcError::kSizeMismatch;
    const std::uint32_t mask = U32(bytes, 144);
    if (total != 0) {
        if (mask == 0) return LrcError::kEmptyMask;
        const LrcError sections = ParseSections(bytes.substr(kLrcHeaderSize), mask);
        if (sections != LrcError::kNone) {
            Clear();
            return sections;
        }
    }
    loaded_ = true;
    return LrcError::kNone;
}

LrcError CLrcReader::ParseSections(std::string_view sections, std::uint32_t mask) {
    std::uint32_t met = 0;
    std::size_t offset = 0;
    while (met != mask) {
        if (sections.size() - offset < kSectionHeaderMin) {
            return offset == sections.size() ? LrcError::kSectionCount : LrcError::kSectionOverrun;
        }
        const std::uint32_t type = U32(sections, offset);
        const std::uint32_t headerSize = U32(sections, offset + 4);
        const std::uint32_t dataSize = U32(sections, offset + 8);
        if (!std::has_single_bit(type) || (type & mask) == 0 || (type & met) != 0) {
            return LrcError::kBadSectionType;
        }
        const std::size_t headerMin =
            type == kLrcStringSection ? kStringSectionHeaderMin : kSectionHeaderMin;
        if (headerSize < headerMin || dataSize == 0) return LrcError::kBadSectionHeader;
        const std::uint64_t sectionSize = std::uint64_t{headerSize} + dataSize;
        if (sectionSize > sections.size() - offset) return LrcError::kSectionOverrun;
        if (type == kLrcStringSection) {
            const std::uint32_t charset = U32(sections, offset + 16);
            if (U32(sections, offset + 20) != kStringFormat) return LrcError::kBadStringFormat;
            const std::uint32_t entryCount = U32(sections, offset + 24);
            if (entryCount == 0) return LrcError::kNoEntries;
            if (!hasFont_ || !hasFont_(charset)) return LrcError::kNoDisplayFont;
            const LrcError strings =
                ParseStrings(sections.substr(offset + headerSize, dataSize), entryCount);
            if (strings != LrcError::kNone) return strings;
            charset_ = charset;
        }
        met |= type;
        offset += static_cast<std::size_t>(sectionSize);
    }
    // Every section of the mask was met; the sizes must account for the whole total.
    return offset == sections.size() ? LrcError::kNone : LrcError::kSectionCount;
}

LrcError CLrcReader::ParseStrings(std::string_view data, std::uint32_t entryCount) {
    std::size_t offset = 0;
    std::uint32_t count = 0;
    while (offset < data.size()) {
        if (data.size() - offset < kEntryHeaderSize) return LrcError::kEntrySizeMismatch;
        LrcEntry entry;
        entry.id = U32(data, offset);
        entry.kind = U16(data, offset + 4);
        entry.flags = U16(data, offset + 6);
        const std::size_t extraLength = U16(data, offset + 8);
        const std::size_t textLength = U16(data, offset + 10);
        if (extraLength < 2 || textLength == 0 || textLength % 2 != 0) return LrcError::kBadEntry;
        if (kEntryHeaderSize + extraLength + textLength > data.size() - offset) {
            return LrcError::kEntryOverrun;
        }
        const std::size_t extraAt = offset + kEntryHeaderSize;
        entry.accessKey = static_cast<char16_t>(U16(data, extraAt));
        const std::size_t textAt = extraAt + extraLength;
        bool terminated = false;
        for (std::size_t i = 0; i < textLength; i += 2) {
            const char16_t c = static_cast<char16_t>(U16(data, textAt + i));
            if (c == 0) {
                terminated = true;
                break;
            }
            entry.text += c;
        }
        if (!terminated) return LrcError::kBadEntry;
        entries_.try_emplace(entry.id, std::move(entry));
        ++count;
        offset = textAt + textLength;
    }
    return count == entryCount ? LrcError::kNone : LrcError::kEntryCountMismatch;
}

}  // namespace tessarine::ui
