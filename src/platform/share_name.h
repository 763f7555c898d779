// How the device share compares and reserves names: it folds letter case as a Windows server
// does, and the share implementations write copies under temporary names of their own.
#pragma once

#include <string>
#include <string_view>

namespace tessarine {

// The name (or path) as the share compares it: letters folded to lower case, ASCII and the
// other alphabets with simple case pairs (Latin, Greek, Cyrillic...); bytes that are not valid
// UTF-8 are kept as they are. Two names with the same folded form are one name on the share.
std::string FoldShareName(std::string_view name);

// True for "~tess<16 hex digits>.tmp" and ".bak": a copy in progress, or an old copy set
// aside while a new one takes its name. Found at the start of a run, such a file is what an
// interrupted earlier copy left behind.
bool IsTemporaryCopyName(std::string_view name);

// The temporary name a copy to `targetName` (a name without folder) is first written under:
// "~tess<16 hex digits>.tmp" whose digits are a hash of the name as the share compares it. A
// program that recorded the target name before the copy can so tell its own interrupted copy
// from another client's copy in progress. (When that name is taken, a copy falls back to a
// random one.)
std::string TemporaryCopyNameFor(std::string_view targetName);

}  // namespace tessarine
