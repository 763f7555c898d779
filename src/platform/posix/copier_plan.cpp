#include "platform/posix/copier_plan.h"

#include <sched.h>

#include <algorithm>

namespace tessarine {

namespace {

constexpr unsigned kMostPromptCopiers = 4;
constexpr long kFewestLinkCopiers = 6;
constexpr long kMostLinkCopiers = 16;
constexpr long kRoundTripPerCopier = 32;  // microseconds

}  // namespace

CopierPlan PlanCopiers(std::chrono::microseconds roundTrip, unsigned processors) {
    if (roundTrip < kPromptRoundTrip)
        return CopierPlan{static_cast<int>(std::clamp(processors, 1u, kMostPromptCopiers)), false};
    const long copiers = static_cast<long>(roundTrip.count()) / kRoundTripPerCopier;
    return CopierPlan{static_cast<int>(std::clamp(copiers, kFewestLinkCopiers, kMostLinkCopiers)),
                      true};
}

unsigned UsableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof(set), &set) == 0)
        return static_cast<unsigned>(std::max(CPU_COUNT(&set), 1));
    return 1;
}

}  // namespace tessarine
