#include "core/deadline_wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "fakes/fake_clock.h"

namespace tessarine {
namespace {

using namespace std::chrono_literals;
using testing::FakeClock;

TEST(DeadlineWaitTest, EndsWithinASliceOfTheConditionOrAtTheLimit) {
    struct Case {
        const char* name;
        std::chrono::milliseconds doneAfter;  // clock time after which the condition holds
        std::chrono::milliseconds limit;
        std::chrono::milliseconds slice;
        bool expected;
        std::chrono::milliseconds expectedSlept;
    };
    const Case cases[] = {
        {"already done", 0ms, 100000ms, 100ms, true, 0ms},
        {"done after 2.5 s", 2500ms, 100000ms, 100ms, true, 2500ms},
        {"done between slices", 2550ms, 100000ms, 100ms, true, 2600ms},
        {"never done", 1000000ms, 100000ms, 100ms, false, 100000ms},
        {"limit not a multiple of the slice", 1000000ms, 250ms, 100ms, false, 250ms},
        {"zero limit only checks", 1000000ms, 0ms, 100ms, false, 0ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock clock;
        const bool result = WaitUntilDone(clock, c.limit, c.slice,
                                          [&] { return clock.TotalSlept() >= c.doneAfter; });
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(clock.TotalSlept(), c.expectedSlept);
        for (const auto sleep : clock.Sleeps()) EXPECT_LE(sleep, c.slice);
    }
}

}  // namespace
}  // namespace tessarine
