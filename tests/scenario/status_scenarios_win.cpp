#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "scenario/harness_win.h"

using namespace scenario;

namespace {

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (const wchar_t c : text) {
        narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return narrow;
}

std::string Text(const wchar_t* name) {
    return Narrow(ReadText(name).value_or(L"<missing>"));
}

const std::string kMemoryLines =
    "\nMemory in usage: +[0-9]+%"
    "\nPhysical memory: +[0-9]+M\nFree physical memory: +[0-9]+M"
    "\nPaging file: +[0-9]+M\nFree paging file: +[0-9]+M"
    "\nVirtual memory: +[0-9]+M\nFree virtual memory: +[0-9]+M";

bool Matches(const std::string& text, const std::string& pattern) {
    return std::regex_match(text, std::regex(pattern));
}

// The key transitions of the fixture's log as "message virtual-key", whichever window got them.
std::vector<std::string> KeyLines(const std::vector<std::string>& log) {
    std::vector<std::string> keys;
    for (const auto& line : log) {
        std::istringstream words(line);
        std::string role, message, virtualKey;
        words >> role >> message >> virtualKey;
        if (message.rfind("WM_KEY", 0) == 0) {
            keys.push_back(message + " " + virtualKey);
        }
    }
    return keys;
}

}  // namespace

TEST(Status, TheMetricsTextAppearsWithinFiveSecondsOfTheStart) {
    Child browser = StartBrowser();
    Child qelm = StartQelm();
    ASSERT_NE(WaitForController(qelm), nullptr);

    EXPECT_TRUE(Eventually(
        [] {
            return Text(L"activateEventMemoryMetrics").find("Memory in usage") != std::string::npos;
        },
        6s));
    EXPECT_PRED2(Matches, Text(L"activateEventMemoryMetrics"),
                 "Browser WorkingSetSize = [0-9]+K\n" + kMemoryLines);
}

TEST(Status, PaleMoonAndThePluginHostAreMeasuredWithTheirOwnTexts) {
    Child browser =
        StartBrowser(L"palemoon.exe", L"--class MozillaUIWindowClass --title \"Pale Moon\"");
    Child pluginHost = StartBrowser(L"plugin-container.exe", L"--no-window");
    Child qelm = StartQelm();
    ASSERT_NE(WaitForController(qelm), nullptr);

    EXPECT_TRUE(Eventually(
        [] {
            return Text(L"activateEventMemoryMetrics").find("Memory in usage") != std::string::npos;
        },
        6s));
    EXPECT_PRED2(
        Matches, Text(L"activateEventMemoryMetrics"),
        "WorkingSetSize = [0-9]+K \nPlugin-Container WorkingSetSize = [0-9]+K\n" + kMemoryLines);
}

TEST(Status, CommentsFollowStartTabSelectionAndStop) {
    Child browser = StartBrowser();
    StoreSetting(L"activateKVDisplayEvents", 1);
    Child qelm = StartQelm();
    const HWND controller = WaitForController(qelm);
    ASSERT_NE(controller, nullptr);
    EXPECT_PRED2(Matches, Text(L"activateEventComment"),
                 "Starting Lumbrel's Memory Recovery"
                 "Browser WorkingSetSize = [0-9]+K");

    ASSERT_EQ(Send(controller, QelmMessage(), 16, -1), 1);
    ASSERT_EQ(Send(controller, QelmMessage(), 3, 3, 10s), 1);
    EXPECT_PRED2(Matches, Text(L"activateEventComment"),
                 "Memory Recovery Between A Tab Selection\nBrowser WorkingSetSize = [0-9]+K\n\n");

    Send(controller, QelmExitMessage(), 0, 0, 3s);
    ASSERT_EQ(qelm.WaitForExit(10s), 0u);
    EXPECT_PRED2(Matches, Text(L"activateEventComment"),
                 "Stopped Lumbrel's Memory Recovery"
                 "Browser WorkingSetSize = [0-9]+K");
}

TEST(Status, TheStopCommentAfterTheBrowsersEndCarriesNoFigure) {
    Child browser = StartBrowser();
    StoreSetting(L"activateKVDisplayEvents", 1);
    Child qelm = StartQelm();
    ASSERT_NE(WaitForController(qelm), nullptr);

    browser.Kill();

    ASSERT_EQ(qelm.WaitForExit(8s), 0u);
    EXPECT_EQ(ReadText(L"activateEventComment"), L"Stopped Lumbrel's Memory Recovery");
}

