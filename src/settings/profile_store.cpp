#include "settings/profile_store.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string_view>
#include <utility>

#include "base/app_log.h"
#include "base/string_utility.h"

namespace tessarine {

namespace {

// A settings file is a few kilobytes; anything far bigger is not ours and is never rewritten.
constexpr std::int64_t kMaxFileSize = 16 * 1024 * 1024;
constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
constexpr char kBlanks[] = " \t\r\v\f";

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Names compare case-insensitively in ASCII; other UTF-8 bytes must match exactly.
bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

std::size_t CharacterCount(std::string_view text) {
    std::size_t chars = 0;
    for (char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++chars;
    }
    return chars;
}

// The private-profile quoting rule: a stored value in double quotes is read without one
// matching pair of them.
std::string_view Unquoted(std::string_view stored) {
    if (stored.size() >= 2 && stored.front() == '"' && stored.back() == '"')
        return stored.substr(1, stored.size() - 2);
    return stored;
}

// The stored form of a value: quoted when reading it bare would change it (blanks at either
// end are trimmed, a pair of outer quotes is dropped).
std::string Quoted(const std::string& value) {
    const bool needsQuotes =
        !value.empty() &&
        (std::string_view(kBlanks).find(value.front()) != std::string_view::npos ||
         std::string_view(kBlanks).find(value.back()) != std::string_view::npos ||
         Unquoted(value).size() != value.size());
    if (!needsQuotes) return value;
    std::string quoted(1, '"');
    quoted.append(value);
    quoted.push_back('"');
    return quoted;
}

// A short, single-line form of a value for log lines.
std::string Shown(std::string_view value) {
    constexpr std::size_t kShown = 64;
    // Built by appending: "literal" + std::string trips a false -Wrestrict of g++ 12 at -O2.
    std::string shown(1, '"');
    shown.append(value.substr(0, kShown));
    shown.append(value.size() > kShown ? "...\"" : "\"");
    return shown;
}

enum class LineKind { kOther, kSection, kKey };

struct ParsedLine {
    LineKind kind = LineKind::kOther;
    std::string_view name;   // section or key name, trimmed
    std::string_view value;  // key value as stored, trimmed (quotes kept)
};

// Section header "[name]", key line "name=value"; comments (';'), blank lines, lines without
// '=' and lines with an empty key are other lines.
ParsedLine Classify(std::string_view text) {
    ParsedLine parsed;
    const std::string_view line = Trim(text);
    if (line.empty() || line.front() == ';') return parsed;
    if (line.front() == '[') {
        const auto close = line.find(']');
        if (close == std::string_view::npos) return parsed;
        parsed.kind = LineKind::kSection;
        parsed.name = Trim(line.substr(1, close - 1));
        return parsed;
    }
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) return parsed;
    parsed.name = Trim(line.substr(0, equals));
    if (parsed.name.empty()) return parsed;
    parsed.kind = LineKind::kKey;
    parsed.value = Trim(line.substr(equals + 1));
    return parsed;
}

bool WriteAll(int fd, const std::string& content) {
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t written = write(fd, content.data() + done, content.size() - done);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

// The file as lines, each kept with its own line end, so that lines nobody writes are stored
// back byte for byte.
class CProfileStore::Document {
public:
    void Parse(std::string_view content) {
        if (content.starts_with(kUtf8Bom)) {
            bom_ = kUtf8Bom;
            content.remove_prefix(bom_.size());
        }
        // CR LF, LF and a lone CR all end a line.
        while (!content.empty()) {
            const auto end = content.find_first_of("\r\n");
            if (end == std::string_view::npos) {
                lines_.push_back({std::string(content), ""});
                break;
            }
            std::size_t eolLength = 1;
            if (content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n')
                eolLength = 2;
            std::string eol(content.substr(end, eolLength));
            if (fileEol_.empty()) fileEol_ = eol;
            lines_.push_back({std::string(content.substr(0, end)), std::move(eol)});
            content.remove_prefix(end + eolLength);
        }
    }

    std::string Serialize() const {
        std::string content = bom_;
        for (const auto& line : lines_) content += line.text + line.eol;
        return content;
    }

    // Only the first section of the name counts, as with the private-profile functions.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const {
        const auto header = FindSection(section);
        if (!header) return std::nullopt;
        for (std::size_t i = *header + 1; i < lines_.size(); ++i) {
            const ParsedLine parsed = Classify(lines_[i].text);
            if (parsed.kind == LineKind::kSection) break;
            if (parsed.kind == LineKind::kKey && EqualsNoCase(parsed.name, key)) {
                return std::string(Unquoted(parsed.value));
            }
        }
        return std::nullopt;
    }

    // True when the content changed.
    bool Set(const std::string& section, const std::string& key, const std::string& value) {
        const auto header = FindSection(section);
        if (!header) {
            TerminateLastLine();
            lines_.push_back({"[" + section + "]", NewLineEnd()});
            lines_.push_back({key + "=" + Quoted(value), NewLineEnd()});
            return true;
        }
        std::size_t lastFilled = *header;
        for (std::size_t i = *header + 1; i < lines_.size(); ++i) {
            const ParsedLine parsed = Classify(lines_[i].text);
            if (parsed.kind == LineKind::kSection) break;
            if (parsed.kind == LineKind::kKey && EqualsNoCase(parsed.name, key)) {
                if (Unquoted(parsed.value) == value) return false;
                // The key keeps its spelling in the file; only the value changes.
                lines_[i].text = std::string(parsed.name) + "=" + Quoted(value);
                return true;
            }
            if (!Trim(lines_[i].text).empty()) lastFilled = i;
        }
        // New keys go after the section's last non-blank line, so a blank line that
        // separates it from the next section stays where it is.
        if (lines_[lastFilled].eol.empty()) lines_[lastFilled].eol = NewLineEnd();
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastFilled + 1),
                      {key + "=" + Quoted(value), NewLineEnd()});
        return true;
    }

private:
    struct Line {
        std::string text;
        std::string eol;  // "\n", "\r\n", "\r", or "" for a last line without a line end
    };

