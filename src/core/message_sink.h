// How workers report to the user interface: messages posted to the tray window (Qt), logged
// (headless) or recorded (tests). Workers never touch a window.
#pragma once

#include <memory>

namespace tessarine {

enum MessageId : int {
    WM_REQUEST_BALLOON = 1124,
    WM_REFRESH_BACKUP_NOW = 1134,
    WM_SHOW_RESULT = 1135,
    WM_EXECUTE_STATE_CHANGED = 1136,
    WM_SHUTDOWN_BACKUP_COMPLETE = 1137,
    WM_TRAY_NOTIFY = 32778,
};

// Kinds of pop-up (wParam of WM_REQUEST_BALLOON, lParam of WM_SHOW_RESULT).
enum BalloonKind : int {
    kBalloonBackupResult = 1125,
    kBalloonDetectFileResult = 1126,
};

// The pop-up request: result 0 when the reported run succeeded, value = seconds the pop-up
// stays open (0 keeps it open). Ownership passes to the receiver.
struct BalloonRequest {
    int result = 0;
    int value = 0;
};

class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void Post(int messageId, int wParam, long lParam,
                      std::unique_ptr<BalloonRequest> balloon) = 0;

    void Post(int messageId) { Post(messageId, 0, 0, nullptr); }
};

}  // namespace tessarine