TEST(Status, BeepsSoundAtTheStartAndTheFourExitTonesAtTheEnd) {
    Child browser = StartBrowser();
    StoreSetting(L"activateVisualAcc", 1);
    Child qelm = StartQelm({.wineDebug = L"-all,+relay"});
    const HWND controller = WaitForController(qelm);
    ASSERT_NE(controller, nullptr);
    EXPECT_PRED2(Matches, Text(L"activateEventComment"),
                 "Starting Lumbrel's Memory Recovery"
                 "Browser WorkingSetSize = [0-9]+K");

    Send(controller, QelmExitMessage(), 0, 0, 3s);
    ASSERT_EQ(qelm.WaitForExit(10s), 0u);

    std::vector<std::vector<std::string>> beeps;
    for (const auto& line : RelayLines(WineLog())) {
        if (line.function == "KERNEL32.Beep" && !line.isReturn) {
            beeps.push_back(line.arguments);
        }
    }
    const std::vector<std::vector<std::string>> expected = {
        {RelayHex(550), RelayHex(300)},  // start
        {RelayHex(550), RelayHex(300)},  // stop
        {RelayHex(400), RelayHex(100)}, {RelayHex(300), RelayHex(100)},
        {RelayHex(200), RelayHex(100)}, {RelayHex(100), RelayHex(100)},
    };
    EXPECT_EQ(beeps, expected);
}

TEST(Status, TheWindowUnderTheCursorGetsShiftF5AndTheCursorComesBack) {
    const std::wstring log = ScenarioDirectory() + L"\\browser.log";
    Child browser = StartBrowser(L"firefox.exe", L"--log " + log);
    StoreSetting(L"activateKVDisplayEvents", 1);
    SetCursorPos(300, 250);
    // Whether Wine lets another process take the foreground depends on who had it last; with the
    // fixture in front already, the keys reach it either way.
    SetForegroundWindow(FindWindowW(L"MozillaWindowClass", nullptr));
    const std::size_t before = ReadLines(log).size();

    Child qelm = StartQelm();
    ASSERT_NE(WaitForController(qelm), nullptr);

    // Under load Wine now and then drops injected keys meant for another process; every
    // announced tab selection nudges again, and the first nudge that arrives must be whole.
    const HWND controller = FindWindowW(L"qelm", nullptr);
    ASSERT_EQ(Send(controller, QelmMessage(), 16, -1), 1);
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (Eventually(
                [&] {
                    const auto keys = KeyLines(ReadLines(log));
                    return keys.size() >= 4 && keys.back() == "WM_KEYUP 0x10";
                },
                4s)) {
            break;
        }
        Send(controller, QelmMessage(), 3, 3, 10s);
    }
    const auto lines = ReadLines(log);
    const std::vector<std::string> after(lines.begin() + static_cast<std::ptrdiff_t>(before),
                                         lines.end());
    // Wine may drop some keys of a nudge under load; one nudge must arrive whole and in order.
    const auto keys = KeyLines(after);
    const std::vector<std::string> nudge = {"WM_KEYDOWN 0x10", "WM_KEYDOWN 0x74", "WM_KEYUP 0x74",
                                            "WM_KEYUP 0x10"};
    EXPECT_NE(std::search(keys.begin(), keys.end(), nudge.begin(), nudge.end()), keys.end())
        << ::testing::PrintToString(keys);
    POINT cursor{};
    GetCursorPos(&cursor);
    EXPECT_EQ(cursor.x, 300);
    EXPECT_EQ(cursor.y, 250);
}

TEST(Status, EventLoggingReportsTheStopAndThenTheExit) {
    Child browser = StartBrowser();
    StoreSetting(L"activateKVXEventLogging", 1);
    Child qelm = StartQelm({.wineDebug = L"-all,+eventlog"});
    const HWND controller = WaitForController(qelm);
    ASSERT_NE(controller, nullptr);
    const std::size_t mark = WineLog().size();

    Send(controller, QelmExitMessage(), 0, 0, 3s);
    ASSERT_EQ(qelm.WaitForExit(10s), 0u);

    const std::string log = WineLog().substr(mark);
    const std::size_t stop = log.find("Requirement: [ Stop QELM ]");
    const std::size_t exit = log.find("Requirement: [ Exit QELM ]");
    ASSERT_NE(stop, std::string::npos) << log;
    ASSERT_NE(exit, std::string::npos) << log;
    EXPECT_LT(stop, exit);
}
