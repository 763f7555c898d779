// Named auto-reset events of the process (the in-process form of Windows named events), with a
// wait on several at once. Another process reaches them by name through the control socket.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tessarine {

inline constexpr std::uint32_t kWaitTimeout = 258;         // WaitAny timed out
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;  // a null handle in the set
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;    // wait without time-out

class NamedEvents;

// One auto-reset event: a signal wakes one waiter once, or stays pending until a wait takes it.
class AutoResetEvent {
public:
    void Set();

private:
    friend class NamedEvents;
    explicit AutoResetEvent(NamedEvents& owner) : owner_(owner) {}
    NamedEvents& owner_;
    bool signalled_ = false;  // guarded by the owner's mutex
};

using EventHandle = std::shared_ptr<AutoResetEvent>;

class NamedEvents {
public:
    NamedEvents() = default;
    NamedEvents(const NamedEvents&) = delete;
    NamedEvents& operator=(const NamedEvents&) = delete;

    // Creates the event (not signalled) or returns the existing one of that name.
    EventHandle Create(const std::string& name);
    // The event of that name, or null when it was never created or has been closed.
    EventHandle Open(const std::string& name) const;
    // Signals the event of that name; false when there is none.
    bool Signal(const std::string& name);
    // Forgets every name; handles already held stay usable.
    void CloseAll();

    // Waits until one of the events is signalled (taking its signal) or the time-out passes.
    // Returns the index of the signalled event (the lowest when several are), kWaitTimeout,
    // or kWaitFailed when the set is empty or holds a null handle.
    std::uint32_t WaitAny(const std::vector<EventHandle>& events, std::uint32_t timeoutMs);

private:
    friend class AutoResetEvent;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, EventHandle> events_;
};

}  // namespace tessarine
