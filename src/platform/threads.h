#pragma once

#include <cstdint>

#include "platform/handles.h"

// Events and pauses of the worker threads.
namespace platform {

// Creates or opens a named mutex, not initially owned, default security; lastError receives the
// thread's last error right after the call (ERROR_ALREADY_EXISTS when it existed already).
MutexHandle CreateNamedMutex(const char16_t* name, std::uint32_t& lastError);

// An unnamed manual-reset event, initially non-signalled, default security; none on failure.
EventHandle CreateManualResetEvent();

// Releases an event handle.
void CloseEvent(EventHandle event);

}  // namespace platform