    std::optional<std::size_t> FindSection(std::string_view section) const {
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            const ParsedLine parsed = Classify(lines_[i].text);
            if (parsed.kind == LineKind::kSection && EqualsNoCase(parsed.name, section)) return i;
        }
        return std::nullopt;
    }

    void TerminateLastLine() {
        if (!lines_.empty() && lines_.back().eol.empty()) lines_.back().eol = NewLineEnd();
    }

    // The file's own line end for new lines; "\n" for a new file.
    std::string NewLineEnd() const { return fileEol_.empty() ? "\n" : fileEol_; }

    std::string bom_;
    std::vector<Line> lines_;
    std::string fileEol_;  // the line end of the file's first line
};

CProfileStore::CProfileStore(std::string filePath) : filePath_(std::move(filePath)) {}

std::string CProfileStore::GetString(const std::string& section, const std::string& key,
                                     const std::string& defaultValue) const {
    auto value = Lookup(section, key);
    if (!value) return defaultValue;
    return *value;
}

int CProfileStore::GetInt(const std::string& section, const std::string& key,
                          int defaultValue) const {
    const auto value = Lookup(section, key);
    if (!value || value->empty()) return defaultValue;

    std::string_view text = *value;
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::int64_t magnitude = 0;
    std::size_t digits = 0;
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT_MIN) : INT_MAX;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        magnitude = magnitude * 10 + (text[digits] - '0');
        if (magnitude > limit) {
            LOG_NOTICE("[" + section + "] " + key + "=" + Shown(*value) +
                       " is out of range; the default " + IntToString(defaultValue) + " is used");
            return defaultValue;
        }
        ++digits;
    }
    if (digits == 0) {
        LOG_NOTICE("[" + section + "] " + key + "=" + Shown(*value) +
                   " is not a number; read as 0");
        return 0;
    }
    if (digits < text.size()) {
        LOG_NOTICE("[" + section + "] " + key + "=" + Shown(*value) +
                   " has text after its number; the text is ignored");
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

bool CProfileStore::HasKey(const std::string& section, const std::string& key) const {
    return Lookup(section, key).has_value();
}

bool CProfileStore::WriteString(const std::string& section, const std::string& key,
                                const std::string& value) {
    const std::string sectionName(Trim(section));
    const std::string keyName(Trim(key));
    const char* problem = nullptr;
    if (sectionName.empty() || keyName.empty()) {
        problem = "an empty section or key name";
    } else if (sectionName.find_first_of("]\r\n") != std::string::npos) {
        problem = "a section name with ']' or a line break";
    } else if (keyName.find_first_of("=\r\n") != std::string::npos || keyName.front() == '[' ||
               keyName.front() == ';') {
        problem = "a key name with '=', a line break or a leading '[' or ';'";
    } else if (value.find_first_of("\r\n") != std::string::npos) {
        // A line break would end the line and let the rest of the value pose as other keys.
        problem = "a value with a line break";
    } else if (CharacterCount(value) > kMaxValueLength) {
        // It could not be read back whole.
        problem = "a value longer than 4095 characters";
    }

    std::lock_guard lock(mutex_);
    const auto batch = batches_.find(std::this_thread::get_id());
    if (problem != nullptr) {
        errno = EINVAL;
        LOG_ERROR("[" + sectionName + "] " + keyName + " not written: " + problem);
        if (batch != batches_.end()) batch->second.failed = true;
        return false;
    }
    if (batch != batches_.end()) {
        batch->second.edits.push_back({sectionName, keyName, value});
        return true;
    }
    return ApplyEdits({{sectionName, keyName, value}});
}

bool CProfileStore::WriteInt(const std::string& section, const std::string& key, int value) {
    return WriteString(section, key, IntToString(value));
}

void CProfileStore::BeginBatch() {
    std::lock_guard lock(mutex_);
    ++batches_[std::this_thread::get_id()].depth;
}

bool CProfileStore::CommitBatch() {
    std::lock_guard lock(mutex_);
    const auto found = batches_.find(std::this_thread::get_id());
    if (found == batches_.end()) {
        errno = EINVAL;
        LOG_ERROR("No batch is open on this thread");
        return false;
    }
    if (--found->second.depth > 0) return !found->second.failed;
    Batch batch = std::move(found->second);
    batches_.erase(found);
    if (batch.failed) {
        errno = EINVAL;
        LOG_ERROR("Batch of " + IntToString(static_cast<int>(batch.edits.size())) +
                  " writes dropped: one of them could not be stored");
        return false;
    }
    return ApplyEdits(batch.edits);
}

void CProfileStore::AbortBatch() {
    std::lock_guard lock(mutex_);
    const auto found = batches_.find(std::this_thread::get_id());
    if (found == batches_.end()) return;
    if (--found->second.depth > 0) {
        // The outer batch would otherwise store a half-done set of values.
        found->second.failed = true;
        return;
    }
    batches_.erase(found);
}

CProfileStore::Transaction::Transaction(CProfileStore& store) : store_(store) {
    store_.BeginBatch();
}

CProfileStore::Transaction::~Transaction() {
    if (!done_) store_.AbortBatch();
}

bool CProfileStore::Transaction::Commit() {
    if (done_) return false;
    done_ = true;
    return store_.CommitBatch();
}

bool CProfileStore::LoadDocument(Document& document) const {
    const int fd = open(filePath_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ENOENT) return true;  // a missing file reads as empty
        LOG_ERROR("Cannot open the profile file " + filePath_ +
                  (errno == ELOOP ? " (it is a link)" : ""));
        return false;
    }
    struct stat status {};
    std::string content;
    bool ok = fstat(fd, &status) == 0;
    if (!ok) {
        LOG_ERROR("Cannot read the status of the profile file " + filePath_);
    } else if (!S_ISREG(status.st_mode) || status.st_size > kMaxFileSize) {
        errno = EINVAL;
        LOG_ERROR("The profile file " + filePath_ + " is not a regular file of at most " +
                  IntToString(static_cast<int>(kMaxFileSize)) + " bytes");
        ok = false;
    } else {
        char buffer[8192];
        for (;;) {
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                LOG_ERROR("Cannot read the profile file " + filePath_);
                ok = false;
                break;
            }
            if (got == 0) break;
            content.append(buffer, static_cast<std::size_t>(got));
            if (static_cast<std::int64_t>(content.size()) > kMaxFileSize) {
                errno = EFBIG;
                LOG_ERROR("The profile file " + filePath_ + " grew past the size limit");
                ok = false;
                break;
            }
        }
    }
    close(fd);
    if (ok) document.Parse(content);
    return ok;
}

