#include "browser/browser_windows.h"

#include <string>
#include <vector>

#include "system_test.h"

namespace {

using platform::WindowHandle;

constexpr std::uint32_t kKillFocus = 0x0008;
constexpr std::uint32_t kDestroy = 0x0002;

class BrowserWindows : public SystemTest {
  protected:
    // A browser as Firefox shows it: main window, inner window, content window.
    void AddBrowserTree() {
        main = fake::AddWindow(u"MozillaWindowClass", u"Start Page - Mozilla Firefox");
        inner = fake::AddWindow(u"MozillaWindowClass", u"", main);
        content = fake::AddWindow(u"MozillaContentWindowClass", u"", inner);
    }

    // The messages sent to window, as message numbers in order.
    std::vector<std::uint32_t> MessagesTo(WindowHandle window) const {
        std::vector<std::uint32_t> messages;
        for (const auto& sent : fake::TheWorld().sent) {
            if (sent.window == window) {
                messages.push_back(sent.message);
            }
        }
        return messages;
    }

    WindowHandle main;
    WindowHandle inner;
    WindowHandle content;
};

struct Recognition {
    std::u16string className;
    std::u16string title;
    bool isBrowser;
};

TEST_F(BrowserWindows, RecognisesAMainWindowByItsClassAndATitleMark) {
    const Recognition cases[] = {
        {u"MozillaWindowClass", u"Some page - Mozilla Firefox", true},
        {u"MozillaWindowClass", u"Firefox is what the page says", true},
        {u"MozillaUIWindowClass", u"Pale Moon", true},
        {u"MozillaUIWindowClass", u"Namoroka", true},
        {u"MozillaWindowClass", u"Minefield nightly", true},
        {u"MozillaWindowClass", u"a page about firefox", false},
        {u"MozillaUIWindowClass", u"", false},
        {u"Chrome_WidgetWin_1", u"Pale Moon", false},
        {u"mozillawindowclass", u"Mozilla Firefox", false},
        {u"MozillaContentWindowClass", u"Mozilla Firefox", false},
    };
    for (const auto& recognition : cases) {
        const auto window = fake::AddWindow(recognition.className, recognition.title);
        EXPECT_EQ(IsBrowserWindow(window), recognition.isBrowser)
            << fake::Narrow(recognition.className) << " / " << fake::Narrow(recognition.title);
    }
}

TEST_F(BrowserWindows, SeesOnlyTheTitleThatFitsTheBuffer) {
    const auto fits =
        fake::AddWindow(u"MozillaWindowClass", std::u16string(1016, u'x') + u"Firefox");
    const auto cut =
        fake::AddWindow(u"MozillaWindowClass", std::u16string(1017, u'x') + u"Firefox");
    EXPECT_TRUE(IsBrowserWindow(fits));
    EXPECT_FALSE(IsBrowserWindow(cut));
}

TEST_F(BrowserWindows, AWindowThatHasGoneMatchesNothing) {
    const auto window = fake::AddWindow(u"MozillaWindowClass", u"Mozilla Firefox");
    fake::FindWindow(window)->gone = true;
    EXPECT_FALSE(IsBrowserWindow(window));
    EXPECT_FALSE(FindBrowserWindow());
}

TEST_F(BrowserWindows, TheFirstMatchInEnumerationOrderWinsChildWindowsIncluded) {
    const auto editor = fake::AddWindow(u"Notepad", u"notes");
    const auto embedded = fake::AddWindow(u"MozillaUIWindowClass", u"Pale Moon", editor);
    fake::AddWindow(u"MozillaWindowClass", u"Mozilla Firefox");
    EXPECT_EQ(FindBrowserWindow(), embedded);
}

TEST_F(BrowserWindows, ASearchThatFindsNothingClearsBothResults) {
    g_hBrowserWindow = WindowHandle{0x999};
    g_hBrowserChildWindow = WindowHandle{0x998};
    fake::AddWindow(u"Notepad", u"Firefox notes");

    FindBrowserWindows();

    EXPECT_FALSE(g_hBrowserWindow.load());
    EXPECT_FALSE(g_hBrowserChildWindow.load());
    EXPECT_TRUE(fake::TheWorld().sent.empty());
}

TEST_F(BrowserWindows, FindsTheMainAndInnerWindows) {
    AddBrowserTree();
    FindBrowserWindows();
    EXPECT_EQ(g_hBrowserWindow.load(), main);
    EXPECT_EQ(g_hBrowserChildWindow.load(), inner);
}

TEST_F(BrowserWindows, AFirstChildOfAnotherClassIsNoInnerWindowAndItsPlaceholdersAreLeftAlone) {
    main = fake::AddWindow(u"MozillaWindowClass", u"Mozilla Firefox");
    fake::AddWindow(u"GeckoToolbar", u"", main);
    inner = fake::AddWindow(u"MozillaWindowClass", u"", main);
    content = fake::AddWindow(u"MozillaContentWindowClass", u"", inner);
    fake::AddWindow(u"SWFlash_PlaceholderX", u"DummyWindowless", content);

    FindBrowserWindows();

    EXPECT_EQ(g_hBrowserWindow.load(), main);
    EXPECT_FALSE(g_hBrowserChildWindow.load());
    EXPECT_TRUE(fake::TheWorld().sent.empty());
}

TEST_F(BrowserWindows, OnlyMarkedPlaceholdersAreToldToLetGoOncePerContentWindowAboveThem) {
    AddBrowserTree();
    const auto nested = fake::AddWindow(u"MozillaContentWindowClass", u"", content);
    const auto marked = fake::AddWindow(u"SWFlash_PlaceholderX", u"x DummyWindowless 2", nested);
    const auto unmarked = fake::AddWindow(u"SWFlash_PlaceholderX", u"Other", nested);
    const auto otherClass = fake::AddWindow(u"Static", u"DummyWindowless", nested);

    FindBrowserWindows();

    EXPECT_EQ(MessagesTo(marked),
              (std::vector<std::uint32_t>{kKillFocus, kDestroy, kKillFocus, kDestroy}));
    EXPECT_TRUE(MessagesTo(unmarked).empty());
    EXPECT_TRUE(MessagesTo(otherClass).empty());
    for (const auto& sent : fake::TheWorld().sent) {
        EXPECT_EQ(sent.wParam, 0u);
        EXPECT_EQ(sent.lParam, 0);
        EXPECT_EQ(sent.flags, 0u);
        EXPECT_EQ(sent.timeoutMs, 100u);
    }
}

TEST_F(BrowserWindows, APlaceholderThatNeverAnswersDoesNotStopTheWalk) {
    AddBrowserTree();
    const auto silent = fake::AddWindow(u"SWFlash_PlaceholderX", u"DummyWindowless", content);
    const auto answering = fake::AddWindow(u"SWFlash_PlaceholderX", u"DummyWindowless", content);
    fake::FindWindow(answering)->reply = 0;

    FindBrowserWindows();

    EXPECT_EQ(MessagesTo(silent), (std::vector<std::uint32_t>{kKillFocus, kDestroy}));
    EXPECT_EQ(MessagesTo(answering), (std::vector<std::uint32_t>{kKillFocus, kDestroy}));
}

}  // namespace
