#include "infra/sqlite_query.h"

#include <cerrno>

#include "base/string_utility.h"

namespace tessarine {

void LogSqlStepFailure(std::string_view message, int result, const SourceLocation& where) {
    const int lastError = errno;
    std::string text(message);
    if (text.ends_with("Code:")) text += IntToString(result);
    CAppLog::Get().Error(LogPrefix(static_cast<int>(where.line()), where.function_name()) + " " +
                         text + "[" + std::to_string(lastError) + "]");
}

}  // namespace tessarine
