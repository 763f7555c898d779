#include "backup/restore_marks.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>

#include "base/app_log.h"

namespace tessarine {
namespace {

// One path a line: '\' and a line feed in a name are written as "\\" and "\n".
std::string Escape(const std::string& path) {
    std::string line;
    for (const char c : path) {
        if (c == '\\')
            line += "\\\\";
        else if (c == '\n')
            line += "\\n";
        else
            line.push_back(c);
    }
    return line;
}

std::string Unescape(const std::string& line) {
    std::string path;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            path.push_back(line[i + 1] == 'n' ? '\n' : line[i + 1]);
            ++i;
        } else {
            path.push_back(line[i]);
        }
    }
    return path;
}

bool IsAtOrBelow(const std::string& path, const std::string& folder) {
    if (path == folder || folder == "/") return true;
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

}  // namespace

std::string RestoreMarksPath(const std::string& dataFolder, const std::string& title) {
    return dataFolder + title + ".restoring";
}

bool RestoreMarks::Touches(const std::string& path, const std::set<std::string>& marks) {
    for (const std::string& mark : marks)
        if (IsAtOrBelow(path, mark) || IsAtOrBelow(mark, path)) return true;
    return false;
}

std::set<std::string> RestoreMarks::Read() const {
    std::set<std::string> paths;
    if (path_.empty() || access(path_.c_str(), F_OK) != 0) return paths;
    std::ifstream in(path_);
    if (!in) {
        LOG_ERROR("Restore Marks Not Read. Everything Counts As Marked. file:" + path_);
        return {"/"};
    }
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) paths.insert(Unescape(line));
    return paths;
}

bool RestoreMarks::Write(const std::set<std::string>& paths) const {
    if (paths.empty()) {
        if (std::remove(path_.c_str()) != 0 && errno != ENOENT) {
            LOG_ERROR_CODE(errno, "Restore Marks Not Removed. file:" + path_);
            return false;
        }
        return true;
    }
    // Whole or not at all: a new file takes the name.
    const std::string temporary = path_ + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        for (const std::string& path : paths) out << Escape(path) << '\n';
        out.flush();
        if (!out) {
            LOG_ERROR("Restore Marks Not Written. file:" + temporary);
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path_.c_str()) != 0) {
        LOG_ERROR_CODE(errno, "Restore Marks Not Written. file:" + path_);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

bool RestoreMarks::Set(const std::vector<std::string>& paths) const {
    if (path_.empty() || paths.empty()) return true;
    std::set<std::string> marked = Read();
    marked.insert(paths.begin(), paths.end());
    return Write(marked);
}

void RestoreMarks::Clear(const std::vector<std::string>& paths) const {
    if (path_.empty() || paths.empty()) return;
    std::set<std::string> marked = Read();
    std::erase_if(marked, [&](const std::string& mark) {
        for (const std::string& path : paths)
            if (IsAtOrBelow(mark, path)) return true;
        return false;
    });
    Write(marked);
}

}  // namespace tessarine
