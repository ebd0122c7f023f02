#include "app/wake_events.h"

#include "platform/threads.h"

std::atomic<platform::EventHandle> g_evBrowserWatch{};
std::atomic<platform::EventHandle> g_evPeriodic{};
std::atomic<platform::EventHandle> g_evMetrics{};

bool CreateWakeEvents() {
    for (auto* event : {&g_evBrowserWatch, &g_evPeriodic, &g_evMetrics}) {
        const auto created = platform::CreateManualResetEvent();
        if (!created) {
            return false;
        }
        event->store(created, std::memory_order_relaxed);
    }
    return true;
}
