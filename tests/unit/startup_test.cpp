#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/lifecycle.h"
#include "app/startup.h"
#include "app/timers.h"
#include "registry_test.h"
#include "settings/settings.h"

namespace {

constexpr std::uint32_t kProbe = 0xC123;

class SingleInstance : public SystemTest {
  protected:
    void AddWindow(std::uintptr_t handle, std::optional<std::uintptr_t> reply,
                   bool maximized = false) {
        fake::Window window;
        window.handle = platform::WindowHandle{handle};
        window.reply = reply;
        window.maximized = maximized;
        world().windows.push_back(window);
    }

    // Takes the mutex; the ending of the process, if it ends.
    std::optional<fake::ProcessEnded> Take() {
        try {
            EXPECT_TRUE(TakeSingleInstanceMutex(kProbe));
        } catch (const fake::ProcessEnded& ended) {
            return ended;
        }
        return std::nullopt;
    }

    // Each probe sent, as "window message flags timeout".
    static std::vector<std::string> Probes() {
        std::vector<std::string> probes;
        for (const auto& line : fake::JournalLines("SendMessageTimeout ")) {
            std::istringstream fields(line);
            std::string verb, window, message, wParam, lParam, flags, timeout;
            fields >> verb >> window >> message >> wParam >> lParam >> flags >> timeout;
            probes.push_back(window + " " + message + " " + flags + " " + timeout);
        }
        return probes;
    }

