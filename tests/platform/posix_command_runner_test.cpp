#include <gtest/gtest.h>

#include "platform/command_runner.h"

namespace tessarine {
namespace {

TEST(PosixCommandRunnerTest, ReportsTheExitStatusOrMinusOne) {
    const struct {
        std::vector<std::string> argv;
        int status;
    } cases[] = {
        {{"true"}, 0},
        {{"sh", "-c", "exit 3"}, 3},
        {{"sh", "-c", "kill -9 $$"}, -1},  // ended by a signal
        {{"/nonexistent/command"}, -1},
        {{}, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DefaultCommandRunner().Run(c.argv), c.status)
            << (c.argv.empty() ? "" : c.argv.back());
    }
}

}  // namespace
}  // namespace tessarine
