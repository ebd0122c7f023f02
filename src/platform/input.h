#pragma once

#include <cstdint>

#include "platform/handles.h"

// The cursor and synthetic keyboard input.
namespace platform {

struct Point {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

struct Rect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// The cursor position in screen coordinates; false and position untouched on failure.
bool CursorPosition(Point& position);

// The window at a screen point (WindowFromPoint); none when there is no window there.
WindowHandle WindowAt(Point position);

// The window's client rectangle; false and rect untouched on failure.
bool ClientRect(WindowHandle window, Rect& rect);

// Moves the cursor to a screen point.
void MoveCursor(Point position);

inline constexpr std::uint32_t kKeyUp = 0x0002;  // KEYEVENTF_KEYUP

// Injects one key transition with scan code 0 and extra information 0 (keybd_event).
void InjectKey(std::uint8_t virtualKey, std::uint32_t flags);

}  // namespace platform
