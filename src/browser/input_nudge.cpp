#include "browser/input_nudge.h"

#include "browser/browser_windows.h"
#include "platform/desktop.h"
#include "platform/input.h"

namespace {

constexpr std::uint8_t kShift = 0x10;
constexpr std::uint8_t kF5 = 0x74;

// The client rectangle is used as screen coordinates as it is: the cursor lands at x 1, just
// below the height of the window's client area.
void FlickCursor(platform::WindowHandle window, platform::Point home) {
    platform::Rect client;
    platform::ClientRect(window, client);
    platform::MoveCursor({client.left + 1, client.bottom + 5});
    platform::MoveCursor(home);
}

}  // namespace

void SendInputNudge() {
    if (!FindBrowserWindow()) {
        return;
    }
    // Without a window under the cursor (or a cursor that cannot be read) there is nothing to
    // bring forward or measure; the keys still go to whichever window is in the foreground.
    platform::Point cursor;
    if (platform::CursorPosition(cursor)) {
        if (const auto window = platform::WindowAt(cursor)) {
            platform::BringToForeground(window);
            FlickCursor(window, cursor);
        }
    }
    platform::InjectKey(kShift, 0);
    platform::InjectKey(kF5, 0);
    platform::InjectKey(kF5, platform::kKeyUp);
    platform::InjectKey(kShift, platform::kKeyUp);
}
