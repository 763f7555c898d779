#include "platform/named_events.h"

#include <chrono>

namespace tessarine {

void AutoResetEvent::Set() {
    {
        std::lock_guard lock(owner_.mutex_);
        signalled_ = true;
    }
    owner_.changed_.notify_all();
}

EventHandle NamedEvents::Create(const std::string& name) {
    std::lock_guard lock(mutex_);
    auto& slot = events_[name];
    if (!slot) slot = EventHandle(new AutoResetEvent(*this));
    return slot;
}

EventHandle NamedEvents::Open(const std::string& name) const {
    std::lock_guard lock(mutex_);
    const auto it = events_.find(name);
    return it == events_.end() ? nullptr : it->second;
}

bool NamedEvents::Signal(const std::string& name) {
    const EventHandle event = Open(name);
    if (!event) return false;
    event->Set();
    return true;
}

void NamedEvents::CloseAll() {
    std::lock_guard lock(mutex_);
    events_.clear();
}

std::uint32_t NamedEvents::WaitAny(const std::vector<EventHandle>& events,
                                   std::uint32_t timeoutMs) {
    if (events.empty()) return kWaitFailed;
    for (const auto& event : events)
        if (!event || &event->owner_ != this) return kWaitFailed;

    std::unique_lock lock(mutex_);
    const auto takeSignalled = [&]() -> std::uint32_t {
        for (std::uint32_t i = 0; i < events.size(); ++i) {
            if (events[i]->signalled_) {
                events[i]->signalled_ = false;
                return i;
            }
        }
        return kWaitTimeout;
    };
    if (timeoutMs == kInfinite) {
        std::uint32_t index = kWaitTimeout;
        changed_.wait(lock, [&] { return (index = takeSignalled()) != kWaitTimeout; });
        return index;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::uint32_t index = kWaitTimeout;
    changed_.wait_until(lock, deadline, [&] { return (index = takeSignalled()) != kWaitTimeout; });
    return index;
}

}  // namespace tessarine
