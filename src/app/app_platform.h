// What the application hands to its workers from the operating system: the clock, the machine's
// names, the named events of the process and the way to reach the user interface. Made once in
// main (or by a test with fakes) and owned by the application object.
#pragma once

#include "core/message_sink.h"
#include "platform/clock.h"
#include "platform/named_events.h"
#include "platform/system_info.h"

namespace tessarine {

struct Platform {
    Platform(Clock& clockIn, const SystemInfo& systemInfoIn, MessageSink& messageSinkIn)
        : clock(clockIn), systemInfo(systemInfoIn), messageSink(messageSinkIn) {}
    Platform(const Platform&) = delete;
    Platform& operator=(const Platform&) = delete;

    Clock& clock;
    const SystemInfo& systemInfo;
    MessageSink& messageSink;
    NamedEvents events;  // the eight events of the application, created at start-up
};

}  // namespace tessarine
