// What a share or file-system call came to, returned by the call itself: 0 when it worked,
// else the errno value it failed with. No object keeps a "last error" that a later call (or
// another thread) could replace before the caller reads it.
#pragma once

#include <cerrno>

namespace tessarine {

struct [[nodiscard]] IoStatus {
    int error = 0;

    constexpr explicit operator bool() const { return error == 0; }
};

// A call that also answers something (is it a folder, the entries of a folder): `value` is
// meaningful only when `error` is 0.
template <typename T>
struct [[nodiscard]] IoResult {
    T value{};
    int error = 0;

    constexpr explicit operator bool() const { return error == 0; }
};

// A failure with `error`, EIO when the failing call left no error number.
constexpr IoStatus IoFailure(int error) { return IoStatus{error != 0 ? error : EIO}; }

// True for the errors that say a server is gone or silent (a time-out, a dropped connection),
// not that it refused one request.
inline bool IsConnectionLoss(int error) {
    switch (error) {
        case ETIMEDOUT:
        case ECONNRESET:
        case ECONNABORTED:
        case ECONNREFUSED:
        case ENOTCONN:
        case EPIPE:
        case EHOSTDOWN:
        case EHOSTUNREACH:
        case ENETDOWN:
        case ENETUNREACH:
            return true;
        default:
            return false;
    }
}

}  // namespace tessarine
