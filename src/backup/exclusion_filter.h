// The exclusion patterns of one backup pair, shell-style, separated by ';' in the setting:
//   "*.tmp"          any entry whose name matches, at any depth
//   "node_modules/"  a trailing '/' matches folders only (and so everything below them)
//   "docs/old/*.pdf" a pattern with a '/' inside matches the path below the source folder
// '*' and '?' never match a '/', "[...]" is a class; letter case counts. Excluded entries are
// neither copied nor counted, and their copies on the device are never deleted.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tessarine {

class ExclusionFilter {
public:
    ExclusionFilter() = default;
    // `patterns` as stored: ';'-separated; blanks around each pattern are dropped, and so are
    // empty ones.
    explicit ExclusionFilter(std::string_view patterns);

    bool Empty() const { return patterns_.empty(); }
    // `relativePath`: the entry's path below the source folder ("a/b.txt", no leading '/').
    bool Excludes(std::string_view relativePath, bool isFolder) const;
    // Like Excludes, for an entry whose kind could not be read: excluded as either kind.
    bool ExcludesEitherKind(std::string_view relativePath) const {
        return Excludes(relativePath, true) || Excludes(relativePath, false);
    }
    // True when the entry or any folder above it is excluded (a row of the file list, whose
    // folders were excluded once the pattern was added).
    bool ExcludesPathOrParent(std::string_view relativePath, bool isFolder) const;

    // The patterns of a setting, in order, as the setting page lists them.
    static std::vector<std::string> Split(std::string_view patterns);
    // What is wrong with one pattern for a message, or "" when it can be used.
    static std::string Problem(std::string_view pattern);

private:
    struct Pattern {
        std::string glob;
        bool foldersOnly = false;
        bool anchored = false;  // matched against the whole relative path
    };
    std::vector<Pattern> patterns_;
};

}  // namespace tessarine
