#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "scenario/harness_win.h"

using namespace scenario;

namespace {

constexpr char kSetTimer[] = "user32.SetTimer";

// The periods, in relay hexadecimal, with which the timer id was armed.
std::vector<std::string> ArmedPeriods(const std::string& log, UINT_PTR id) {
    std::vector<std::string> periods;
    for (const auto& line : RelayLines(log)) {
        if (line.function == kSetTimer && !line.isReturn && line.arguments.size() == 4 &&
            line.arguments[1] == RelayHex(id)) {
            periods.push_back(line.arguments[2]);
        }
    }
    return periods;
}

std::size_t CountCalls(const std::string& log, const char* function) {
    const auto lines = RelayLines(log);
    return static_cast<std::size_t>(std::count_if(
        lines.begin(), lines.end(),
        [&](const auto& line) { return line.function == function && !line.isReturn; }));
}

}  // namespace

TEST(Lifecycle, TheExitMessageLeavesTheExitStatusForTheAddOn) {
    Child browser = StartBrowser();
    Child qelm = StartQelm();
    const HWND controller = WaitForController(qelm);
    ASSERT_NE(controller, nullptr);
    WriteDword(L"startKVX", 7);

    Send(controller, QelmExitMessage(), 0, 0, 3s);

    EXPECT_EQ(qelm.WaitForExit(10s), 0u);
    EXPECT_EQ(ReadDword(L"startKVX"), 0u);
    EXPECT_EQ(ReadText(L"activateEventMemoryMetrics"),
              L"Activate Lumbrel To See Current WorkingSetSize");
}

TEST(Lifecycle, TheCompanionEndsSoonAfterTheBrowser) {
    Child browser = StartBrowser();
    Child qelm = StartQelm();
    ASSERT_NE(WaitForController(qelm), nullptr);

    browser.Kill();

    EXPECT_EQ(qelm.WaitForExit(8s), 0u);
    EXPECT_EQ(ReadDword(L"startKVX"), 0u);
}

TEST(Lifecycle, AnExitRequestWhileTheWatchdogAnnouncesTheStopStillEndsTheCompanion) {
    Child browser = StartBrowser();
    Child qelm = StartQelm();
    const HWND controller = WaitForController(qelm);
    ASSERT_NE(controller, nullptr);
    WriteDword(L"activateKVDisplayEvents", 1);
    ASSERT_EQ(Send(controller, QelmMessage(), 1, 2), 1);
    // A crowded desktop, above the companion's own windows: the stop's nudge reads every title
    // before it comes to the companion's, which it asks of the companion's other thread.
    WNDCLASSW crowdClass{};
    crowdClass.lpfnWndProc = DefWindowProcW;
    crowdClass.lpszClassName = L"crowd";
    RegisterClassW(&crowdClass);
    for (int i = 0; i < 4000; ++i) {
        CreateWindowExW(0, L"crowd", L"an ordinary window", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                        nullptr, nullptr, nullptr);
    }

    browser.Kill();
    ASSERT_TRUE(Eventually(
        [] { return ReadText(L"activateEventComment") == L"Stopped Lumbrel's Memory Recovery"; }));
    Send(controller, QelmExitMessage(), 0, 0, 1s);

    EXPECT_EQ(qelm.WaitForExit(15s), 0u);
    EXPECT_EQ(ReadDword(L"startKVX"), 0u);
    EXPECT_EQ(ReadText(L"activateEventMemoryMetrics"),
              L"Activate Lumbrel To See Current WorkingSetSize");
}

TEST(Lifecycle, InGlobalModeTheCompanionOutlivesTheBrowser) {
    Child browser = StartBrowser();
    Child qelm = StartQelm();
    const HWND controller = WaitForController(qelm);
    ASSERT_NE(controller, nullptr);
    WriteDword(L"global", 1);

    browser.Kill();

    EXPECT_EQ(qelm.WaitForExit(8s), std::nullopt);
    EXPECT_EQ(Send(controller, QelmMessage(), 2, 2), 1);
    WriteDword(L"global", 0);
    EXPECT_EQ(qelm.WaitForExit(8s), 0u);
}

TEST(Lifecycle, TheStoredTabDelayRecoversSixSecondsAfterTheFirstSelection) {
    const std::wstring log = ScenarioDirectory() + L"\\browser.log";
    Child browser = StartBrowser(L"firefox.exe", L"--inner --log " + log);
    Child qelm = StartQelm({.wineDebug = L"-all,+relay"});
    const HWND controller = WaitForController(qelm);
    ASSERT_NE(controller, nullptr);
    const std::size_t before = ReadLines(log).size();
    const auto selected = std::chrono::steady_clock::now();

    ASSERT_EQ(Send(controller, QelmMessage(), 3, 3), 1);
    Sleep(3000);
    ASSERT_EQ(Send(controller, QelmMessage(), 3, 3), 1);
    EXPECT_TRUE(Eventually([&] { return ReadLines(log).size() > before; }, 10s));

    const auto waited = std::chrono::steady_clock::now() - selected;
    EXPECT_GE(waited, 5500ms);
    EXPECT_LT(waited, 8500ms);
    EXPECT_EQ(ArmedPeriods(WineLog(), 505), std::vector<std::string>{RelayHex(6000)});
}

TEST(SlowLifecycle, ThePeriodicTimerIsArmedForAMinuteAndArmedAgainAfterEachTick) {
    Child browser = StartBrowser();
    Child qelm = StartQelm({.wineDebug = L"-all,+relay"});
    ASSERT_NE(WaitForController(qelm), nullptr);
    ASSERT_TRUE(Eventually([] { return ArmedPeriods(WineLog(), 502).size() == 1; }));

    EXPECT_TRUE(Eventually([] { return ArmedPeriods(WineLog(), 502).size() == 2; }, 75s));
    for (const auto& period : ArmedPeriods(WineLog(), 502)) {
        EXPECT_EQ(period, RelayHex(60000));
    }
}

TEST(SlowLifecycle, AStoredStartupDelayDefersTheFirstTrimByItsMinutes) {
    Child browser = StartBrowser();
    StoreSetting(L"startupDelay", 1);
    Child qelm = StartQelm({.wineDebug = L"-all,+relay"});
    ASSERT_NE(WaitForController(qelm), nullptr);
    ASSERT_TRUE(Eventually([] { return ArmedPeriods(WineLog(), 506).size() == 1; }));
    EXPECT_EQ(ArmedPeriods(WineLog(), 506)[0], RelayHex(60000));

    Sleep(50000);
    EXPECT_EQ(CountCalls(WineLog(), "KERNEL32.K32EmptyWorkingSet"), 0u);
    EXPECT_TRUE(
        Eventually([] { return CountCalls(WineLog(), "KERNEL32.K32EmptyWorkingSet") > 0; }, 20s));
}
