#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "fake/world.h"
#include "platform/threads.h"

namespace {

std::condition_variable_any& Signalled() {
    static std::condition_variable_any signalled;
    return signalled;
}

std::atomic<bool>& StoppingFlag() {
    static std::atomic<bool> stopping{false};
    return stopping;
}

bool Stopping() {
    return StoppingFlag().load();
}

std::vector<std::thread>& RunningThreads() {
    static std::vector<std::thread> threads;
    return threads;
}

}  // namespace

namespace fake {

void StopThreads() {
    std::vector<std::thread> threads;
    {
        const auto lock = Lock();
        StoppingFlag() = true;
        threads.swap(RunningThreads());
        Signalled().notify_all();
    }
    for (auto& thread : threads) {
        thread.join();
    }
    StoppingFlag() = false;
}

}  // namespace fake

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

bool AcquireMutex(MutexHandle mutex, std::uint32_t timeoutMs) {
    const auto lock = fake::Lock();
    fake::Record("WaitForSingleObject mutex " + fake::Hex(mutex.value) + " " +
                 std::to_string(timeoutMs));
    return true;
}

void ReleaseOwnedMutex(MutexHandle mutex) {
    const auto lock = fake::Lock();
    fake::Record("ReleaseMutex " + fake::Hex(mutex.value));
}

void CloseMutex(MutexHandle mutex) {
    const auto lock = fake::Lock();
    fake::Record("CloseHandle mutex " + fake::Hex(mutex.value));
}

EventHandle CreateNamedEvent(const char16_t* name) {
    const auto lock = fake::Lock();
    fake::Record("CreateEvent " + fake::Narrow(name));
    const EventHandle event{fake::NewHandle()};
    fake::TheWorld().eventSignalled[event.value] = false;
    return event;
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
    Signalled().notify_all();
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
    auto lock = fake::Lock();
    auto& world = fake::TheWorld();
    if (world.waitsFail || !event) {
        return false;
    }
    if (world.realThreads) {
        Signalled().wait(
            lock, [&] { return fake::TheWorld().eventSignalled[event.value] || Stopping(); });
    }
    if (!fake::TheWorld().eventSignalled[event.value]) {
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
    if (world.realThreads) {
        RunningThreads().emplace_back([procedure, parameter] {
            try {
                procedure(parameter);
            } catch (const fake::ProcessEnded&) {
            } catch (const fake::AwaitingEnd&) {
            } catch (const fake::ThreadBlocked&) {
            }
        });
    }
    return ThreadHandle{fake::NewHandle()};
}

void PauseFor(std::uint32_t milliseconds) {
    std::function<void()> onPause;
    bool realPause = false;
    {
        const auto lock = fake::Lock();
        fake::Record("Sleep " + std::to_string(milliseconds));
        fake::TheWorld().virtualTimeMs += milliseconds;
        onPause = fake::TheWorld().onPause;
        realPause = fake::TheWorld().realThreads;
    }
    if (realPause) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        // A worker looping between pauses leaves its loop here when the test stops the threads.
        if (Stopping()) {
            throw fake::ThreadBlocked{};
        }
    }
    if (onPause) {
        onPause();
    }
}

std::uint64_t TickCount() {
    const auto lock = fake::Lock();
    return fake::TheWorld().virtualTimeMs;
}

void AwaitProcessEnd() {
    fake::Record("AwaitProcessEnd");
    throw fake::AwaitingEnd{};
}

}  // namespace platform
