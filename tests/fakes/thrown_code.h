// The code of the program exception a call throws.
#pragma once

#include <functional>

namespace tessarine::testing {

// The code of the Exception the call throws; -1 when it returns, -2 for another exception.
template <typename Exception>
int ThrownCode(const std::function<void()>& call) {
    try {
        call();
    } catch (const Exception& e) {
        return e.GetErrorCode();
    } catch (...) {
        return -2;
    }
    return -1;
}

}  // namespace tessarine::testing
