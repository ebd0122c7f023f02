#include "app/workers.h"

#include "app/timers.h"
#include "app/wake_events.h"
#include "platform/threads.h"
#include "recovery/browser_process.h"
#include "recovery/memory_metrics.h"
#include "settings/settings.h"

std::atomic<bool> g_bBrowserWatchRun{true};
std::atomic<bool> g_bPeriodicRun{true};
std::atomic<bool> g_bMetricsRun{true};

std::atomic<platform::ThreadHandle> g_pBrowserWatchThread{};
std::atomic<platform::ThreadHandle> g_pPeriodicThread{};
std::atomic<platform::ThreadHandle> g_pMetricsThread{};

namespace {

constexpr auto kOrder = std::memory_order_relaxed;
constexpr std::uint32_t kWorkerPauseMs = 5000;

// Waits for the event until it is signalled, unless the run flag turns false first; answers
// whether the worker was woken. The event is reset, so that one signal wakes it once.
bool WaitUntilWoken(const std::atomic<bool>& run, const std::atomic<platform::EventHandle>& event) {
    for (;;) {
        if (!run.load(kOrder)) {
            return false;
        }
        if (platform::WaitForEvent(event.load(kOrder))) {
            platform::ClearEvent(event.load(kOrder));
            return true;
        }
    }
}

// A worker that, once woken, repeats its work with a pause between passes while it may run.
std::uint32_t RunLoopOnceWoken(const std::atomic<bool>& run,
                               const std::atomic<platform::EventHandle>& event, void (*work)()) {
    if (!WaitUntilWoken(run, event)) {
        return 0;
    }
    while (run.load(kOrder)) {
        work();
        platform::PauseFor(kWorkerPauseMs);
    }
    return 0;
}

void WatchBrowser() {
    FindBrowserProcess();
}

void Park(std::atomic<platform::ThreadHandle>& slot,
          const std::atomic<platform::EventHandle>& event, std::atomic<bool>& run) {
    const auto wakeEvent = event.load(kOrder);
    if (!slot.load(kOrder) || !wakeEvent) {
        return;
    }
    platform::ClearEvent(wakeEvent);
    run.store(false, kOrder);
    slot.store({}, kOrder);
}

void CloseIfPresent(std::atomic<platform::EventHandle>& event) {
    if (const auto handle = event.exchange({}, kOrder)) {
        platform::CloseEvent(handle);
    }
}

}  // namespace

std::uint32_t BrowserWatchProc(void*) {
    return RunLoopOnceWoken(g_bBrowserWatchRun, g_evBrowserWatch, WatchBrowser);
}

std::uint32_t PeriodicRearmProc(void*) {
    while (WaitUntilWoken(g_bPeriodicRun, g_evPeriodic)) {
        // Widened first: minutes times 60 cannot overflow.
        const std::int64_t seconds = std::int64_t{g_settings.GetPrimaryTimeout()} * 60;
        ArmPeriodicTimer(static_cast<float>(seconds));
        platform::PauseFor(kWorkerPauseMs);
    }
    return 0;
}

std::uint32_t MetricsProc(void*) {
    return RunLoopOnceWoken(g_bMetricsRun, g_evMetrics, CollectMemoryMetrics);
}

void StartWorkers(CWnd* controller) {
    g_pBrowserWatchThread.store({}, kOrder);
    g_pPeriodicThread.store({}, kOrder);
    g_pMetricsThread.store({}, kOrder);
    g_pBrowserWatchThread.store(platform::StartThread(BrowserWatchProc, controller), kOrder);
    g_pPeriodicThread.store(platform::StartThread(PeriodicRearmProc, controller), kOrder);
    g_pMetricsThread.store(platform::StartThread(MetricsProc, controller), kOrder);
    g_bBrowserWatchRun.store(true, kOrder);
    g_bPeriodicRun.store(true, kOrder);
    g_bMetricsRun.store(true, kOrder);
    platform::PauseFor(100);
}

void ParkWorkers() {
    Park(g_pBrowserWatchThread, g_evBrowserWatch, g_bBrowserWatchRun);
    Park(g_pPeriodicThread, g_evPeriodic, g_bPeriodicRun);
    Park(g_pMetricsThread, g_evMetrics, g_bMetricsRun);
}

void CloseWakeEvents() {
    CloseIfPresent(g_evBrowserWatch);
    CloseIfPresent(g_evPeriodic);
}