    std::vector<std::string> JournalAfterProbes() {
        const auto& journal = world().journal;
        std::size_t last = 0;
        for (std::size_t i = 0; i < journal.size(); ++i) {
            if (journal[i].rfind("SendMessageTimeout ", 0) == 0) {
                last = i;
            }
        }
        return std::vector<std::string>(journal.begin() + static_cast<std::ptrdiff_t>(last) + 1,
                                        journal.end());
    }
};

using BrowserAtStartup = RegistryTest;
// Start-up goes on to start recovery, which needs a browser.
class SettingsAtStartup : public RegistryTest {
  protected:
    void SetUp() override {
        RegistryTest::SetUp();
        AddBrowser();
    }
};

TEST_F(SingleInstance, TheFirstCopyKeepsRunningAndTouchesNoWindow) {
    AddWindow(0x501, kProbe);
    for (const std::uint32_t lastError : {0u, 87u}) {
        SCOPED_TRACE(lastError);
        world().journal.clear();
        world().mutexLastError = lastError;

        EXPECT_FALSE(Take().has_value());

        EXPECT_EQ(world().journal, (std::vector<std::string>{"CreateMutex qelm-SingleInstance"}));
    }
}

TEST_F(SingleInstance, ASecondCopyBringsTheAnsweringCopyForwardAndEnds) {
    for (const std::uint32_t lastError : {183u, 5u}) {
        SCOPED_TRACE(lastError);
        fake::ResetWorld();
        world().mutexLastError = lastError;
        AddWindow(0x501, std::nullopt);
        AddWindow(0x502, 7);
        AddWindow(0x503, kProbe, true);
        AddWindow(0x504, kProbe);

        const auto ended = Take();

        ASSERT_TRUE(ended.has_value());
        EXPECT_EQ(ended->exitCode, 0u);
        EXPECT_TRUE(ended->throughRuntime);
        EXPECT_EQ(Probes(), (std::vector<std::string>{"0x501 0xc123 3 500", "0x502 0xc123 3 500",
                                                      "0x503 0xc123 3 500"}));
        EXPECT_EQ(JournalAfterProbes(), (std::vector<std::string>{"SetForegroundWindow 0x503",
                                                                  "ShowWindow 0x503 3", "exit 0"}));
    }
}

TEST_F(SingleInstance, ARestoredCopyIsRestored) {
    world().mutexLastError = 183;
    AddWindow(0x501, kProbe);

    ASSERT_TRUE(Take().has_value());

    EXPECT_EQ(JournalAfterProbes(), (std::vector<std::string>{"SetForegroundWindow 0x501",
                                                              "ShowWindow 0x501 9", "exit 0"}));
}

TEST_F(SingleInstance, ASecondCopyEndsEvenWhenNoCopyAnswers) {
    world().mutexLastError = 183;
    AddWindow(0x501, std::nullopt);
    AddWindow(0x502, kProbe + 1);

    const auto ended = Take();

    ASSERT_TRUE(ended.has_value());
    EXPECT_EQ(ended->exitCode, 0u);
    EXPECT_TRUE(ended->throughRuntime);
    EXPECT_EQ(Probes().size(), 2u);
    EXPECT_TRUE(fake::JournalLines("SetForegroundWindow").empty());
    EXPECT_TRUE(fake::JournalLines("ShowWindow").empty());
}

TEST_F(BrowserAtStartup, ARunningBrowserLetsTheStartGoOn) {
    world().processes.push_back(fake::Process{.id = 20, .name = u"palemoon.exe"});
    EXPECT_EQ(ExitCodeOf([] { CheckBrowserAtStartup(); }), std::nullopt);
}

TEST_F(BrowserAtStartup, NoBrowserOrNoProcessListEndsTheProcessEvenInGlobalMode) {
    fake::PutDword(u"global", 1);
    world().processes.push_back(fake::Process{.id = 10, .name = u"explorer.exe"});
    EXPECT_EQ(ExitCodeOf([] { CheckBrowserAtStartup(); }), 0u);
    EXPECT_EQ(world().journal.back(), "ExitProcess 0");

    world().journal.clear();
    world().processes.push_back(fake::Process{.id = 20, .name = u"firefox.exe"});
    world().processListFails = true;
    EXPECT_EQ(ExitCodeOf([] { CheckBrowserAtStartup(); }), 0u);
    EXPECT_EQ(world().journal.back(), "ExitProcess 0");
}

TEST_F(SettingsAtStartup, AnExistingKeyIsLoadedAsItIs) {
    PutDefaultSettings();
    fake::PutDword(u"primaryTimeout", 4);

    PrepareSettingsAndStart();

    EXPECT_EQ(world().journal[0], "RegOpenKey SOFTWARE\\Qelm 0xf003f");
    EXPECT_EQ(world().journal[1], "RegCloseKey");
    EXPECT_TRUE(fake::JournalLines("RegCreateKey").empty());
    EXPECT_TRUE(fake::JournalLines("RegSetValue").empty());
    EXPECT_EQ(g_settings.GetPrimaryTimeout(), 4);
    EXPECT_EQ(world().debugOutput.back(), u"nQELMStartupDelay = 0");
    EXPECT_TRUE(g_bRecoveryStarted);
    EXPECT_TRUE(world().timers.empty());
}

TEST_F(SettingsAtStartup, AMissingKeyGetsTheDefaultsWhichAreThenLoaded) {
    PrepareSettingsAndStart();

    EXPECT_EQ(fake::JournalLines("RegCreateKey"),
              (std::vector<std::string>{"RegCreateKey SOFTWARE\\Qelm"}));
    EXPECT_EQ(world().values.size(), 14u);
    EXPECT_EQ(g_settings.GetTabDelay(), 0.1f);
    EXPECT_EQ(g_settings.GetBlacklist(), u"none");
    EXPECT_TRUE(g_bRecoveryStarted);
}

TEST_F(SettingsAtStartup, LoadsThenInitialisesComThenTracesTheDelay) {
    PutDefaultSettings();

    PrepareSettingsAndStart();

    const auto& journal = world().journal;
    const auto com = std::find(journal.begin(), journal.end(), "CoInitialize");
    ASSERT_NE(com, journal.end());
    const auto loaded = std::find(journal.begin(), journal.end(), "RegQueryValue blacklist");
    EXPECT_LT(loaded, com);
    ASSERT_NE(com + 1, journal.end());
    EXPECT_EQ(*(com + 1), "OutputDebugString");
    EXPECT_EQ(world().debugOutput.back(), u"nQELMStartupDelay = 0");
}

TEST_F(SettingsAtStartup, AStoredStartupDelayArmsItsTimerInsteadOfStarting) {
    PutDefaultSettings();
    fake::PutDword(u"startupDelay", 3);

    PrepareSettingsAndStart();

    EXPECT_EQ(world().debugOutput.back(), u"nQELMStartupDelay = 3");
    EXPECT_EQ(world().journal.back(), "SetTimer 0x7001 506 180000");
    EXPECT_EQ(world().timers, (std::map<std::uintptr_t, std::uint32_t>{{506, 180000}}));
    EXPECT_NE(m_TimerID_6.load(), 0u);
    EXPECT_FALSE(g_bRecoveryStarted);
}

TEST_F(SettingsAtStartup, ANegativeStartupDelayStartsAtOnce) {
    PutDefaultSettings();
    fake::PutDword(u"startupDelay", -2);

    PrepareSettingsAndStart();

    EXPECT_EQ(world().debugOutput.back(), u"nQELMStartupDelay = -2");
    EXPECT_TRUE(fake::JournalLines("SetTimer").empty());
    EXPECT_TRUE(g_bRecoveryStarted);
}

TEST_F(SettingsAtStartup, ARefusedStartupTimerIsReported) {
    PutDefaultSettings();
    fake::PutDword(u"startupDelay", 1);
    world().timersFail = true;

    PrepareSettingsAndStart();

    EXPECT_EQ(world().messageBoxes,
              (std::vector<std::u16string>{u"Unable to get timer. m_TimerID_6"}));
    EXPECT_EQ(m_TimerID_6.load(), 0u);
    EXPECT_FALSE(g_bRecoveryStarted);
}

TEST_F(SettingsAtStartup, DefaultsThatCannotBeWrittenEndTheProcess) {
    world().createError = 5;
    EXPECT_EQ(ExitCodeOf([] { PrepareSettingsAndStart(); }), 0u);
    EXPECT_EQ(world().messageBoxes,
              (std::vector<std::u16string>{u"Problem Creating Registry Settings"}));
    EXPECT_EQ(world().journal.back(), "ExitProcess 0");
    EXPECT_TRUE(fake::JournalLines("RegQueryValue").empty());

    fake::ResetWorld();
    world().setErrors[u"global"] = 5;
    EXPECT_EQ(ExitCodeOf([] { PrepareSettingsAndStart(); }), 0u);
    EXPECT_EQ(world().messageBoxes,
              (std::vector<std::u16string>{u"Problem Creating Registry Settings"}));
    EXPECT_TRUE(fake::JournalLines("RegQueryValue").empty());
    EXPECT_FALSE(g_bRecoveryStarted);
}

}  // namespace
