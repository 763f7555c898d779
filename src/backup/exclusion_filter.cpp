#include "backup/exclusion_filter.h"

#include <fnmatch.h>

namespace tessarine {
namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool Matches(const std::string& glob, std::string_view text) {
    return ::fnmatch(glob.c_str(), std::string(text).c_str(), FNM_PATHNAME) == 0;
}

}  // namespace

std::vector<std::string> ExclusionFilter::Split(std::string_view patterns) {
    std::vector<std::string> parts;
    while (!patterns.empty()) {
        const std::size_t end = patterns.find(';');
        const std::string_view part = Trim(patterns.substr(0, end));
        if (!part.empty()) parts.emplace_back(part);
        if (end == std::string_view::npos) break;
        patterns.remove_prefix(end + 1);
    }
    return parts;
}

std::string ExclusionFilter::Problem(std::string_view pattern) {
    pattern = Trim(pattern);
    if (pattern.empty()) return "is empty";
    if (pattern.find(';') != std::string_view::npos) return "contains ';'";
    std::string_view body = pattern;
    while (!body.empty() && body.front() == '/') body.remove_prefix(1);
    while (!body.empty() && body.back() == '/') body.remove_suffix(1);
    if (body.empty()) return "matches the whole source folder";
    return "";
}

ExclusionFilter::ExclusionFilter(std::string_view patterns) {
    for (std::string& text : Split(patterns)) {
        if (!Problem(text).empty()) continue;
        Pattern pattern;
        while (text.back() == '/') {
            pattern.foldersOnly = true;
            text.pop_back();
        }
        std::size_t start = 0;
        while (text[start] == '/') {
            pattern.anchored = true;
            ++start;
        }
        pattern.glob = text.substr(start);
        if (pattern.glob.find('/') != std::string::npos) pattern.anchored = true;
        patterns_.push_back(std::move(pattern));
    }
}

bool ExclusionFilter::Excludes(std::string_view relativePath, bool isFolder) const {
    const std::size_t slash = relativePath.rfind('/');
    const std::string_view name =
        slash == std::string_view::npos ? relativePath : relativePath.substr(slash + 1);
    for (const Pattern& pattern : patterns_) {
        if (pattern.foldersOnly && !isFolder) continue;
        if (Matches(pattern.glob, pattern.anchored ? relativePath : name)) return true;
    }
    return false;
}

bool ExclusionFilter::ExcludesPathOrParent(std::string_view relativePath, bool isFolder) const {
    if (patterns_.empty()) return false;
    for (std::size_t slash = relativePath.find('/'); slash != std::string_view::npos;
         slash = relativePath.find('/', slash + 1)) {
        if (Excludes(relativePath.substr(0, slash), true)) return true;
    }
    return Excludes(relativePath, isFolder);
}

}  // namespace tessarine
