// How an operation whose failures are one exception class with a code ends on a failure: an
// error line of the caller's line and function ("[errno]" appended, as LOG_ERROR writes it), then
// the exception.
#pragma once

#include <cerrno>
#include <exception>
#include <string>
#include <string_view>

#include "base/app_log.h"
#include "base/source_location.h"

namespace tessarine {

// The error line LOG_ERROR would write at `where`.
inline void LogErrorAt(const SourceLocation& where, std::string_view message) {
    const int lastError = errno;
    CAppLog::Get().Error(LogPrefix(static_cast<int>(where.line()), where.function_name()) + " " +
                         std::string(message) + "[" + std::to_string(lastError) + "]");
}

// A failed step: logs `message` and throws Exception(code).
template <typename Exception>
[[noreturn]] void FailOperation(std::string_view message, int code,
                                const SourceLocation& where = SourceLocation::current()) {
    LogErrorAt(where, message);
    throw Exception(code);
}

// For the `catch (...)` of an operation: its own exception goes on as it is; any other failure (a
// library exception, memory) is logged and becomes Exception(code).
template <typename Exception>
[[noreturn]] void RethrowAsOperationFailure(
    int code, const SourceLocation& where = SourceLocation::current()) {
    try {
        throw;
    } catch (const Exception&) {
        throw;
    } catch (const std::exception& e) {
        LogErrorAt(where, std::string("Unexpected Error: ") + e.what());
    } catch (...) {
        LogErrorAt(where, "Unexpected Error");
    }
    throw Exception(code);
}

}  // namespace tessarine
