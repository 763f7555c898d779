#include "infra/sql_fault_hook.h"

#include <atomic>

#include "base/app_log.h"

namespace tessarine::sql_fault_hook {

namespace {
std::atomic<bool> armed{false};
std::atomic<std::int64_t> count{0};
std::atomic<std::int64_t> failAt{0};
std::atomic<bool> fired{false};
}  // namespace

void Arm(std::int64_t n) {
    count = 0;
    fired = false;
    failAt = n;
    armed = true;
}

void Disarm() { armed = false; }

std::int64_t Count() { return count.load(); }

bool Fired() { return fired.load(); }

bool ShouldFail() {
    if (!armed.load(std::memory_order_relaxed)) return false;
    const std::int64_t now = ++count;
    if (now != failAt.load()) return false;
    fired = true;
    LOG_ERROR("Injected Statement Failure. Statement:" + std::to_string(now));
    return true;
}

}  // namespace tessarine::sql_fault_hook
