#include "backup/shutdown_after_backup.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>

#include "backup/backup_execute_fixture.h"
#include "fakes/recording_command_runner.h"

namespace tessarine {
namespace {

using namespace backup_test;  // NOLINT(google-build-using-namespace): the fixture's own names
using testing::RecordingCommandRunner;

// The user-interface side of the question: answers when the question arrives (or never), and
// passes every message on to the recording sink.
class AnsweringSink : public MessageSink {
public:
    explicit AnsweringSink(MessageSink& next) : next_(next) {}
    std::optional<bool> reply;  // nullopt: the question stays unanswered
    std::shared_ptr<ShutdownAnswer> lastQuestion;

    void Post(Message message) override {
        if (auto* question = std::get_if<ShutdownQuestion>(&message)) {
            lastQuestion = question->answer;
            if (reply) question->answer->Answer(*reply);
        }
        next_.Post(std::move(message));
    }

private:
    MessageSink& next_;
};

int Occurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

class ShutdownAfterBackupTest : public BackupExecuteTest {};

TEST_F(ShutdownAfterBackupTest, RunsEndAsTheUserAnsweredOrShutDownWithoutAnAnswer) {
    MakeFiles({"src1/a.txt"});
    const struct {
        const char* name;
        std::optional<bool> reply;
        bool deviceUnreachable;
        bool asked;
        bool shutsDown;
    } cases[] = {
        {"No before the end", false, false, true, false},
        {"Yes", true, false, true, true},
        {"no answer before the end", std::nullopt, false, true, true},
        {"connection failed: no question, shut down", false, true, false, true},
    };
    std::map<std::string, int> decisions;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hooks_ = ShareHooks{};
        if (c.deviceUnreachable) {
            hooks_.configure = [](testing::FaultInjectingShare&, LocalShare& local) {
                local.SetConnectResult(ECONNREFUSED);
            };
        }
        sink_.Clear();
        AnsweringSink ui(sink_);
        ui.reply = c.reply;
        RecordingCommandRunner runner;
        CShutdownAfterBackup shutdown(ui, runner, shutdownAfterBackup_);
        executor_ = MakeExecutor();
        executor_->SetShutdownMode(1);
        shutdown.AttachTo(*executor_);

        executor_->ThreadCore();

        EXPECT_EQ(c.asked ? 1 : 0, sink_.Count(WM_SHUTDOWN_QUESTION));
        EXPECT_EQ(1, sink_.Count(WM_SHUTDOWN_BACKUP_COMPLETE));
        const auto commands = runner.Commands();
        ASSERT_EQ(c.shutsDown ? 1u : 0u, commands.size());
        EXPECT_EQ(c.shutsDown ? 1 : 0, sink_.Count(WM_CLOSE));
        if (c.shutsDown) {
            EXPECT_EQ(CShutdownAfterBackup::ShutdownCommand(), commands[0]);
            // The program is closed after the command has been started.
            EXPECT_EQ(WM_CLOSE, sink_.Messages().back().id);
        }
        if (ui.lastQuestion) {
            EXPECT_TRUE(ui.lastQuestion->IsClosed());
        }
        const std::string line = c.shutsDown ? "Execute Shutdown" : "Cancel Shutdown";
        EXPECT_EQ(++decisions[line], Occurrences(Log(), line));
    }
}

TEST_F(ShutdownAfterBackupTest, NormalRunNeitherAsksNorShutsDown) {
    MakeFiles({"src1/a.txt"});
    RecordingCommandRunner runner;
    CShutdownAfterBackup shutdown(sink_, runner, shutdownAfterBackup_);
    executor_ = MakeExecutor();
    shutdown.AttachTo(*executor_);
    executor_->ThreadCore();
    EXPECT_EQ(0, sink_.Count(WM_SHUTDOWN_QUESTION));
    EXPECT_EQ(0, sink_.Count(WM_SHUTDOWN_BACKUP_COMPLETE));
    EXPECT_TRUE(runner.Commands().empty());
}

// A question left on the screen from an earlier run cannot decide a later one.
TEST(ShutdownAnswerTest, LateAnswerToAnEarlierQuestionIsIgnored) {
    testing::RecordingMessageSink sink;
    AnsweringSink ui(sink);
    RecordingCommandRunner runner;
    std::atomic<int> flag{1};
    CShutdownAfterBackup shutdown(ui, runner, flag);

    shutdown.MessageBoxForShutdownBackup();
    const std::shared_ptr<ShutdownAnswer> first = ui.lastQuestion;
    first->Answer(false);
    shutdown.JudgeShutdown();
    EXPECT_TRUE(runner.Commands().empty());

    flag = 1;  // the next run starts
    shutdown.MessageBoxForShutdownBackup();
    first->Answer(false);  // clicked on the old box
    EXPECT_NE(first, ui.lastQuestion);
    shutdown.JudgeShutdown();
    EXPECT_EQ(1u, runner.Commands().size());
    // The first answer counts.
    ShutdownAnswer answer;
    answer.Answer(true);
    answer.Answer(false);
    EXPECT_EQ(ShutdownAnswer::kYes, answer.State());
}

}  // namespace
}  // namespace tessarine
