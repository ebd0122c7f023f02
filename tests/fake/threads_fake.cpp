#include "fake/world.h"
#include "platform/threads.h"

namespace platform {

MutexHandle CreateNamedMutex(const char16_t* name, std::uint32_t& lastError) {
    const auto lock = fake::Lock();
    auto& world = fake::TheWorld();
    fake::Record("CreateMutex " + fake::Narrow(name));
    lastError = world.mutexLastError;
    if (lastError == kErrorAccessDenied) {
        return {};
    }
    return MutexHandle{fake::NewHandle()};
}

EventHandle CreateManualResetEvent() {
    const auto lock = fake::Lock();
    auto& world = fake::TheWorld();
    fake::Record("CreateEvent");
    const bool exhausted = world.eventsCreatableBeforeFailure &&
                           world.eventsCreated >= *world.eventsCreatableBeforeFailure;
    if (world.eventsFail || exhausted) {
        return {};
    }
    ++world.eventsCreated;
    const EventHandle event{fake::NewHandle()};
    world.eventSignalled[event.value] = false;
    return event;
}

void CloseEvent(EventHandle event) {
    const auto lock = fake::Lock();
    fake::Record("CloseHandle event " + fake::Hex(event.value));
}

void SignalEvent(EventHandle event) {
    const auto lock = fake::Lock();
    fake::Record("SetEvent " + fake::Hex(event.value));
    fake::TheWorld().eventSignalled[event.value] = true;
}

void ClearEvent(EventHandle event) {
    const auto lock = fake::Lock();
    fake::Record("ResetEvent " + fake::Hex(event.value));
    fake::TheWorld().eventSignalled[event.value] = false;
}

bool WaitForEvent(EventHandle event) {
    std::function<void()> onWait;
    {
        const auto lock = fake::Lock();
        fake::Record("WaitForSingleObject " + fake::Hex(event.value));
        onWait = fake::TheWorld().onWait;
    }
    if (onWait) {
        onWait();
    }
    const auto lock = fake::Lock();
    auto& world = fake::TheWorld();
    if (world.waitsFail || !event) {
        return false;
    }
    if (!world.eventSignalled[event.value]) {
        throw fake::ThreadBlocked{};
    }
    return true;
}

ThreadHandle StartThread(ThreadProcedure procedure, void* parameter) {
    const auto lock = fake::Lock();
    fake::Record("CreateThread");
    auto& world = fake::TheWorld();
    if (world.threadsCreatableBeforeFailure &&
        world.threads.size() >= *world.threadsCreatableBeforeFailure) {
        return {};
    }
    world.threads.push_back({procedure, parameter});
    return ThreadHandle{fake::NewHandle()};
}

void PauseFor(std::uint32_t milliseconds) {
    std::function<void()> onPause;
    {
        const auto lock = fake::Lock();
        fake::Record("Sleep " + std::to_string(milliseconds));
        fake::TheWorld().virtualTimeMs += milliseconds;
        onPause = fake::TheWorld().onPause;
    }
    if (onPause) {
        onPause();
    }
}

void AwaitProcessEnd() {
    fake::Record("AwaitProcessEnd");
    throw fake::AwaitingEnd{};
}

}  // namespace platform