std::optional<std::string> CProfileStore::Lookup(const std::string& section,
                                                 const std::string& key) const {
    Document document;
    std::lock_guard lock(mutex_);
    // An unreadable file reads as empty (every key at its default); the error is logged.
    LoadDocument(document);
    const auto batch = batches_.find(std::this_thread::get_id());
    if (batch != batches_.end()) {
        for (const auto& edit : batch->second.edits)
            document.Set(edit.section, edit.key, edit.value);
    }
    auto value = document.Find(Trim(section), Trim(key));
    if (value && CharacterCount(*value) > kMaxValueLength) {
        // A cut value would be a different setting (a cut folder path names its parent).
        errno = EINVAL;
        LOG_ERROR(Format("[%s] %s is longer than %zu characters; read as empty", section.c_str(),
                         key.c_str(), kMaxValueLength));
        value->clear();
    }
    return value;
}

bool CProfileStore::ApplyEdits(const std::vector<Edit>& edits) {
    Document document;
    // Never replace a file we could not read: its other sections and lines would be lost.
    if (!LoadDocument(document)) {
        LOG_NOTICE("The profile file " + filePath_ + " is left unchanged");
        return false;
    }
    bool changed = false;
    for (const auto& edit : edits)
        changed = document.Set(edit.section, edit.key, edit.value) || changed;
    if (!changed) return true;
    return ReplaceFile(document.Serialize());
}

