#include "fake/world.h"
#include "platform/threads.h"

namespace platform {

MutexHandle CreateNamedMutex(const char16_t* name, std::uint32_t& lastError) {
    auto& world = fake::TheWorld();
    world.journal.push_back("CreateMutex " + fake::Narrow(name));
    lastError = world.mutexLastError;
    if (lastError == kErrorAccessDenied) {
        return {};
    }
    return MutexHandle{fake::NewHandle()};
}

EventHandle CreateManualResetEvent() {
    auto& world = fake::TheWorld();
    world.journal.push_back("CreateEvent");
    const bool exhausted = world.eventsCreatableBeforeFailure &&
                           world.eventsCreated >= *world.eventsCreatableBeforeFailure;
    if (world.eventsFail || exhausted) {
        return {};
    }
    ++world.eventsCreated;
    return EventHandle{fake::NewHandle()};
}

void CloseEvent(EventHandle event) {
    fake::TheWorld().journal.push_back("CloseHandle event " + fake::Hex(event.value));
}

}  // namespace platform
