#include "base/time_utility.h"

#include <cstdio>

namespace tessarine {

namespace {

std::string FormatTm(const std::tm& parts, const char* pattern) {
    char buffer[128];
    const std::size_t length = std::strftime(buffer, sizeof buffer, pattern, &parts);
    return std::string(buffer, length);
}

}  // namespace

std::string FormatLocalTime(std::time_t when, const char* pattern) {
    std::tm parts{};
    if (localtime_r(&when, &parts) == nullptr) return std::string();
    return FormatTm(parts, pattern);
}

std::string FormatUtcTime(std::time_t when, const char* pattern) {
    std::tm parts{};
    if (gmtime_r(&when, &parts) == nullptr) return std::string();
    return FormatTm(parts, pattern);
}

bool MakeLocalTime(int year, int month, int day, int hour, int minute, int second,
                   std::time_t& when) {
    if (year < 1900 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 59)
        return false;
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;
    const std::time_t result = std::mktime(&parts);
    if (result == static_cast<std::time_t>(-1)) return false;
    when = result;
    return true;
}

bool ParseTimeStamp(std::string_view text, std::time_t& when) {
    // "%4d%2d%2d%2d%2d%2d": each number takes up to its width of digits; missing ones stay 0.
    int numbers[6] = {0, 0, 0, 0, 0, 0};
    constexpr int widths[6] = {4, 2, 2, 2, 2, 2};
    std::size_t pos = 0;
    for (int i = 0; i < 6; ++i) {
        int digits = 0;
        int value = 0;
        while (digits < widths[i] && pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            value = value * 10 + (text[pos++] - '0');
            ++digits;
        }
        if (digits == 0) break;
        numbers[i] = value;
    }
    return MakeLocalTime(numbers[0], numbers[1], numbers[2], numbers[3], numbers[4], numbers[5],
                         when);
}

}  // namespace tessarine
