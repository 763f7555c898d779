// How workers report to the user interface: typed messages posted to the tray window (Qt),
// logged (headless) or recorded (tests). Workers never touch a window. Each message keeps the
// number and parameter words of the window message it stands for.
#pragma once

#include <memory>
#include <variant>

#include "core/shutdown_answer.h"

namespace tessarine {

enum MessageId : int {
    WM_CLOSE = 0x10,
    WM_REQUEST_BALLOON = 1124,
    WM_REFRESH_BACKUP_NOW = 1134,
    WM_SHOW_RESULT = 1135,
    WM_EXECUTE_STATE_CHANGED = 1136,
    WM_SHUTDOWN_BACKUP_COMPLETE = 1137,
    WM_SHUTDOWN_QUESTION = 1138,
    WM_TRAY_NOTIFY = 32778,
};

// Kinds of pop-up (wParam of WM_REQUEST_BALLOON, lParam of WM_SHOW_RESULT).
enum BalloonKind : int {
    kBalloonBackupResult = 1125,
    kBalloonDetectFileResult = 1126,
};

// WM_REQUEST_BALLOON: show the pop-up. `result` is 0 when the reported run succeeded; `value`
// is how many seconds the pop-up stays open (0 keeps it open).
struct BalloonRequest {
    BalloonKind kind = kBalloonBackupResult;
    int result = 0;
    int value = 0;
};
// WM_REFRESH_BACKUP_NOW: the backup-executing flag changed (the settings page's button).
struct RefreshBackupNow {};
// WM_SHOW_RESULT: open the result window at the page of `kind` (any other value: no page).
struct ShowResult {
    int kind = 0;
};
// WM_EXECUTE_STATE_CHANGED: a backup or forwarding run started or ended (the busy icon).
struct ExecuteStateChanged {};
// WM_SHUTDOWN_BACKUP_COMPLETE: the backup before shutdown has ended.
struct ShutdownBackupComplete {};

// WM_SHUTDOWN_QUESTION: ask "shut down after the backup?" (yes/no) on the user-interface thread
// and put the reply into `answer`; the backup run reads it when it ends.
struct ShutdownQuestion {
    std::shared_ptr<ShutdownAnswer> answer;
};
// WM_CLOSE: end the program (after the shutdown command has been started).
struct CloseMainWindow {};

using Message = std::variant<BalloonRequest, RefreshBackupNow, ShowResult, ExecuteStateChanged,
                             ShutdownBackupComplete, ShutdownQuestion, CloseMainWindow>;

// The window-message form of a message, for logs and a window-message based receiver.
struct MessageWords {
    int id = 0;
    int wParam = 0;
    long lParam = 0;
};
MessageWords ToWords(const Message& message);

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Called from any thread; the message is the receiver's from here on.
    virtual void Post(Message message) = 0;
};

}  // namespace tessarine