bool CProfileStore::ReplaceFile(const std::string& content) {
    // A link in place of the file is never followed: it may have been planted to make us
    // overwrite another file. The rename below would replace the link itself.
    const std::string& target = filePath_;
    struct stat status {};
    if (lstat(target.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
        errno = ELOOP;
        LOG_ERROR("The profile file " + target + " is a link; not written");
        return false;
    }
    // A read-only file stays as it is, like a file with the read-only attribute.
    if (lstat(target.c_str(), &status) == 0 && (status.st_mode & S_IWUSR) == 0) {
        errno = EACCES;
        LOG_ERROR("The profile file " + target + " is read-only; not written");
        return false;
    }

    const std::string folder = FolderOf(target);
    std::string tempPath = target + ".XXXXXX";
    const int fd = mkostemp(tempPath.data(), O_CLOEXEC);
    if (fd < 0) {
        LOG_ERROR("Cannot create a temporary file in " + folder);
        return false;
    }
    bool ok = fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    if (!ok) LOG_ERROR("Cannot set the mode of " + tempPath);
    if (ok && !WriteAll(fd, content)) {
        LOG_ERROR("Cannot write " + tempPath);
        ok = false;
    }
    if (ok && fsync(fd) != 0) {
        LOG_ERROR("Cannot flush " + tempPath);
        ok = false;
    }
    if (close(fd) != 0 && ok) {
        LOG_ERROR("Cannot close " + tempPath);
        ok = false;
    }
    if (ok && rename(tempPath.c_str(), target.c_str()) != 0) {
        LOG_ERROR("Cannot replace " + target + " with " + tempPath);
        ok = false;
    }
    if (!ok) {
        unlink(tempPath.c_str());
        return false;
    }
    // Make the rename itself durable; the new content is already in place either way.
    const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0 || fsync(folderFd) != 0) LOG_ERROR("Cannot flush the folder " + folder);
    if (folderFd >= 0) close(folderFd);
    return true;
}

}  // namespace tessarine
