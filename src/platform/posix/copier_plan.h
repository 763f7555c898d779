// How many copier processes a run starts and whether it stripes large files: chosen when the
// share logs on, from the round trip of a cheap request to the server as measured then.
#pragma once

#include <chrono>

namespace tessarine {

struct CopierPlan {
    int copiers = 4;
    bool stripe = true;
};

// Each copy of a file takes several requests one after the other (create, write, times, close,
// rename...), so a copier is idle for a round trip per request. Where a request comes back
// within `kPromptRoundTrip` (a server on this machine, which measures 180-300 us on a busy
// 2-core machine, or one this close), the copies are bound
// by processor time on both sides: one copier per processor (up to four) and no striping, as
// more writers than processors only add switching between them. Where requests wait longer
// for the link, more copies in flight hide the waits (one copier per 32 us of the round trip,
// 6 to 16: a probe in the share's root takes 510-580 us over a LAN of 150 us each way, two
// crossings plus the server's least time per request, and gives 15 or 16),
// and a large file is striped over them, since one connection has one write in flight at a
// time.
inline constexpr std::chrono::microseconds kPromptRoundTrip{400};
CopierPlan PlanCopiers(std::chrono::microseconds roundTrip, unsigned processors);

// Processors this program may run on (at least 1).
unsigned UsableProcessors();

}  // namespace tessarine
