#include "recovery/trimming.h"

#include <algorithm>

#include "app/failure_box.h"
#include "browser/browser_windows.h"
#include "platform/desktop.h"
#include "platform/processes.h"
#include "recovery/browser_process.h"
#include "recovery/process_walk.h"
#include "settings/registry_channel.h"
#include "settings/settings.h"

namespace {

using platform::ProcessHandle;

// Messages that make the browser drop modal states and settle as if idle.
struct SettlingMessage {
    std::uint32_t message;
    std::uintptr_t wParam;
};
constexpr SettlingMessage kSettlingMessages[] = {
    {0x001F, 0},  // WM_CANCELMODE
    {0x004B, 0},  // WM_CANCELJOURNAL
    {0x0016, 0},  // WM_ENDSESSION, not ending
    {0x0121, 0},  // WM_ENTERIDLE, MSGF_DIALOGBOX
};
constexpr std::uint32_t kSettlingTimeoutMs = 100;

FailureBox g_memoryReleaseFailed;

void TrimOrComplain(ProcessHandle process) {
    if (!platform::TrimWorkingSet(process)) {
        g_memoryReleaseFailed.Show(u"Memory Release Failed", platform::BoxIcon::kWarning);
    }
}

// A target first, then ourselves: the trim itself has touched our own pages.
void TrimTargetAndSelf(ProcessHandle process) {
    TrimOrComplain(process);
    TrimOrComplain(platform::OwnProcess());
}

void SendSettlingMessages(platform::WindowHandle window) {
    for (const auto& settling : kSettlingMessages) {
        std::uintptr_t ignored = 0;
        platform::SendWithTimeout(window, settling.message, settling.wParam, 0,
                                  platform::kSmtoNormal, kSettlingTimeoutMs, ignored);
    }
}

void SettleBrowserWindows() {
    FindBrowserWindows();
    if (const auto inner = g_hBrowserChildWindow.load(std::memory_order_relaxed)) {
        SendSettlingMessages(inner);
    }
    if (const auto main = g_hBrowserWindow.load(std::memory_order_relaxed)) {
        SendSettlingMessages(main);
    }
}

}  // namespace

bool IsBlacklisted(std::u16string_view name, std::u16string_view blacklist) {
    std::size_t start = 0;
    while (start < blacklist.size()) {
        const std::size_t end = std::min(blacklist.find(u';', start), blacklist.size());
        if (end > start && EqualsIgnoringAsciiCase(name, blacklist.substr(start, end - start))) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

void TrimPluginContainer() {
    WalkProcesses([](ProcessHandle process, std::u16string_view name) {
        if (EqualsIgnoringAsciiCase(name, kPluginHostName)) {
            TrimTargetAndSelf(process);
        }
        return true;
    });
}

void TrimGlobalProcesses() {
    EnableDebugPrivilege();
    WalkProcesses([](ProcessHandle process, std::u16string_view name) {
        ReloadSettings();
        if (!IsBlacklisted(name, g_settings.GetBlacklist())) {
            platform::TrimWorkingSet(process);
            platform::TrimWorkingSet(platform::OwnProcess());
        }
        return true;
    });
}

void TrimBrowser() {
    if (!FindBrowserProcess()) {
        return;
    }
    TrimPluginContainer();
    if (IsGlobalEnabled()) {
        TrimGlobalProcesses();
    }
    WalkProcesses([](ProcessHandle process, std::u16string_view name) {
        if (IsBrowserProcessName(name)) {
            TrimTargetAndSelf(process);
            SettleBrowserWindows();
        }
        return true;
    });
}
