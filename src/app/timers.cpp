#include "app/timers.h"

#include <cmath>
#include <string>

#include "app/announcement.h"
#include "app/controller.h"
#include "app/failure_box.h"
#include "app/lifecycle.h"
#include "app/wake_events.h"
#include "platform/shell.h"
#include "platform/threads.h"
#include "recovery/trimming.h"
#include "settings/diagnostics.h"
#include "settings/registry_channel.h"
#include "settings/settings.h"

std::atomic<std::uintptr_t> m_TimerID_1{0};
std::atomic<std::uintptr_t> m_TimerID_2{0};
std::atomic<std::uintptr_t> m_TimerID_3{0};
std::atomic<std::uintptr_t> m_TimerID_4{0};
std::atomic<std::uintptr_t> m_TimerID_5{0};
std::atomic<std::uintptr_t> m_TimerID_6{0};

std::atomic<std::int32_t> g_msPerSecond{1000};
std::atomic<std::int32_t> g_msPerMinute{60000};

namespace {

constexpr auto kOrder = std::memory_order_relaxed;
constexpr std::uint32_t kLongestPeriodMs = 0x7FFFFFFF;

// What tells a timer's arming failure, one box per timer.
struct TimerFailure {
    const char16_t* text;
    FailureBox box;
};
TimerFailure g_periodicTimerFailure{u"Unable to get timer. m_TimerID_2", {}};
TimerFailure g_tabDelayTimerFailure{u"Unable to get timer. m_TimerID_5", {}};
TimerFailure g_startupDelayTimerFailure{u"Unable to get timer. m_TimerID_6", {}};

// The variable says armed from before SetTimer on: the timer may fire, and its tick run and clear
// the variable, before SetTimer has returned. The result is stored only while the variable still
// holds the mark, so such a tick leaves it disarmed, as its timer is, never armed without one.
void ArmTimer(std::atomic<std::uintptr_t>& variable, std::uintptr_t id, std::uint32_t periodMs,
              TimerFailure& failure) {
    std::uintptr_t disarmed = 0;
    if (!variable.compare_exchange_strong(disarmed, id, kOrder)) {
        return;
    }
    const auto timer = platform::StartWindowTimer(ControllerWindow(), id, periodMs);
    std::uintptr_t marked = id;
    variable.compare_exchange_strong(marked, timer, kOrder);
    if (timer == 0) {
        failure.box.Show(failure.text, platform::BoxIcon::kNone);
    }
}

void KillTimer(std::atomic<std::uintptr_t>& variable, std::uintptr_t id) {
    platform::StopWindowTimer(ControllerWindow(), id);
    variable.store(0, kOrder);
}

void TrimGlobalIfEnabled() {
    if (IsGlobalEnabled()) {
        TrimGlobalProcesses();
    }
}

}  // namespace

std::uint32_t TimerPeriodMs(std::int64_t unitMs, float argument) {
    const long double period = std::trunc(static_cast<long double>(unitMs) * argument);
    if (period < 0 || period > kLongestPeriodMs) {
        return kLongestPeriodMs;
    }
    return static_cast<std::uint32_t>(period);
}

void ArmPeriodicTimer(float seconds) {
    ArmTimer(m_TimerID_2, kPeriodicTimerId, TimerPeriodMs(g_msPerSecond.load(kOrder), seconds),
             g_periodicTimerFailure);
}

void ArmTabDelayTimer(float minutes) {
    const std::int64_t unit = std::int64_t{g_msPerSecond.load(kOrder)} * 60;
    ArmTimer(m_TimerID_5, kTabDelayTimerId, TimerPeriodMs(unit, minutes), g_tabDelayTimerFailure);
}

void ArmStartupDelayTimer(float minutes) {
    ArmTimer(m_TimerID_6, kStartupDelayTimerId, TimerPeriodMs(g_msPerMinute.load(kOrder), minutes),
             g_startupDelayTimerFailure);
}

void KillArmedTimers() {
    for (std::size_t index = 0; index < kTimerVariables.size(); ++index) {
        if (kTimerVariables[index]->load(kOrder) != 0) {
            KillTimer(*kTimerVariables[index], kFirstTimerId + index);
        }
    }
}

void DispatchTimer(std::uintptr_t id) {
    // A tick that a box's loop dispatches while another thread ends the process would only add
    // a recovery and a comment after the stop.
    if (g_bExitStarted.load(kOrder)) {
        return;
    }
    switch (id) {
        case kPeriodicTimerId:
            OnPeriodicTick();
            break;
        case kTabDelayTimerId:
            OnTabDelayTick();
            break;
        case kStartupDelayTimerId:
            OnStartupDelayTick();
            break;
        default:
            break;
    }
}

void OnPeriodicTick() {
    KillTimer(m_TimerID_2, kPeriodicTimerId);
    Announce(u"Memory Recovery For Periodic Wait Has Been Checked", CommentLayout::kShort);
    if (g_settings.GetApp1()) {
        TrimBrowser();
    }
    TrimGlobalIfEnabled();
    if (g_settings.GetEventLogging()) {
        LogRequirement(u"Requirement: [ PeriodicRAM ]");
    }
    // Last, so that worker 2 re-arms only after this tick's work is done.
    if (const auto periodic = g_evPeriodic.load(kOrder)) {
        platform::SignalEvent(periodic);
    }
}

void OnTabDelayTick() {
    KillTimer(m_TimerID_5, kTabDelayTimerId);
    RunTabSelectionRecovery();
}

void OnStartupDelayTick() {
    KillTimer(m_TimerID_6, kStartupDelayTimerId);
    StartRecovery();
}

void RunTabSelectionRecovery() {
    if (!g_settings.GetApp1()) {
        return;
    }
    Announce(u"Memory Recovery Between A Tab Selection", CommentLayout::kLong);
    TrimBrowser();
    TrimGlobalIfEnabled();
}
