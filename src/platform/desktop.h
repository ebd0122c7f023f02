#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/handles.h"

// Windows of the desktop and the messages sent to them.
namespace platform {

inline constexpr std::uint32_t kSmtoNormal = 0x0;
inline constexpr std::uint32_t kSmtoBlock = 0x1;
inline constexpr std::uint32_t kSmtoAbortIfHung = 0x2;

// The root of the window tree (GetDesktopWindow).
WindowHandle DesktopWindow();

// Calls visit for every descendant of parent in the platform's order (EnumChildWindows) until
// visit returns false.
void EnumDescendants(WindowHandle parent, const std::function<bool(WindowHandle)>& visit);

// The window's class name (GetClassNameW with a buffer of maxCount characters, terminator
// included); empty when it cannot be read, for instance for a window that no longer exists.
std::u16string ClassNameOf(WindowHandle window, std::uint32_t maxCount);

// The window's title (GetWindowTextW), read and cut like the class name.
std::u16string TitleOf(WindowHandle window, std::uint32_t maxCount);

// The child at the top of the window's Z order (GetWindow with GW_CHILD); none without children.
WindowHandle FirstChild(WindowHandle window);

// The first top-level window of the class (FindWindowW); none when there is none.
WindowHandle FindTopLevelWindow(const char16_t* className);

// The identifier of the process that owns the window; 0 when there is no such window.
std::uint32_t WindowProcessId(WindowHandle window);

// Registers (or finds) a window message by name; 0 on failure.
std::uint32_t RegisterMessageName(const char16_t* name);

// Calls visit for every top-level window until visit returns false.
void EnumTopLevelWindows(const std::function<bool(WindowHandle)>& visit);

// Sends a message and waits at most timeoutMs; true when the window answered, with its reply in
// result. result is untouched on failure.
bool SendWithTimeout(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                     std::intptr_t lParam, std::uint32_t flags, std::uint32_t timeoutMs,
                     std::uintptr_t& result);

// Makes the window the foreground window; false when refused.
bool BringToForeground(WindowHandle window);

// The window the user is working in (GetForegroundWindow); none at times, such as while the
// foreground changes.
WindowHandle ForegroundWindow();

// Whether the window is maximised.
bool IsMaximized(WindowHandle window);

inline constexpr int kSwMaximize = 3;
inline constexpr int kSwRestore = 9;

// ShowWindow with the given command.
void ShowWindowAs(WindowHandle window, int command);

}  // namespace platform
