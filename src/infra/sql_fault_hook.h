// A test's lever on the database layer: once armed, statements are counted as the connection
// runs them, and the chosen one fails as SQLite fails on a disk error (SQLITE_IOERR), without
// reaching the database. Unarmed it costs one relaxed atomic load per statement. Steps of
// prepared statements, BEGIN/COMMIT and savepoints, and whole SQL texts are counted; rollbacks
// are not (they are how a failure is undone).
#pragma once

#include <cstdint>

namespace tessarine::sql_fault_hook {

// Counts from zero again; the `failAt`-th statement from now (1 = the next) fails, later ones
// pass. 0: count only.
void Arm(std::int64_t failAt);
// Stops counting and failing.
void Disarm();
// Statements counted since Arm.
std::int64_t Count();
// Whether a failure has been injected since Arm.
bool Fired();

// Called by the connection before each counted statement: true when it is to fail.
bool ShouldFail();

}  // namespace tessarine::sql_fault_hook
