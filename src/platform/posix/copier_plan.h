// How many copier processes a run starts and whether it stripes large files: chosen when the
// share logs on, from where the server is and how many processors this machine has.
#pragma once

#include <string>

namespace tessarine {

struct CopierPlan {
    int copiers = 4;
    bool stripe = true;
};

// A server elsewhere on the network: four copiers keep four files in flight, which hides the
// round trips of each copy's requests, and large files are striped over them. A server on this
// machine runs on the same processors as the copiers, so the copies are bound by processor time:
// one copier per processor (up to four) and no striping, since more writers than processors
// only add switching between them.
CopierPlan PlanCopiers(bool serverOnThisMachine, unsigned processors);

// True when `host` (a name or an address, as in "\\host\share") is this machine: it resolves to
// a loopback address or to an address of one of this machine's interfaces. A name that does not
// resolve is taken as another machine.
bool IsThisMachine(const std::string& host);

// Processors this program may run on (at least 1).
unsigned UsableProcessors();

}  // namespace tessarine
