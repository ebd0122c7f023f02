#pragma once

#include <cstdint>
#include <functional>

#include "platform/handles.h"

// Windows of the desktop and the messages sent to them.
namespace platform {

inline constexpr std::uint32_t kSmtoNormal = 0x0;
inline constexpr std::uint32_t kSmtoBlock = 0x1;
inline constexpr std::uint32_t kSmtoAbortIfHung = 0x2;

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

// Whether the window is maximised.
bool IsMaximized(WindowHandle window);

inline constexpr int kSwMaximize = 3;
inline constexpr int kSwRestore = 9;

// ShowWindow with the given command.
void ShowWindowAs(WindowHandle window, int command);

}  // namespace platform
