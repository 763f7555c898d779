// The fixed time-stamp forms of the program's files, databases and log.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace tessarine {

inline constexpr char kTimeStampFormat[] = "%Y%m%d%H%M%S";         // 14 digits, databases and XML
inline constexpr char kTimeStampPlaceholder[] = "YYYYMMDDhhmmss";  // the literal placeholder form
inline constexpr char kLogTimeFormat[] = "%Y/%m/%d %H:%M:%S";      // log lines and traces
inline constexpr char kHttpDateFormat[] = "%a, %d %b %Y %H:%M:%S GMT";

// Local time of `when` in a strftime pattern; "" when the result would exceed 127 characters.
std::string FormatLocalTime(std::time_t when, const char* pattern);
// UTC time of `when` in a strftime pattern (for HTTP dates).
std::string FormatUtcTime(std::time_t when, const char* pattern);
// 14-digit local time stamp.
inline std::string ToTimeStamp(std::time_t when) { return FormatLocalTime(when, kTimeStampFormat); }

// Parses "YYYYMMDDhhmmss" as local time (daylight saving decided by the C library). Missing
// numbers count as 0. Fails (returns false, `when` unchanged) for a year below 1900, a month
// outside 1-12, a day outside 1-31, an hour above 23, a minute or second above 59, or a time
// mktime cannot represent.
bool ParseTimeStamp(std::string_view text, std::time_t& when);

// Builds a local time from its parts with mktime semantics (a day past the month's end carries
// into the next month), after the same range checks as ParseTimeStamp.
bool MakeLocalTime(int year, int month, int day, int hour, int minute, int second,
                   std::time_t& when);

}  // namespace tessarine
