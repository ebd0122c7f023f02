#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "scenario/harness_win.h"

using namespace scenario;

namespace {

constexpr char kOpenProcess[] = "KERNEL32.OpenProcess";
constexpr char kEmptyWorkingSet[] = "KERNEL32.K32EmptyWorkingSet";
// The pseudo-handle of the own process as the relay channel prints it.
constexpr char kOwnProcess[] = "ffffffffffffffff";

std::vector<std::string> Settling(const std::string& role) {
    std::vector<std::string> lines;
    for (const char* message :
         {"WM_CANCELMODE", "WM_CANCELJOURNAL", "WM_ENDSESSION", "WM_ENTERIDLE"}) {
        lines.push_back(role + " " + message + " 0x0 0x0");
    }
    return lines;
}

// One EmptyWorkingSet call: the process it trimmed ("self" for the own process) and the access
// that process was opened with.
struct Trim {
    std::string process;
    std::string access;
};

// The trims in order, each mapped through the handle that the latest OpenProcess returned to the
// process identifier and access it was opened with. The companion's workers open processes on
// threads of their own while a recovery runs, so a return belongs to the latest call of its own
// thread, not to the latest call of all.
std::vector<Trim> Trims(const std::vector<RelayLine>& lines) {
    std::vector<Trim> trims;
    std::map<std::string, Trim> openedAs;
    std::map<std::string, Trim> openingByThread;
    for (const auto& line : lines) {
        if (line.function == kOpenProcess && !line.isReturn && line.arguments.size() == 3) {
            openingByThread[line.thread] = Trim{line.arguments[2], line.arguments[0]};
        } else if (line.function == kOpenProcess && line.isReturn) {
            openedAs[line.returnValue] = openingByThread[line.thread];
        } else if (line.function == kEmptyWorkingSet && !line.isReturn) {
            const std::string& handle = line.arguments.at(0);
            trims.push_back(handle == kOwnProcess ? Trim{"self", ""} : openedAs[handle]);
        }
    }
    return trims;
}

std::multiset<std::string> TrimmedProcesses(const std::vector<Trim>& trims) {
    std::multiset<std::string> processes;
    for (const auto& trim : trims) {
        processes.insert(trim.process);
    }
    return processes;
}

// A tab selection recovers at once when the tab delay is negative.
void SelectTabNow(HWND controller) {
    ASSERT_EQ(Send(controller, QelmMessage(), 16, -1), 1);
    ASSERT_EQ(Send(controller, QelmMessage(), 3, 3, 10s), 1);
}

}  // namespace

TEST(Recovery, ATabSelectionSettlesTheInnerWindowThenTheMainWindowAndDismissesPlaceholders) {
    const std::wstring log = ScenarioDirectory() + L"\\browser.log";
    Child browser = StartBrowser(L"firefox.exe",
                                 L"--inner --content 1 --placeholder \"DummyWindowless 1\" "
                                 L"--placeholder Other --log " +
                                     log);
    Child qelm = StartQelm();
    const HWND controller = WaitForController(qelm);
    ASSERT_NE(controller, nullptr);
    const std::size_t before = ReadLines(log).size();

    SelectTabNow(controller);

    const auto lines = ReadLines(log);
    const std::vector<std::string> after(lines.begin() + static_cast<std::ptrdiff_t>(before),
                                         lines.end());
    std::vector<std::string> expected = {"placeholder1 WM_KILLFOCUS 0x0 0x0",
                                         "placeholder1 WM_DESTROY 0x0 0x0"};
    for (const auto& role : {"inner", "main"}) {
        const auto settling = Settling(role);
        expected.insert(expected.end(), settling.begin(), settling.end());
    }
    EXPECT_EQ(after, expected);
}

TEST(Recovery, TheStartTrimsTheBrowserWithFullAccessAndThenItself) {
    Child browser = StartBrowser();
    Child qelm = StartQelm({.wineDebug = L"-all,+relay"});
    ASSERT_NE(WaitForController(qelm), nullptr);

    const auto trims = Trims(RelayLines(WineLog()));
    ASSERT_EQ(trims.size(), 2u);
    EXPECT_EQ(trims[0].process, RelayHex(browser.Id()));
    EXPECT_EQ(trims[0].access, "001f0fff");
    EXPECT_EQ(trims[1].process, "self");
}

TEST(Recovery, GlobalModeTrimsEveryProcessButTheBlacklistedOnes) {
    Child browser = StartBrowser();
    Child qelm = StartQelm({.wineDebug = L"-all,+relay"});
    const HWND controller = WaitForController(qelm);
    ASSERT_NE(controller, nullptr);

    std::vector<std::wstring> spared;
    for (const auto* candidate :
         {L"services.exe", L"winedevice.exe", L"plugplay.exe", L"explorer.exe", L"rpcss.exe"}) {
        if (spared.size() < 2 && ProcessIdOf(candidate) != 0) {
            spared.push_back(candidate);
        }
    }
    ASSERT_EQ(spared.size(), 2u) << "Wine runs fewer service processes than expected";
    // The blacklist matches whole names in any case.
    std::wstring first = spared[0];
    CharUpperW(first.data());
    std::wstring second = spared[1];
    CharUpperBuffW(second.data(), 1);
    CharUpperW(second.data() + second.size() - 3);
    WriteText(L"blacklist", first + L";" + second);
    WriteDword(L"global", 1);
    ASSERT_EQ(Send(controller, QelmMessage(), 1, 2), 1);
    const std::size_t mark = WineLog().size();

    SelectTabNow(controller);

    const auto trimmed = TrimmedProcesses(Trims(RelayLines(WineLog(), mark)));
    for (const auto& name : spared) {
        EXPECT_EQ(trimmed.count(RelayHex(ProcessIdOf(name.c_str()))), 0u)
            << std::string(name.begin(), name.end()) << " is on the blacklist";
    }
    for (const DWORD id : {GetCurrentProcessId(), browser.Id(), qelm.Id()}) {
        EXPECT_GE(trimmed.count(RelayHex(id)), 1u) << "process " << id << " was not trimmed";
    }
}

TEST(Recovery, AnOverlongProcessNameIsReadCutTo259Characters) {
    Child browser = StartBrowser();
    const std::wstring name = L"long" + std::wstring(300, L'n') + L".exe";
    Child longNamed = StartBrowser(L"longname.exe", L"--no-window --base-name " + name);
    Child qelm = StartQelm({.wineDebug = L"-all,+relay"});
    const HWND controller = WaitForController(qelm);
    ASSERT_NE(controller, nullptr);
    // Only the name as read, cut and terminated, keeps the process out of the global trim.
    WriteText(L"blacklist", name.substr(0, 259));
    WriteDword(L"global", 1);
    ASSERT_EQ(Send(controller, QelmMessage(), 1, 2), 1);
    const std::size_t mark = WineLog().size();

    SelectTabNow(controller);

    const auto trimmed = TrimmedProcesses(Trims(RelayLines(WineLog(), mark)));
    EXPECT_EQ(trimmed.count(RelayHex(longNamed.Id())), 0u);
    EXPECT_GE(trimmed.count(RelayHex(browser.Id())), 1u);
}
