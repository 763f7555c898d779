// The failure of a UDP socket operation: what went wrong (an index into a fixed message list)
// and the socket error number the system reported at that moment (0 when there was none).
#pragma once

#include <string>

#include "base/app_exception.h"

namespace tessarine {

class CBlockingSocketException : public CAppException {
public:
    enum Kind : int {
        kCreate = 0,
        kBind = 1,
        kReceiveDatagram = 9,
        kReceiveDatagramTimeout = 10,
        kSendDatagram = 11,
        kSendDatagramTimeout = 12,
        kClose = 18,
    };

    CBlockingSocketException(int kind, int socketError)
        : CAppException(kind), socketError_(socketError) {}

    int GetSocketError() const { return socketError_; }
    // The list entry of the kind, followed by " Code:#<error>" when the error is not 0.
    std::string GetErrorMessage() const override;

private:
    int socketError_;
};

}  // namespace tessarine
