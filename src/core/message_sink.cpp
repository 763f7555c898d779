#include "core/message_sink.h"

namespace tessarine {

namespace {

struct WordsOf {
    MessageWords operator()(const BalloonRequest& m) const {
        return {WM_REQUEST_BALLOON, m.kind, 0};
    }
    MessageWords operator()(const RefreshBackupNow&) const { return {WM_REFRESH_BACKUP_NOW}; }
    MessageWords operator()(const ShowResult& m) const { return {WM_SHOW_RESULT, 0, m.kind}; }
    MessageWords operator()(const ExecuteStateChanged&) const { return {WM_EXECUTE_STATE_CHANGED}; }
    MessageWords operator()(const ShutdownBackupComplete&) const {
        return {WM_SHUTDOWN_BACKUP_COMPLETE};
    }
    MessageWords operator()(const ShutdownQuestion&) const { return {WM_SHUTDOWN_QUESTION}; }
    MessageWords operator()(const CloseMainWindow&) const { return {WM_CLOSE}; }
};

}  // namespace

MessageWords ToWords(const Message& message) { return std::visit(WordsOf{}, message); }

}  // namespace tessarine
