#include "app/startup.h"

#include "app/controller.h"
#include "app/lifecycle.h"
#include "app/timers.h"
#include "platform/desktop.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/threads.h"
#include "recovery/browser_process.h"
#include "settings/registry_channel.h"
#include "settings/settings.h"
#include "settings/text_format.h"

std::u16string g_strStartupTrace;

namespace {

constexpr std::uint32_t kProbeTimeoutMs = 500;

platform::WindowHandle FindWindowAnswering(std::uint32_t probeMessage) {
    platform::WindowHandle answering;
    platform::EnumTopLevelWindows([&](platform::WindowHandle window) {
        std::uintptr_t reply = 0;
        const bool answered = platform::SendWithTimeout(
            window, probeMessage, 0, 0, platform::kSmtoBlock | platform::kSmtoAbortIfHung,
            kProbeTimeoutMs, reply);
        if (answered && reply == probeMessage) {
            answering = window;
            return false;
        }
        return true;
    });
    return answering;
}

void BringForward(platform::WindowHandle window) {
    platform::BringToForeground(window);
    platform::ShowWindowAs(
        window, platform::IsMaximized(window) ? platform::kSwMaximize : platform::kSwRestore);
}

bool EnsureKeyExists() {
    platform::KeyHandle key;
    if (platform::OpenUserKey(kQelmKey, platform::KeyAccess::kAll, key) == 0) {
        platform::CloseKey(key);
        return true;
    }
    return CreateDefaultSettings();
}

}  // namespace

platform::MutexHandle TakeSingleInstanceMutex(std::uint32_t probeMessage) {
    std::uint32_t lastError = 0;
    const auto mutex = platform::CreateNamedMutex(u"qelm-SingleInstance", lastError);
    // A mutex we may not open belongs to another user's running copy.
    if (lastError == platform::kErrorAlreadyExists || lastError == platform::kErrorAccessDenied) {
        if (const auto first = FindWindowAnswering(probeMessage)) {
            BringForward(first);
        }
        platform::ExitThroughRuntime(0);
    }
    return mutex;
}

void CheckBrowserAtStartup() {
    if (!FindBrowserProcess()) {
        platform::EndProcess(0);
    }
}

void PrepareSettingsAndStart() {
    if (!EnsureKeyExists()) {
        platform::ShowMessageBox(ControllerWindow(), u"Problem Creating Registry Settings",
                                 platform::BoxIcon::kNone);
        platform::EndProcess(0);
    }
    // The stored settings apply from the first moment, the start-up delay among them.
    ReloadSettings();
    platform::InitializeCom();
    const std::int32_t startupDelay = g_settings.GetStartupDelay();
    g_strStartupTrace = u"nQELMStartupDelay = " + FormatDecimal(startupDelay);
    platform::DebugOutput(g_strStartupTrace);
    if (startupDelay > 0) {
        ArmStartupDelayTimer(static_cast<float>(startupDelay));
    } else {
        StartRecovery();
    }
}
