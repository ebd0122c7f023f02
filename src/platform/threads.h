#pragma once

#include <cstdint>

#include "platform/handles.h"

// Events and pauses of the worker threads.
namespace platform {

// Creates or opens a named mutex, not initially owned, default security; lastError receives the
// thread's last error right after the call (ERROR_ALREADY_EXISTS when it existed already).
MutexHandle CreateNamedMutex(const char16_t* name, std::uint32_t& lastError);

// Waits at most timeoutMs to own the mutex; true when owned, also when its last owner ended
// without releasing it.
bool AcquireMutex(MutexHandle mutex, std::uint32_t timeoutMs);

// Gives up the ownership of a mutex that the calling thread owns (ReleaseMutex).
void ReleaseOwnedMutex(MutexHandle mutex);

// Releases a mutex handle.
void CloseMutex(MutexHandle mutex);

// Creates or opens a named manual-reset event, initially non-signalled when it is created,
// default security; an existing one keeps its state. None on failure.
EventHandle CreateNamedEvent(const char16_t* name);

// An unnamed manual-reset event, initially non-signalled, default security; none on failure.
EventHandle CreateManualResetEvent();

// Releases an event handle.
void CloseEvent(EventHandle event);

// Sets the event to signalled (SetEvent).
void SignalEvent(EventHandle event);

// Sets the event to non-signalled (ResetEvent).
void ClearEvent(EventHandle event);

// Waits without a time-out for the event; true when the wait reports it signalled.
bool WaitForEvent(EventHandle event);

using ThreadProcedure = std::uint32_t (*)(void* parameter);

// Starts a thread at normal priority with the default stack, not suspended, default security;
// its handle stays open. None when the thread cannot be created.
ThreadHandle StartThread(ThreadProcedure procedure, void* parameter);

// Suspends the calling thread for the given milliseconds (Sleep).
void PauseFor(std::uint32_t milliseconds);

// Milliseconds since the system started (GetTickCount64); only differences mean anything.
std::uint64_t TickCount();

// Blocks the calling thread until the process ends, which another thread is bringing about.
// Meanwhile the messages sent to the thread's windows are answered, since the thread that ends
// the process may be waiting for one of those answers.
[[noreturn]] void AwaitProcessEnd();

}  // namespace platform
