#include "app/lifecycle.h"

#include "app/announcement.h"
#include "app/controller.h"
#include "app/timers.h"
#include "app/wake_events.h"
#include "app/workers.h"
#include "platform/shell.h"
#include "platform/threads.h"
#include "recovery/memory_metrics.h"
#include "recovery/trimming.h"
#include "settings/diagnostics.h"
#include "settings/registry_channel.h"
#include "settings/settings.h"
#include "settings/status_writers.h"

std::atomic<bool> g_bRecoveryStarted{false};
std::atomic<bool> g_bExitStarted{false};

namespace {

constexpr auto kOrder = std::memory_order_relaxed;

void SignalIfPresent(const std::atomic<platform::EventHandle>& event) {
    if (const auto handle = event.load(kOrder)) {
        platform::SignalEvent(handle);
    }
}

void LogIfEnabled(std::u16string_view text) {
    if (g_settings.GetEventLogging()) {
        LogRequirement(text);
    }
}

void PlayExitTones() {
    for (const std::uint32_t frequency : {400u, 300u, 200u, 100u}) {
        platform::SoundBeep(frequency, 100);
    }
}

}  // namespace

void StartRecovery() {
    g_bRecoveryStarted.store(true, kOrder);
    StartWorkers(g_pController.load(kOrder));
    SignalIfPresent(g_evBrowserWatch);
    for (auto* timer : kTimerVariables) {
        timer->store(0, kOrder);
    }
    LogIfEnabled(u"Requirement: [ Start QELM ]");
    TrimBrowser();
    if (IsGlobalEnabled()) {
        TrimGlobalProcesses();
    }
    SignalIfPresent(g_evPeriodic);
    SignalIfPresent(g_evMetrics);
    Announce(u"Starting Lumbrel's Memory Recovery", CommentLayout::kShort);
}

void StopRecovery() {
    KillArmedTimers();
    ParkWorkers();
    Announce(u"Stopped Lumbrel's Memory Recovery", CommentLayout::kShort);
    LogIfEnabled(u"Requirement: [ Stop QELM ]");
}

void ExitProgram() {
    // Another caller is already ending the process and has decided on "global" for good.
    if (g_bExitStarted.load()) {
        platform::AwaitProcessEnd();
    }
    // When "global" cannot be read the flag keeps its value and decides.
    RefreshGlobalForExit();
    if (g_settings.GetGlobal()) {
        return;
    }
    if (g_bExitStarted.exchange(true)) {
        platform::AwaitProcessEnd();
    }
    platform::PauseFor(33);
    StopRecovery();
    // The notice must be the last metrics text, after any write of the worker under way.
    AwaitMetricsWrites();
    WriteExitMetricsNotice();
    ClearStartFlag();
    CloseWakeEvents();
    LogIfEnabled(u"Requirement: [ Exit QELM ]");
    if (g_settings.GetVisualAcc()) {
        PlayExitTones();
    }
    platform::UninitializeCom();
    platform::EndProcess(0);
}

void ExitWithoutController() {
    ExitProgram();
    // Global mode keeps the process in ExitProgram, but without the controller it can take no
    // more requests, and its workers would go on reaching a controller that is gone.
    platform::EndProcess(0);
}
