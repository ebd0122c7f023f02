#include "app/lifecycle.h"

#include "platform/shell.h"
#include "recovery/trimming.h"
#include "settings/registry_channel.h"
#include "settings/settings.h"

std::atomic<bool> g_bRecoveryStarted{false};

void StartRecovery() {
    g_bRecoveryStarted.store(true, std::memory_order_relaxed);
    TrimBrowser();
    if (IsGlobalEnabled()) {
        TrimGlobalProcesses();
    }
}

void ExitProgram() {
    // When "global" cannot be read the flag keeps its value and decides.
    RefreshGlobalForExit();
    if (g_settings.GetGlobal()) {
        return;
    }
    platform::UninitializeCom();
    platform::EndProcess(0);
}
