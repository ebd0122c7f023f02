#pragma once

#include <cstdint>
#include <string>

#include "platform/handles.h"

// The trace text of the controller's start-up decision.
extern std::u16string g_strStartupTrace;

// Takes the single-instance mutex. A second copy probes the top-level windows for a first copy
// that answers probeMessage, brings it forward and ends through the runtime with exit code 0.
platform::MutexHandle TakeSingleInstanceMutex(std::uint32_t probeMessage);

// Ends the process at once when no browser runs.
void CheckBrowserAtStartup();

// Makes sure the key exists (with defaults when it was missing), loads the settings, and starts
// recovery at once or after the stored start-up delay.
void PrepareSettingsAndStart();
