#pragma once

#include <atomic>

#include "platform/handles.h"

// The workers' wake-up events: manual-reset, created while the process starts.
extern std::atomic<platform::EventHandle> g_evBrowserWatch;
extern std::atomic<platform::EventHandle> g_evPeriodic;
extern std::atomic<platform::EventHandle> g_evMetrics;

// Creates the three events in order; false when one cannot be created.
bool CreateWakeEvents();
