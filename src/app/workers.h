#pragma once

#include <atomic>
#include <cstdint>

#include "app/controller.h"
#include "platform/handles.h"

// While true, the worker goes on.
extern std::atomic<bool> g_bBrowserWatchRun;
extern std::atomic<bool> g_bPeriodicRun;
extern std::atomic<bool> g_bMetricsRun;

// The workers' threads; none when a worker was never started or has been parked.
extern std::atomic<platform::ThreadHandle> g_pBrowserWatchThread;
extern std::atomic<platform::ThreadHandle> g_pPeriodicThread;
extern std::atomic<platform::ThreadHandle> g_pMetricsThread;

// Starts the browser watchdog, the periodic re-arming worker and the metrics worker, in that
// order; a worker whose thread cannot be created does not run.
void StartWorkers(CWnd* controller);

// Tells each running worker to leave its loop at its next look at its run flag. Nobody waits:
// a worker blocked in its wait stays blocked until the process ends.
void ParkWorkers();

// Closes the browser-watch and periodic events; the metrics event stays open.
void CloseWakeEvents();

// Worker 1: once woken, checks every 5 seconds that the browser still runs, which ends the
// program when it has gone and global mode is off.
std::uint32_t BrowserWatchProc(void* controller);

// Worker 2: each time it is woken, arms the periodic timer.
std::uint32_t PeriodicRearmProc(void* controller);

// Worker 3: once woken, writes the memory metrics every 5 seconds.
std::uint32_t MetricsProc(void* controller);
