#include <windows.h>

#include "platform/desktop.h"
#include "platform/wide_win.h"

namespace platform {

std::uint32_t RegisterMessageName(const char16_t* name) {
    return RegisterWindowMessageW(Wide(name));
}

namespace {

BOOL CALLBACK VisitWindow(HWND window, LPARAM visit) {
    const auto& callback = *reinterpret_cast<const std::function<bool(WindowHandle)>*>(visit);
    return callback(ToHandle<WindowHandle>(window)) ? TRUE : FALSE;
}

}  // namespace

void EnumTopLevelWindows(const std::function<bool(WindowHandle)>& visit) {
    EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&visit));
}

bool SendWithTimeout(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                     std::intptr_t lParam, std::uint32_t flags, std::uint32_t timeoutMs,
                     std::uintptr_t& result) {
    DWORD_PTR reply = 0;
    if (SendMessageTimeoutW(ToNative<HWND>(window), message, wParam, lParam, flags, timeoutMs,
                            &reply) == 0) {
        return false;
    }
    result = reply;
    return true;
}

bool BringToForeground(WindowHandle window) {
    return SetForegroundWindow(ToNative<HWND>(window)) != FALSE;
}

bool IsMaximized(WindowHandle window) {
    return IsZoomed(ToNative<HWND>(window)) != FALSE;
}

void ShowWindowAs(WindowHandle window, int command) {
    ShowWindow(ToNative<HWND>(window), command);
}

}  // namespace platform
