// How the device share compares and reserves names: it folds letter case as a Windows server
// does, and the share implementations write copies under temporary names of their own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tessarine {

// The name (or path) as the share compares it: letters folded to lower case, ASCII and the
// other alphabets with simple case pairs (Latin, Greek, Cyrillic...); bytes that are not valid
// UTF-8 are kept as they are. Two names with the same folded form are one name on the share.
std::string FoldShareName(std::string_view name);

// True for "~tess<16 hex digits>.tmp" and ".bak", and for "~tess<16 hex digits>~<name>.bak": a
// copy in progress, or an old copy set aside while a new one takes its name. Found at the start
// of a run, such a file is what an interrupted earlier copy left behind.
bool IsTemporaryCopyName(std::string_view name);

// The name an old copy of `finalName` is set aside under while a new copy takes its name:
// "~tess<16 hex digits>~<finalName>.bak" (`random` gives the digits), so that a copy cut off
// between the two renames can be put back; the plain "~tess<16 hex digits>.bak" when that would
// be longer than a name may be.
std::string AsideCopyName(std::string_view finalName, std::uint64_t random);

// The name an old copy set aside under `name` had (see AsideCopyName); empty when `name` does
// not tell it.
std::string FinalNameOfAsideCopy(std::string_view name);

// The temporary name a copy to `targetName` (a name without folder) is first written under:
// "~tess<16 hex digits>.tmp" whose digits are a hash of the name as the share compares it. A
// program that recorded the target name before the copy can so tell its own interrupted copy
// from another client's copy in progress. (When that name is taken, a copy falls back to a
// random one.) A non-empty `sender` is hashed in as well: senders that share a computer name
// (two users of one PC) then never derive the same temporary name for one target, so neither
// takes the other's copy in flight for its own leftover.
std::string TemporaryCopyNameFor(std::string_view targetName, std::string_view sender = {});

}  // namespace tessarine
