#include "recovery/trimming.h"

#include <sstream>
#include <string>
#include <vector>

#include "app/failure_box.h"
#include "registry_test.h"

namespace {

using platform::WindowHandle;

// What trimming did, in order: "trim <id>", "trim self" and "send <window> <message>" lines.
std::vector<std::string> Actions() {
    std::vector<std::string> actions;
    for (const auto& line : fake::TheWorld().journal) {
        if (line.rfind("EmptyWorkingSet ", 0) == 0) {
            actions.push_back("trim " + line.substr(16));
        } else if (line.rfind("SendMessageTimeout ", 0) == 0) {
            std::istringstream fields(line.substr(19));
            std::string window, message;
            fields >> window >> message;
            actions.push_back("send " + window + " " + message);
        }
    }
    return actions;
}

std::vector<std::string> Settling(WindowHandle window) {
    std::vector<std::string> lines;
    for (const char* message : {"0x1f", "0x4b", "0x16", "0x121"}) {
        lines.push_back("send " + fake::Hex(window.value) + " " + message);
    }
    return lines;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Trimming : public RegistryTest {
  protected:
    void SetUp() override {
        RegistryTest::SetUp();
        PutDefaultSettings();
    }

    void AddBrowserWindows() {
        main = fake::AddWindow(u"MozillaWindowClass", u"Mozilla Firefox");
        inner = fake::AddWindow(u"MozillaWindowClass", u"", main);
    }

    static std::string Trim(std::uint32_t id) { return "trim " + std::to_string(id); }

    WindowHandle main;
    WindowHandle inner;
};

TEST_F(Trimming, WithoutABrowserNothingIsTrimmedNotEvenThePluginHost) {
    fake::PutDword(u"global", 1);
    fake::AddProcess(u"plugin-container.exe");
    fake::AddProcess(u"explorer.exe");

    TrimBrowser();

    EXPECT_TRUE(Actions().empty());
}

TEST_F(Trimming, ThePluginHostThenTheBrowserEachFollowedByTheOwnProcessThenTheWindows) {
    const auto other = fake::AddProcess(u"explorer.exe");
    const auto browser = fake::AddProcess(u"firefox.exe");
    const auto pluginHost = fake::AddProcess(u"PLUGIN-CONTAINER.EXE");
    AddBrowserWindows();

    TrimBrowser();

    EXPECT_EQ(Actions(),
              (std::vector<std::string>{Trim(pluginHost), "trim self", Trim(browser), "trim self"} +
               Settling(inner) + Settling(main)));
    EXPECT_TRUE(world().messageBoxes.empty());
    EXPECT_TRUE(world().openProcesses.empty());
    EXPECT_EQ(fake::JournalLines("EmptyWorkingSet " + std::to_string(other)).size(), 0u);
}

TEST_F(Trimming, EveryBrowserProcessGetsItsTrimAndItsWindowMessages) {
    const auto firefox = fake::AddProcess(u"firefox.exe");
    const auto paleMoon = fake::AddProcess(u"palemoon.exe");
    AddBrowserWindows();

    TrimBrowser();

    const auto perBrowser = Settling(inner) + Settling(main);
    EXPECT_EQ(Actions(), (std::vector<std::string>{Trim(firefox), "trim self"} + perBrowser +
                          std::vector<std::string>{Trim(paleMoon), "trim self"} + perBrowser));
}

TEST_F(Trimming, WithoutAnInnerWindowOnlyTheMainWindowIsMessaged) {
    const auto browser = fake::AddProcess(u"firefox.exe");
    main = fake::AddWindow(u"MozillaUIWindowClass", u"Pale Moon");
    fake::AddWindow(u"GeckoToolbar", u"", main);

    TrimBrowser();

    EXPECT_EQ(Actions(), (std::vector<std::string>{Trim(browser), "trim self"} + Settling(main)));
}

TEST_F(Trimming, ARefusedTrimIsReportedOnceAndEverythingElseStillHappens) {
    const auto browser = fake::AddProcess(u"firefox.exe");
    const auto pluginHost = fake::AddProcess(u"plugin-container.exe");
    world().processes[0].trimRefused = true;
    world().processes[1].trimRefused = true;
    AddBrowserWindows();

    TrimBrowser();

    EXPECT_EQ(Actions(),
              (std::vector<std::string>{Trim(pluginHost), "trim self", Trim(browser), "trim self"} +
               Settling(inner) + Settling(main)));
    EXPECT_EQ(world().messageBoxes,
              (std::vector<std::u16string>{u"Memory Release Failed", u"Memory Release Failed"}));
    EXPECT_EQ(fake::JournalLines("MessageBox 0x7001 warning Memory Release Failed").size(), 2u);
}

TEST_F(Trimming, AFailureWhileItsBoxIsOpenIsNotShownAgain) {
    fake::AddProcess(u"firefox.exe");
    world().processes[0].trimRefused = true;
    // The open box's loop dispatches three more recoveries, each refused in turn.
    int queued = 3;
    world().onMessageBoxOpen = [&queued] {
        while (queued > 0) {
            --queued;
            TrimBrowser();
        }
    };

    TrimBrowser();

    EXPECT_EQ(queued, 0);
    EXPECT_EQ(world().messageBoxes, (std::vector<std::u16string>{u"Memory Release Failed"}));
    world().onMessageBoxOpen = nullptr;
    TrimBrowser();
    EXPECT_EQ(world().messageBoxes.size(), 2u);
}

TEST_F(Trimming, TheWindowTheUserWasInGetsTheForegroundBackFromAFailureBox) {
    fake::AddProcess(u"firefox.exe");
    world().processes[0].trimRefused = true;
    AddBrowserWindows();
    world().foreground = main;
    TrimBrowser();
    // Dismissing the box activates its owner.
    world().foreground = controller.m_hWnd;

    HandBackForeground();

    EXPECT_EQ(world().foreground, main);
}

TEST_F(Trimming, InGlobalModeEveryOtherProcessIsTrimmedBeforeTheBrowser) {
    fake::PutDword(u"global", 1);
    const auto browser = fake::AddProcess(u"firefox.exe");
    const auto explorer = fake::AddProcess(u"explorer.exe");

    TrimBrowser();

    EXPECT_EQ(Actions(), (std::vector<std::string>{Trim(browser), "trim self", Trim(explorer),
                                                   "trim self", Trim(browser), "trim self"}));
    EXPECT_TRUE(world().debugPrivilegeEnabled);
}

TEST(Blacklist, MatchesWholeNamesIgnoringCaseBetweenRunsOfSemicolons) {
    EXPECT_TRUE(IsBlacklisted(u"firefox.exe", u"firefox.exe;explorer.exe"));
    EXPECT_TRUE(IsBlacklisted(u"explorer.exe", u"firefox.exe;explorer.exe"));
    EXPECT_TRUE(IsBlacklisted(u"firefox.exe", u"FIREFOX.EXE"));
    EXPECT_TRUE(IsBlacklisted(u"b.exe", u";;a.exe;;;B.exe;"));
    EXPECT_TRUE(IsBlacklisted(u"<unknown>", u"<UNKNOWN>"));
    EXPECT_TRUE(IsBlacklisted(u"none", u"none"));
    EXPECT_FALSE(IsBlacklisted(u"firefox.exe", u"firefox"));
    EXPECT_FALSE(IsBlacklisted(u"firefox.exe", u" firefox.exe"));
    EXPECT_FALSE(IsBlacklisted(u"firefox.exe", u"firefox.exe ;x"));
    EXPECT_FALSE(IsBlacklisted(u"firefox.exe", u"none"));
    EXPECT_FALSE(IsBlacklisted(u"a.exe", u";;;"));
    EXPECT_FALSE(IsBlacklisted(u"a.exe", u""));
    EXPECT_FALSE(IsBlacklisted(u"", u";;"));
}

TEST(Blacklist, AHugeListIsSearchedToItsEnd) {
    std::u16string list;
    while (list.size() < 64 * 1024) {
        list += u"someone-elses-program.exe;";
    }
    EXPECT_FALSE(IsBlacklisted(u"a.exe", list));
    EXPECT_TRUE(IsBlacklisted(u"a.exe", list + u"A.EXE"));
}

TEST_F(Trimming, TheGlobalTrimSparesTheBlacklistAndTrimsItselfAfterEachTarget) {
    fake::PutText(u"blacklist", u"B.EXE;<unknown>");
    const auto a = fake::AddProcess(u"a.exe");
    fake::AddProcess(u"b.exe");
    fake::AddProcess(u"c.exe");
    world().processes[2].modulesReadable = false;
    fake::AddProcess(u"d.exe");
    world().processes[3].openable = false;
    const auto refusing = fake::AddProcess(u"e.exe");
    world().processes[4].trimRefused = true;

    TrimGlobalProcesses();

    EXPECT_EQ(Actions(),
              (std::vector<std::string>{Trim(a), "trim self", Trim(refusing), "trim self"}));
    EXPECT_TRUE(world().messageBoxes.empty());
}

TEST_F(Trimming, TheGlobalTrimRereadsTheBlacklistBeforeEachProcess) {
    const auto a = fake::AddProcess(u"a.exe");
    fake::AddProcess(u"b.exe");
    const auto c = fake::AddProcess(u"c.exe");
    world().onTrim = [a](std::uint32_t trimmed) {
        if (trimmed == a) {
            fake::PutText(u"blacklist", u"b.exe");
        }
    };

    TrimGlobalProcesses();

    EXPECT_EQ(Actions(), (std::vector<std::string>{Trim(a), "trim self", Trim(c), "trim self"}));
    EXPECT_EQ(fake::JournalLines("RegOpenKey SOFTWARE\\Qelm 0xf003f").size(), 3u);
}

}  // namespace
