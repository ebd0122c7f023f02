#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "app/controller.h"
#include "app/lifecycle.h"
#include "app/timers.h"
#include "app/wake_events.h"
#include "app/workers.h"
#include "browser/browser_windows.h"
#include "fake/world.h"
#include "settings/settings.h"

// Every test starts from a fresh world and from the system's state as the process starts.
class SystemTest : public ::testing::Test {
  protected:
    void SetUp() override {
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
        for (auto* timer :
             {&m_TimerID_1, &m_TimerID_2, &m_TimerID_3, &m_TimerID_4, &m_TimerID_5, &m_TimerID_6}) {
            *timer = 0;
        }
        g_pController = &controller;
    }

    void TearDown() override { g_pController = nullptr; }

    fake::World& world() { return fake::TheWorld(); }

    // A browser for recovery to find, so that starting recovery does not end the process.
    static std::uint32_t AddBrowser() { return fake::AddProcess(u"firefox.exe", 64 << 20); }

    // Runs a procedure that is expected to end the process; answers the exit code.
    template <class Procedure>
    std::optional<std::uint32_t> ExitCodeOf(Procedure procedure) {
        try {
            procedure();
        } catch (const fake::ProcessEnded& ended) {
            return ended.exitCode;
        }
        return std::nullopt;
    }

    CWnd controller{platform::WindowHandle{0x7001}};
};
