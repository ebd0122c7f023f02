#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "app/controller.h"
#include "app/lifecycle.h"
#include "app/timers.h"
#include "app/wake_events.h"
#include "app/workers.h"
#include "browser/browser_windows.h"
#include "fake/world.h"
#include "settings/settings.h"

// A fresh world and the system's process-wide state as the process starts, with controller as
// the controller window. Unit tests and fuzz inputs both start here, so that each runs alone.
inline void StartFreshProcess(CWnd* controller) {
    fake::ResetWorld();
    std::destroy_at(&g_settings);
    std::construct_at(&g_settings);
    g_bRecoveryStarted = false;
    g_bExitStarted = false;
    for (auto* run : {&g_bBrowserWatchRun, &g_bPeriodicRun, &g_bMetricsRun}) {
        *run = true;
    }
    for (auto* slot : {&g_pBrowserWatchThread, &g_pPeriodicThread, &g_pMetricsThread}) {
        *slot = platform::ThreadHandle{};
    }
    for (auto* event : {&g_evBrowserWatch, &g_evPeriodic, &g_evMetrics}) {
        *event = platform::EventHandle{};
    }
    g_hBrowserWindow = platform::WindowHandle{};
    g_hBrowserChildWindow = platform::WindowHandle{};
    for (auto* timer : kTimerVariables) {
        *timer = 0;
    }
    g_pController = controller;
}

// The key as a fresh installation leaves it: the fourteen values in the order they are written.
inline void PutDefaultSettings() {
    fake::PutText(u"currentVersion", u"none");
    fake::PutText(u"blacklist", u"none");
    const std::pair<const char16_t*, std::int32_t> dwords[] = {
        {u"nRunCnt", 0},
        {u"app_1", 1},
        {u"activateKVDisplayEvents", 0},
        {u"activateVisualAcc", 0},
        {u"activateKVXonStartup", 0},
        {u"startupDelay", 0},
        {u"tabDelay", 0},
        {u"global", 0},
        {u"primaryTimeout", 1},
        {u"activateKVXEventLogging", 0},
        {u"startKVX", 0},
        {u"kvxRestart", 0},
    };
    for (const auto& [name, value] : dwords) {
        fake::PutDword(name, value);
    }
}
