// The application log: one text file in the data folder's "log/" folder, appended line by line
// by every thread, rotated once to "<title>_old.log" at a size limit. Lines are stored in code
// page 932 with CR LF ends. Error lines are always written, trace lines only in debug mode.
#pragma once

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace tessarine {

// What a password is replaced with in every log line.
inline constexpr char kMaskedPassword[] = "********";

class CAppLog {
public:
    // The one log of the process.
    static CAppLog& Get();

    // Forms the two log file paths from the log folder (ending with '/') and the executable
    // title. The program sets the log up with InitAppLog (infra), which reads the switch file.
    void InitWith(const std::string& logFolderPath, const std::string& executableTitle, bool debug,
                  std::int64_t sizeLimitBytes);
    // Forgets the file paths: later lines are dropped (as before InitWith).
    void Reset();

    bool IsDebug() const { return debug_.load(std::memory_order_relaxed) != 0; }
    std::int64_t SizeLimit() const { return sizeLimit_.load(std::memory_order_relaxed); }
    std::string LogFilePath() const;
    std::string OldLogFilePath() const;

    // "TRC" line, only in debug mode.
    void Trace(std::string_view message);
    // " ========== <text> ========== " as a "TRC" line, only in debug mode.
    void Banner(std::string_view text);
    // "TRC" line, always written.
    void Notice(std::string_view message);
    // "ERR" line, always written.
    void Error(std::string_view message);

private:
    void WriteLine(const char* level, std::string_view message);

    mutable std::mutex mutex_;  // serialises appends and rotation; guards the paths
    std::string logFilePath_;
    std::string oldLogFilePath_;
    std::atomic<int> debug_{0};
    std::atomic<std::int64_t> sizeLimit_{0};
};

// "L[%4d] Class::Method" from a source line and __PRETTY_FUNCTION__.
std::string LogPrefix(int line, const char* prettyFunction);

// Scoped " Start--->" / " End  <---" trace pair for a method.
class MethodTrace {
public:
    MethodTrace(int line, const char* prettyFunction);
    ~MethodTrace();
    MethodTrace(const MethodTrace&) = delete;
    MethodTrace& operator=(const MethodTrace&) = delete;

private:
    int line_;
    const char* prettyFunction_;
};

}  // namespace tessarine

// Every line carries "L[%4d] Class::Method " before its text. Texts are std::string
// expressions, evaluated only when the line is written.
#define LOG_TRACE(text)                                                                       \
    do {                                                                                      \
        auto& tessarineLog_ = ::tessarine::CAppLog::Get();                                    \
        if (tessarineLog_.IsDebug())                                                          \
            tessarineLog_.Trace(::tessarine::LogPrefix(__LINE__, __PRETTY_FUNCTION__) + " " + \
                                std::string(text));                                           \
    } while (0)

#define LOG_NOTICE(text)                                                                       \
    ::tessarine::CAppLog::Get().Notice(::tessarine::LogPrefix(__LINE__, __PRETTY_FUNCTION__) + \
                                       " " + std::string(text))

// Appends "[errno]" as the last system error at the time of the call.
#define LOG_ERROR(text)                                                                           \
    do {                                                                                          \
        const int tessarineErrno_ = errno;                                                        \
        ::tessarine::CAppLog::Get().Error(::tessarine::LogPrefix(__LINE__, __PRETTY_FUNCTION__) + \
                                          " " + std::string(text) + "[" +                         \
                                          std::to_string(tessarineErrno_) + "]");                 \
    } while (0)

// As LOG_ERROR, with the system error given by the caller (a code a call returned).
#define LOG_ERROR_CODE(code, text)                                                                \
    do {                                                                                          \
        const int tessarineCode_ = (code);                                                        \
        ::tessarine::CAppLog::Get().Error(::tessarine::LogPrefix(__LINE__, __PRETTY_FUNCTION__) + \
                                          " " + std::string(text) + "[" +                         \
                                          std::to_string(tessarineCode_) + "]");                  \
    } while (0)

#define LOG_BANNER(text) ::tessarine::CAppLog::Get().Banner(text)

// " Start--->" now and " End  <---" when the enclosing scope ends.
#define LOG_METHOD() ::tessarine::MethodTrace tessarineMethodTrace_(__LINE__, __PRETTY_FUNCTION__)
