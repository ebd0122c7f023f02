#include "browser/browser_windows.h"

#include <string>
#include <string_view>

#include "platform/desktop.h"

std::atomic<platform::WindowHandle> g_hBrowserWindow{};
std::atomic<platform::WindowHandle> g_hBrowserChildWindow{};

namespace {

using platform::WindowHandle;

constexpr std::u16string_view kMainWindowClass1 = u"MozillaUIWindowClass";
constexpr std::u16string_view kMainWindowClass2 = u"MozillaWindowClass";
constexpr std::u16string_view kContentWindowClass = u"MozillaContentWindowClass";
constexpr std::u16string_view kPlaceholderClass = u"SWFlash_PlaceholderX";
constexpr std::u16string_view kPlaceholderMark = u"DummyWindowless";
constexpr std::u16string_view kBrowserTitleMarks[] = {u"Pale Moon", u"Firefox", u"Namoroka",
                                                      u"Mozilla Firefox", u"Minefield"};

// Class names and titles are read into buffers of this many characters, terminator included.
constexpr std::uint32_t kTextBuffer = 1024;
// The inner window's class is read with this limit.
constexpr std::uint32_t kInnerClassLimit = 255;

constexpr std::uint32_t kWmDestroy = 0x0002;
constexpr std::uint32_t kWmKillFocus = 0x0008;
constexpr std::uint32_t kPlaceholderTimeoutMs = 100;

bool Contains(std::u16string_view text, std::u16string_view mark) {
    return text.find(mark) != std::u16string_view::npos;
}

bool HasBrowserTitle(std::u16string_view title) {
    for (const auto mark : kBrowserTitleMarks) {
        if (Contains(title, mark)) {
            return true;
        }
    }
    return false;
}

// Visits every descendant, never stopping early.
template <class Visit>
void ForEachDescendant(WindowHandle parent, Visit visit) {
    platform::EnumDescendants(parent, [&](WindowHandle window) {
        visit(window);
        return true;
    });
}

void SendAndForget(WindowHandle window, std::uint32_t message) {
    std::uintptr_t ignored = 0;
    platform::SendWithTimeout(window, message, 0, 0, platform::kSmtoNormal, kPlaceholderTimeoutMs,
                              ignored);
}

}  // namespace

bool IsBrowserWindow(WindowHandle window) {
    const std::u16string windowClass = platform::ClassNameOf(window, kTextBuffer);
    const std::u16string title = platform::TitleOf(window, kTextBuffer);
    if (windowClass != kMainWindowClass1 && windowClass != kMainWindowClass2) {
        return false;
    }
    return HasBrowserTitle(title);
}

WindowHandle FindBrowserWindow() {
    WindowHandle found;
    platform::EnumDescendants(platform::DesktopWindow(), [&found](WindowHandle window) {
        if (!IsBrowserWindow(window)) {
            return true;
        }
        found = window;
        return false;
    });
    return found;
}

void FindBrowserWindows() {
    g_hBrowserChildWindow.store({}, std::memory_order_relaxed);
    g_hBrowserWindow.store({}, std::memory_order_relaxed);
    const WindowHandle browser = FindBrowserWindow();
    g_hBrowserWindow.store(browser, std::memory_order_relaxed);
    if (!browser) {
        return;
    }
    const WindowHandle inner = platform::FirstChild(browser);
    if (platform::ClassNameOf(inner, kInnerClassLimit) != kMainWindowClass2) {
        return;
    }
    g_hBrowserChildWindow.store(inner, std::memory_order_relaxed);
    ForEachDescendant(inner, [](WindowHandle window) {
        if (platform::ClassNameOf(window, kTextBuffer) == kContentWindowClass) {
            DismissFlashPlaceholders(window);
        }
    });
}

void DismissFlashPlaceholders(WindowHandle contentWindow) {
    ForEachDescendant(contentWindow, [](WindowHandle window) {
        if (platform::ClassNameOf(window, kTextBuffer) == kPlaceholderClass &&
            Contains(platform::TitleOf(window, kTextBuffer), kPlaceholderMark)) {
            SendAndForget(window, kWmKillFocus);
            SendAndForget(window, kWmDestroy);
        }
    });
}
