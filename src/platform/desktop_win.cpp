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

WindowHandle DesktopWindow() {
    return ToHandle<WindowHandle>(GetDesktopWindow());
}

void EnumDescendants(WindowHandle parent, const std::function<bool(WindowHandle)>& visit) {
    EnumChildWindows(ToNative<HWND>(parent), VisitWindow, reinterpret_cast<LPARAM>(&visit));
}

namespace {

// Reads a window text through a cleared buffer, so that a failed read leaves it empty.
template <class Read>
std::u16string ReadWindowText(std::uint32_t maxCount, Read read) {
    std::u16string buffer(maxCount, u'\0');
    const int length = read(reinterpret_cast<wchar_t*>(buffer.data()), static_cast<int>(maxCount));
    buffer.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return buffer;
}

}  // namespace

std::u16string ClassNameOf(WindowHandle window, std::uint32_t maxCount) {
    return ReadWindowText(maxCount, [&](wchar_t* buffer, int count) {
        return GetClassNameW(ToNative<HWND>(window), buffer, count);
    });
}

std::u16string TitleOf(WindowHandle window, std::uint32_t maxCount) {
    return ReadWindowText(maxCount, [&](wchar_t* buffer, int count) {
        return GetWindowTextW(ToNative<HWND>(window), buffer, count);
    });
}

WindowHandle FirstChild(WindowHandle window) {
    return ToHandle<WindowHandle>(GetWindow(ToNative<HWND>(window), GW_CHILD));
}

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

WindowHandle ForegroundWindow() {
    return ToHandle<WindowHandle>(GetForegroundWindow());
}

bool IsMaximized(WindowHandle window) {
    return IsZoomed(ToNative<HWND>(window)) != FALSE;
}

void ShowWindowAs(WindowHandle window, int command) {
    ShowWindow(ToNative<HWND>(window), command);
}

WindowHandle FindTopLevelWindow(const char16_t* className) {
    return ToHandle<WindowHandle>(FindWindowW(Wide(className), nullptr));
}

std::uint32_t WindowProcessId(WindowHandle window) {
    DWORD processId = 0;
    if (GetWindowThreadProcessId(ToNative<HWND>(window), &processId) == 0) {
        return 0;
    }
    return processId;
}

}  // namespace platform
