#include "app/timers.h"

#include <string>

#include "app/controller.h"
#include "app/lifecycle.h"
#include "platform/shell.h"
#include "recovery/trimming.h"
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

void ArmTimer(std::atomic<std::uintptr_t>& variable, std::uintptr_t id, std::uint32_t periodMs,
              const char16_t* failureText) {
    if (variable.load(kOrder) != 0) {
        return;
    }
    const auto timer = platform::StartWindowTimer(ControllerWindow(), id, periodMs);
    variable.store(timer, kOrder);
    if (timer == 0) {
        platform::ShowMessageBox(ControllerWindow(), failureText, platform::BoxIcon::kNone);
    }
}

void KillTimer(std::atomic<std::uintptr_t>& variable, std::uintptr_t id) {
    platform::StopWindowTimer(ControllerWindow(), id);
    variable.store(0, kOrder);
}

}  // namespace

std::uint32_t TimerPeriodMs(std::int64_t unitMs, float argument) {
    constexpr long double kLongestPeriod = 0x7FFFFFFF;
    const long double period = static_cast<long double>(unitMs) * argument;
    if (!(period > 0)) {
        return 0;
    }
    if (period >= kLongestPeriod) {
        return 0x7FFFFFFF;
    }
    return static_cast<std::uint32_t>(period);
}

void ArmTabDelayTimer(float minutes) {
    const std::int64_t unit = std::int64_t{g_msPerSecond.load(kOrder)} * 60;
    ArmTimer(m_TimerID_5, kTabDelayTimerId, TimerPeriodMs(unit, minutes),
             u"Unable to get timer. m_TimerID_5");
}

void ArmStartupDelayTimer(float minutes) {
    ArmTimer(m_TimerID_6, kStartupDelayTimerId, TimerPeriodMs(g_msPerMinute.load(kOrder), minutes),
             u"Unable to get timer. m_TimerID_6");
}

void DispatchTimer(std::uintptr_t id) {
    switch (id) {
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
    TrimBrowser();
    if (IsGlobalEnabled()) {
        TrimGlobalProcesses();
    }
}
