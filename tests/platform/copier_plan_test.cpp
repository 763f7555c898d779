#include "platform/posix/copier_plan.h"

#include <gtest/gtest.h>

#include <string>

namespace tessarine {
namespace {

using std::chrono::microseconds;

TEST(CopierPlanTest, CopiersFollowTheRoundTripOfTheLink) {
    struct Case {
        long roundTripUs;
        unsigned processors;
        int copiers;
        bool stripe;
    };
    const Case cases[] = {
        // Requests that come back at once: bound by processors, never striped.
        {60, 0, 1, false},
        {60, 1, 1, false},
        {60, 2, 2, false},
        {249, 4, 4, false},
        {100, 64, 4, false},
        // Requests that wait for the link: more copies in flight the longer they wait.
        {399, 2, 2, false},
        {400, 2, 12, true},
        {510, 2, 15, true},  // a LAN of 150 us each way
        {580, 64, 16, true},
        {3000, 1, 16, true},
        {2000000, 2, 16, true},  // a server that answered nothing quickly
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.roundTripUs) + " us, " + std::to_string(c.processors) +
                     " processors");
        const CopierPlan plan = PlanCopiers(microseconds(c.roundTripUs), c.processors);
        EXPECT_EQ(plan.copiers, c.copiers);
        EXPECT_EQ(plan.stripe, c.stripe);
    }
}

}  // namespace
}  // namespace tessarine
