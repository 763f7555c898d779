#include "base/app_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <vector>

#include "base/string_utility.h"
#include "base/time_utility.h"

namespace tessarine {

namespace {

// A line break inside a message (a file name may hold one) would end the line early and let the
// rest pose as a line of its own.
void AppendEscapingLineBreaks(std::string& line, std::string_view message) {
    for (char c : message) {
        if (c == '\r')
            line += "\\r";
        else if (c == '\n')
            line += "\\n";
        else
            line += c;
    }
}

}  // namespace

CAppLog& CAppLog::Get() {
    static CAppLog log;
    return log;
}

void CAppLog::InitWith(const std::string& logFolderPath, const std::string& executableTitle,
                       bool debug, std::int64_t sizeLimitBytes) {
    std::lock_guard lock(mutex_);
    logFilePath_ = logFolderPath + executableTitle + ".log";
    oldLogFilePath_ = logFolderPath + executableTitle + "_old.log";
    debug_.store(debug ? 1 : 0);
    sizeLimit_.store(sizeLimitBytes);
}

void CAppLog::Reset() {
    std::lock_guard lock(mutex_);
    logFilePath_.clear();
    oldLogFilePath_.clear();
    debug_.store(0);
    sizeLimit_.store(0);
}

std::string CAppLog::LogFilePath() const {
    std::lock_guard lock(mutex_);
    return logFilePath_;
}

std::string CAppLog::OldLogFilePath() const {
    std::lock_guard lock(mutex_);
    return oldLogFilePath_;
}

void CAppLog::Trace(std::string_view message) {
    if (IsDebug()) WriteLine("TRC", message);
}

void CAppLog::Banner(std::string_view text) {
    if (!IsDebug()) return;
    std::string message = " ========== ";
    message += text;
    message += " ========== ";
    WriteLine("TRC", message);
}

void CAppLog::Notice(std::string_view message) { WriteLine("TRC", message); }

void CAppLog::Error(std::string_view message) { WriteLine("ERR", message); }

void CAppLog::WriteLine(const char* level, std::string_view message) {
    const int savedErrno = errno;  // logging must not disturb the caller's error state
    const long threadId = static_cast<long>(syscall(SYS_gettid));
    std::string line =
        Format("%s %s[%10ld] ", FormatLocalTime(std::time(nullptr), kLogTimeFormat).c_str(), level,
               threadId);
    AppendEscapingLineBreaks(line, message);
    std::string encoded = Utf8ToCp932(line);
    encoded += "\r\n";

    std::lock_guard lock(mutex_);
    if (!logFilePath_.empty()) {
        const int fd = ::open(logFilePath_.c_str(),
                              O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            std::size_t done = 0;
            bool ok = true;
            while (done < encoded.size()) {
                const ssize_t n = ::write(fd, encoded.data() + done, encoded.size() - done);
                if (n < 0) {
                    if (errno == EINTR) continue;
                    ok = false;
                    break;
                }
                done += static_cast<std::size_t>(n);
            }
            struct stat info {};
            const bool sized = ok && ::fstat(fd, &info) == 0;
            ::close(fd);
            if (sized && info.st_size > sizeLimit_.load()) {
                ::rename(logFilePath_.c_str(), oldLogFilePath_.c_str());
            }
        }
    }
    errno = savedErrno;
}

std::string LogPrefix(int line, const char* prettyFunction) {
    std::string_view text(prettyFunction);
    // The qualified name ends at the first '(' outside template brackets; it starts after the
    // last blank before that (the return type).
    int depth = 0;
    std::size_t end = text.size();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '<') ++depth;
        if (text[i] == '>') --depth;
        if (text[i] == '(' && depth == 0) {
            end = i;
            break;
        }
    }
    std::size_t begin = 0;
    depth = 0;
    for (std::size_t i = end; i-- > 0;) {
        if (text[i] == '>') ++depth;
        if (text[i] == '<') --depth;
        if (text[i] == ' ' && depth == 0) {
            begin = i + 1;
            break;
        }
    }
    std::vector<std::string_view> parts;
    std::string_view name = text.substr(begin, end - begin);
    while (!name.empty()) {
        const std::size_t sep = name.find("::");
        const std::string_view part = name.substr(0, sep);
        if (part != "tessarine" && part != "{anonymous}" && part != "testing" && !part.empty())
            parts.push_back(part);
        if (sep == std::string_view::npos) break;
        name.remove_prefix(sep + 2);
    }
    std::string qualified;
    for (std::size_t i = parts.size() > 2 ? parts.size() - 2 : 0; i < parts.size(); ++i) {
        if (!qualified.empty()) qualified += "::";
        qualified += parts[i];
    }
    return Format("L[%4d] ", line) + qualified;
}

MethodTrace::MethodTrace(int line, const char* prettyFunction)
    : line_(line), prettyFunction_(prettyFunction) {
    auto& log = CAppLog::Get();
    if (log.IsDebug()) log.Trace(LogPrefix(line_, prettyFunction_) + " Start--->");
}

MethodTrace::~MethodTrace() {
    auto& log = CAppLog::Get();
    if (log.IsDebug()) log.Trace(LogPrefix(line_, prettyFunction_) + " End  <---");
}

}  // namespace tessarine
