// The caller's line and function for log lines, as std::source_location gives them. clang 14
// with libstdc++ 12 (the fuzzing build) has no std::source_location; there the compiler's
// builtins stand in, with the plain function name.
#pragma once

#include <version>

#if defined(__cpp_lib_source_location)
#include <source_location>

namespace tessarine {
using SourceLocation = std::source_location;
}  // namespace tessarine

#else

namespace tessarine {

class SourceLocation {
public:
    static constexpr SourceLocation current(unsigned line = __builtin_LINE(),
                                            const char* function = __builtin_FUNCTION()) noexcept {
        SourceLocation location;
        location.line_ = line;
        location.function_ = function;
        return location;
    }
    constexpr unsigned line() const noexcept { return line_; }
    constexpr const char* function_name() const noexcept { return function_; }

private:
    unsigned line_ = 0;
    const char* function_ = "";
};

}  // namespace tessarine

#endif
