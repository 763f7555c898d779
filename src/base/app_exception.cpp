#include "base/app_exception.h"

namespace tessarine {

const char* CAppException::what() const noexcept {
    try {
        what_ = GetErrorMessage();
    } catch (...) {
        what_.clear();
    }
    return what_.c_str();
}

}  // namespace tessarine
