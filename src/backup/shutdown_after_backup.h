// The backup before shutdown's ending: right after the share connection it asks the user
// (through the MessageSink, so the yes/no question lives on the user-interface thread) whether
// to shut the PC down afterwards; at every ending of the run it reads the answer, and unless the
// user said No it starts the shutdown command and asks the program to close. The time-out of the
// question is the end of the run: an unanswered question counts as Yes.
// Only the tray program attaches this; the headless program never asks and never shuts down.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "core/message_sink.h"
#include "core/shutdown_answer.h"
#include "platform/command_runner.h"

namespace tessarine {

class CBackupExecute;

// The comment the shutdown shows.
inline constexpr char kShutdownComment[] =
    "バックアップ完了しました。Windowsをシャットダウンします。";
// The question of the box.
inline constexpr char kShutdownQuestionText[] = "バックアップ終了後にシャットダウンしますか？";

class CShutdownAfterBackup {
public:
    // `shutdownAfterBackup`: the executor's answer flag (1 shut down, 0 not), set to 1 by the
    // executor at the start of every run and written here from the answer.
    CShutdownAfterBackup(MessageSink& messageSink, CommandRunner& runner,
                         std::atomic<int>& shutdownAfterBackup);

    // Installs the two steps on a shutdown-mode executor.
    void AttachTo(CBackupExecute& executor);

    // Posts the question with a fresh answer for this run.
    void MessageBoxForShutdownBackup();
    // Reads the answer: No → "Cancel Shutdown"; Yes or none yet → "Execute Shutdown", the
    // shutdown command, then WM_CLOSE to the program. The question is closed either way.
    void JudgeShutdown();

    // Power off 5 seconds from now, showing the comment; the command returns at once.
    static std::vector<std::string> ShutdownCommand();

private:
    MessageSink& messageSink_;
    CommandRunner& runner_;
    std::atomic<int>& shutdownAfterBackup_;
    std::shared_ptr<ShutdownAnswer> answer_;  // the current run's question; null: none asked
};

}  // namespace tessarine
