#include "app/commands.h"

#include "app/lifecycle.h"
#include "app/timers.h"
#include "settings/registry_channel.h"
#include "settings/settings.h"

namespace {

enum Command : std::uintptr_t {
    kReload = 1,
    kExit = 2,
    kTabSelection = 3,
    kSetOnStartup = 11,
    kSetStartupDelay = 13,
    kSetPrimaryTimeout = 14,
    kSetTabDelay = 16,
};

void OnTabSelection() {
    const float tabDelay = g_settings.GetTabDelay();
    if (tabDelay > 0) {
        ArmTabDelayTimer(tabDelay);
    } else {
        RunTabSelectionRecovery();
    }
}

// The settings hold 32-bit values; the argument's low 32 bits are what the add-on sent.
std::int32_t Argument32(std::intptr_t lParam) {
    return static_cast<std::int32_t>(lParam);
}

}  // namespace

std::intptr_t OnQelmMessage(std::uintptr_t wParam, std::intptr_t lParam) {
    // While another thread ends the process, this thread goes on answering what is sent to it
    // (so that the exit is never kept waiting), but a command could only add work and comments
    // after the stop; only an exit request is heard, and it waits for the end.
    if (g_bExitStarted.load(std::memory_order_relaxed) && wParam != kExit) {
        return 1;
    }
    switch (wParam) {
        case kReload:
            if (lParam == 2) {
                ReloadSettings();
            }
            break;
        case kExit:
            if (lParam == 2) {
                ExitProgram();
            }
            break;
        case kTabSelection:
            if (lParam == 3 && g_bRecoveryStarted.load(std::memory_order_relaxed)) {
                OnTabSelection();
            }
            break;
        case kSetOnStartup:
            g_settings.SetOnStartup(lParam != 0 ? 1 : 0);
            break;
        case kSetStartupDelay:
            g_settings.SetStartupDelay(Argument32(lParam));
            break;
        case kSetPrimaryTimeout:
            g_settings.SetPrimaryTimeout(Argument32(lParam));
            break;
        case kSetTabDelay:
            g_settings.SetTabDelay(Argument32(lParam));
            break;
        default:
            break;
    }
    return 1;
}

std::intptr_t OnQelmExit() {
    ExitProgram();
    return 1;
}
