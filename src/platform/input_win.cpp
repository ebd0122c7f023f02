#include <windows.h>

#include "platform/input.h"
#include "platform/wide_win.h"

namespace platform {

bool CursorPosition(Point& position) {
    POINT cursor{};
    if (!GetCursorPos(&cursor)) {
        return false;
    }
    position = Point{cursor.x, cursor.y};
    return true;
}

WindowHandle WindowAt(Point position) {
    return ToHandle<WindowHandle>(WindowFromPoint(POINT{position.x, position.y}));
}

bool ClientRect(WindowHandle window, Rect& rect) {
    RECT client{};
    if (!GetClientRect(ToNative<HWND>(window), &client)) {
        return false;
    }
    rect = Rect{client.left, client.top, client.right, client.bottom};
    return true;
}

void MoveCursor(Point position) {
    SetCursorPos(position.x, position.y);
}

void InjectKey(std::uint8_t virtualKey, std::uint32_t flags) {
    keybd_event(virtualKey, 0, flags, 0);
}

}  // namespace platform
