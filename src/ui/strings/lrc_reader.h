// Reads and checks a string container (.lrc) and looks its strings up by id. Any rule the file
// breaks rejects the whole container; the reader then holds nothing and callers fall back to
// the built-in texts.
//
// Layout (little-endian): a 152-byte header ("LRCF", the first section's offset 152 at 136, the
// sections' total size at 140, the mask of sections present at 144), then the sections one
// after another (type, header size, data size, …; the string section adds the character set,
// a format number 1 and the entry count), the string section's data being its entries
// (id, kind, flags, extra length, text length, the extra area with the access key, the
// zero-terminated UTF-16 text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "ui/strings/lrc_entry.h"

namespace tessarine::ui {

// Why a container was not taken.
enum class LrcError {
    kNone,
    kMissing,             // the file does not exist
    kUnreadable,          // it exists but cannot be read
    kTooLarge,            // beyond kLrcMaxFileSize
    kTooShort,            // shorter than the 152-byte header
    kBadMagic,            // not "LRCF"
    kBadFirstOffset,      // the first section is not at 152
    kSizeMismatch,        // the sections' total is not the file size minus 152
    kEmptyMask,           // sections present but no bit in the mask
    kBadSectionType,      // a type that is not one bit, not in the mask, or met twice
    kBadSectionHeader,    // a header shorter than 16 (28 for strings), or no data
    kSectionOverrun,      // a section runs past the total
    kSectionCount,        // a section of the mask missing, or more sections than the mask
    kNoDisplayFont,       // no font can show the string section's character set
    kBadStringFormat,     // the string section's format number is not 1
    kNoEntries,           // the string section's entry count is 0
    kBadEntry,            // extra area under 2 bytes, odd or empty text, or no terminator
    kEntryOverrun,        // an entry runs past the section's data
    kEntrySizeMismatch,   // the entries do not fill the data exactly
    kEntryCountMismatch,  // the number of entries is not the count in the header
};
const char* DescribeLrcError(LrcError error);

inline constexpr std::size_t kLrcHeaderSize = 152;
inline constexpr std::uint32_t kLrcStringSection = 1;
// Containers are a few kilobytes of captions; a larger file is refused, not read into memory.
inline constexpr std::size_t kLrcMaxFileSize = 16u << 20;

// Whether a display font exists for a Windows character-set number (128 = Shift JIS, …).
using CharsetFontCheck = std::function<bool(std::uint32_t charset)>;

class CLrcReader {
public:
    explicit CLrcReader(CharsetFontCheck hasFont);

    // Reads and checks the file; on any error the reader holds no container.
    LrcError Load(const std::string& path);
    // Checks a container given as bytes (the file's whole content).
    LrcError Parse(std::string_view bytes);
    void Clear();

    bool IsLoaded() const { return loaded_; }
    std::uint32_t Charset() const { return charset_; }
    std::size_t EntryCount() const { return entries_.size(); }
    // The entry with `id` (the first one when the file repeats an id); null when none.
    const LrcEntry* Find(std::uint32_t id) const;

private:
    LrcError ParseSections(std::string_view bytes, std::uint32_t mask);
    LrcError ParseStrings(std::string_view data, std::uint32_t entryCount);

    CharsetFontCheck hasFont_;
    bool loaded_ = false;
    std::uint32_t charset_ = 0;
    std::unordered_map<std::uint32_t, LrcEntry> entries_;
};

}  // namespace tessarine::ui
