#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "scenario/harness_win.h"

using namespace scenario;

namespace {

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring TitleOf(HWND window) {
    wchar_t title[256] = {};
    GetWindowTextW(window, title, 256);
    return title;
}

struct ExpectedDword {
    const wchar_t* name;
    DWORD value;
};

}  // namespace

TEST(Startup, WithoutABrowserEndsWithZeroAndCreatesNoKey) {
    Child qelm = StartQelm();
    EXPECT_EQ(qelm.WaitForExit(15s), 0u);
    EXPECT_FALSE(KeyExists());
    EXPECT_EQ(FindWindowW(L"qelm", nullptr), nullptr);
}

TEST(Startup, AFreshProfileGetsExactlyTheFourteenDefaults) {
    Child browser = StartBrowser();
    Child qelm = StartQelm();
    ASSERT_NE(WaitForController(qelm), nullptr);

    const auto values = KeyValues();
    EXPECT_EQ(values.size(), 14u);
    for (const auto& text : {L"currentVersion", L"blacklist"}) {
        const auto found = std::find_if(values.begin(), values.end(),
                                        [&](const Value& v) { return v.name == text; });
        ASSERT_NE(found, values.end());
        EXPECT_EQ(found->type, static_cast<DWORD>(REG_SZ));
        // Written as 8 bytes; the registry may keep a terminator after them.
        EXPECT_TRUE(found->data.size() == 8 || found->data.size() == 10) << found->data.size();
        EXPECT_EQ(ReadText(text), L"none");
    }
    const ExpectedDword dwords[] = {
        {L"nRunCnt", 0},
        {L"app_1", 1},
        {L"activateKVDisplayEvents", 0},
        {L"activateVisualAcc", 0},
        {L"activateKVXonStartup", 0},
        {L"startupDelay", 0},
        {L"tabDelay", 0},
        {L"global", 0},
        {L"primaryTimeout", 1},
        {L"activateKVXEventLogging", 0},
        {L"startKVX", 0},
        {L"kvxRestart", 0},
    };
    for (const auto& expected : dwords) {
        EXPECT_EQ(ReadDword(expected.name), expected.value)
            << std::string(expected.name, expected.name + wcslen(expected.name));
    }
    EXPECT_TRUE(qelm.Running());
}

TEST(Startup, TheControllerIsOneHiddenWindowOfClassQelmTitledLumbrel) {
    Child browser = StartBrowser();
    Child qelm = StartQelm();
    const HWND controller = WaitForController(qelm);
    ASSERT_NE(controller, nullptr);

    EXPECT_EQ(ClassOf(controller), L"qelm");
    EXPECT_EQ(TitleOf(controller), L"Lumbrel");
    EXPECT_FALSE(IsWindowVisible(controller));
    EXPECT_FALSE(GetWindowLongW(controller, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_TRUE(GetWindowLongW(controller, GWL_EXSTYLE) & WS_EX_LAYERED);
    RECT bounds{};
    GetWindowRect(controller, &bounds);
    EXPECT_EQ(bounds.left, -100);
    EXPECT_EQ(bounds.top, -100);
    EXPECT_EQ(bounds.right - bounds.left, 0);
    EXPECT_EQ(bounds.bottom - bounds.top, 0);

    // Nobody outside can show it.
    ShowWindow(controller, SW_SHOW);
    SetWindowPos(controller, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    EXPECT_FALSE(IsWindowVisible(controller));

    // Enter and Escape do not close it.
    PostMessageW(controller, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(controller, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(Send(controller, WM_NULL, 0, 0), 0);
    EXPECT_TRUE(qelm.Running());
}

TEST(Startup, ASecondCopyEndsWithZeroAndLeavesTheFirstAlone) {
    Child browser = StartBrowser();
    Child first = StartQelm();
    const HWND controller = WaitForController(first);
    ASSERT_NE(controller, nullptr);

    Child second = StartQelm();
    EXPECT_EQ(second.WaitForExit(15s), 0u);
    EXPECT_TRUE(first.Running());
    EXPECT_EQ(FindWindowW(L"qelm", nullptr), controller);
    EXPECT_FALSE(IsWindowVisible(controller));
    EXPECT_EQ(Send(controller, QelmMessage(), 1, 2), 1);
}

TEST(Startup, CommandLineArgumentsChangeNothing) {
    Child browser = StartBrowser();
    Child qelm = StartQelm({.arguments = L"/global 1 -exit --startupDelay=5 \"quoted arg\" /?"});
    const HWND controller = WaitForController(qelm);
    ASSERT_NE(controller, nullptr);
    EXPECT_EQ(KeyValues().size(), 14u);
    EXPECT_EQ(ReadDword(L"global"), 0u);
    EXPECT_EQ(TitleOf(controller), L"Lumbrel");
    EXPECT_TRUE(qelm.Running());
}

TEST(Startup, TheBrowserKeepsTheForegroundAndTheFocusThroughStartAndEveryCommand) {
    const std::wstring log = ScenarioDirectory() + L"\\browser.log";
    Child browser = StartBrowser(L"firefox.exe", L"--log " + log);
    const HWND main = FindWindowW(L"MozillaWindowClass", nullptr);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(Eventually([&] { return GetForegroundWindow() == main; }));

    Child qelm = StartQelm();
    const HWND controller = WaitForController(qelm);
    ASSERT_NE(controller, nullptr);
    const std::pair<WPARAM, LPARAM> commands[] = {{1, 2},  {11, 1}, {13, 0},  {14, 1},
                                                  {16, 0}, {3, 3},  {16, -1}, {3, 3}};
    for (const auto& [command, argument] : commands) {
        ASSERT_EQ(Send(controller, QelmMessage(), command, argument, 10s), 1);
    }

    EXPECT_EQ(GetForegroundWindow(), main);
    const auto lines = ReadLines(log);
    EXPECT_EQ(std::count_if(
                  lines.begin(), lines.end(),
                  [](const std::string& line) { return line.starts_with("main WM_KILLFOCUS"); }),
              0);
}

TEST(Startup, AFailureBoxOnceDismissedLeavesTheForegroundWhereItWas) {
    Child browser = StartBrowser();
    Child editor = StartBrowser(L"editor.exe", L"--class Editor --title Editor");
    const HWND editorWindow = FindWindowW(L"Editor", nullptr);
    Child qelm = StartQelm();
    const HWND controller = WaitForController(qelm);
    ASSERT_NE(controller, nullptr);
    // Global mode as last loaded, then its value gone: once the browser has gone the watchdog
    // cannot read whether to stay, says so in a box, and stays on the flag it holds.
    WriteDword(L"global", 1);
    ASSERT_EQ(Send(controller, QelmMessage(), 1, 2), 1);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Qelm", L"global");
    SetForegroundWindow(editorWindow);
    ASSERT_TRUE(Eventually([&] { return GetForegroundWindow() == editorWindow; }));

    browser.Kill();
    HWND box = nullptr;
    ASSERT_TRUE(Eventually(
        [&] {
            box = FindWindowW(L"#32770", nullptr);
            return box != nullptr;
        },
        10s));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(Eventually([&] { return !IsWindow(box); }));

    EXPECT_TRUE(Eventually([&] { return GetForegroundWindow() == editorWindow; }, 2s));
    Sleep(500);
    EXPECT_EQ(GetForegroundWindow(), editorWindow);
    EXPECT_TRUE(qelm.Running());
}
