// The program's own string table: the messages and shared texts with ids 10000-10089 that
// a string container may override.
#pragma once

#include <span>

namespace tessarine::ui {

struct StringTableEntry {
    unsigned id;
    const char* text;  // UTF-8
};

// The whole table in id order (ids 10001, 10006 and 10018 are not in it).
std::span<const StringTableEntry> StringTable();
// The table's text of `id`; null when the table has none.
const char* FindStringTableText(unsigned id);

}  // namespace tessarine::ui
