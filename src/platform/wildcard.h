// Windows-style wildcard matching of file names, as used when listing a device folder.
#pragma once

#include <string_view>

namespace tessarine {

// True when `name` matches `pattern`: '*' matches any run of characters (also none), '?'
// exactly one character (a whole UTF-8 sequence), everything else itself with ASCII letters
// compared without regard to case. "" and "*.*" match every name, as on Windows.
bool MatchWildcard(std::string_view pattern, std::string_view name);

}  // namespace tessarine
