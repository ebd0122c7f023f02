#include "fake/world.h"
#include "platform/input.h"

namespace platform {

bool CursorPosition(Point& position) {
    const auto lock = fake::Lock();
    fake::Record("GetCursorPos");
    if (fake::TheWorld().cursorUnreadable) {
        return false;
    }
    position = fake::TheWorld().cursor;
    return true;
}

WindowHandle WindowAt(Point position) {
    const auto lock = fake::Lock();
    fake::Record("WindowFromPoint " + std::to_string(position.x) + " " +
                 std::to_string(position.y));
    return fake::TheWorld().windowUnderCursor;
}

bool ClientRect(WindowHandle window, Rect& rect) {
    const auto lock = fake::Lock();
    const fake::Window* found = fake::FindWindow(window);
    if (found == nullptr || found->gone) {
        return false;
    }
    rect = found->client;
    return true;
}

void MoveCursor(Point position) {
    const auto lock = fake::Lock();
    fake::Record("SetCursorPos " + std::to_string(position.x) + " " + std::to_string(position.y));
    fake::TheWorld().cursor = position;
}

void InjectKey(std::uint8_t virtualKey, std::uint32_t flags) {
    fake::Record("keybd_event " + fake::Hex(virtualKey) + " " + std::to_string(flags));
}

}  // namespace platform
