// The base of the program's exception family: each class, declared beside its component with
// TESSARINE_DECLARE_EXCEPTION, turns its code into a fixed Japanese message. Thrown by value,
// caught by const reference.
#pragma once

#include <array>
#include <cstddef>
#include <exception>
#include <string>
#include <string_view>

namespace tessarine {

class CAppException : public std::exception {
public:
    explicit CAppException(int code) : code_(code) {}
    int GetErrorCode() const { return code_; }
    // The message of the code; "" for a code outside the class's table.
    virtual std::string GetErrorMessage() const = 0;
    const char* what() const noexcept override;

private:
    int code_;
    mutable std::string what_;
};

#define TESSARINE_DECLARE_EXCEPTION(Name)             \
    class Name : public CAppException {               \
    public:                                           \
        using CAppException::CAppException;           \
        std::string GetErrorMessage() const override; \
    }

// The message of `code` in a component's table; "" for a code outside it.
template <std::size_t N>
std::string ExceptionMessage(const std::array<std::string_view, N>& table, int code) {
    if (code < 0 || static_cast<std::size_t>(code) >= N) return std::string();
    return std::string(table[static_cast<std::size_t>(code)]);
}

}  // namespace tessarine
