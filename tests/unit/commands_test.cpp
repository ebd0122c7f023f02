#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/lifecycle.h"
#include "app/timers.h"
#include "registry_test.h"
#include "settings/settings.h"

namespace {

class Commands : public RegistryTest {
  protected:
    // The add-on only asks for tab-selection recovery once recovery runs.
    void StartRecoveryWithDefaults() {
        PutDefaultSettings();
        AddBrowser();
        StartRecovery();
        world().journal.clear();
    }

    static void Send(std::uintptr_t command, std::intptr_t argument) {
        EXPECT_EQ(OnQelmMessage(command, argument), 1)
            << "command " << command << " argument " << argument;
    }
};

TEST_F(Commands, ReloadWithArgumentTwoLoadsTheSettings) {
    PutDefaultSettings();
    fake::PutDword(u"primaryTimeout", 9);
    fake::PutText(u"blacklist", u"a.exe");

    Send(1, 2);

    EXPECT_EQ(g_settings.GetPrimaryTimeout(), 9);
    EXPECT_EQ(g_settings.GetBlacklist(), u"a.exe");
    EXPECT_EQ(world().debugOutput.size(), 12u);
}

TEST_F(Commands, ExitWithArgumentTwoEndsTheProcessUnlessInGlobalMode) {
    PutDefaultSettings();
    fake::PutDword(u"global", 1);
    EXPECT_EQ(ExitCodeOf([] { Send(2, 2); }), std::nullopt);

    fake::PutDword(u"global", 0);
    EXPECT_EQ(ExitCodeOf([] { OnQelmMessage(2, 2); }), 0u);
}

TEST_F(Commands, ReloadAndExitIgnoreOtherArguments) {
    PutDefaultSettings();
    fake::PutDword(u"primaryTimeout", 9);
    const auto before = SettingsSnapshot();

    for (const std::intptr_t argument : {0, 1, 3, 5, -1}) {
        EXPECT_EQ(ExitCodeOf([&] { Send(1, argument); }), std::nullopt);
        EXPECT_EQ(ExitCodeOf([&] { Send(2, argument); }), std::nullopt);
    }

    EXPECT_TRUE(world().journal.empty());
    EXPECT_EQ(SettingsSnapshot(), before);
}

TEST_F(Commands, TabSelectionArmsTheTabDelayTimerOnceRecoveryRuns) {
    StartRecoveryWithDefaults();

    Send(16, 0);
    Send(3, 3);

    EXPECT_EQ(world().journal, (std::vector<std::string>{"SetTimer 0x7001 505 6000"}));
    EXPECT_EQ(world().timers, (std::map<std::uintptr_t, std::uint32_t>{{505, 6000}}));
    EXPECT_NE(m_TimerID_5.load(), 0u);
}

TEST_F(Commands, TabSelectionUsesTheTabDelayInMinutes) {
    StartRecoveryWithDefaults();

    Send(16, 2);
    Send(3, 3);

    EXPECT_EQ(world().timers.at(505), 120000u);
}

TEST_F(Commands, TabSelectionLeavesAnArmedTimerAsItIs) {
    StartRecoveryWithDefaults();
    Send(16, 0);
    Send(3, 3);

    Send(16, 2);
    Send(3, 3);

    EXPECT_EQ(fake::JournalLines("SetTimer").size(), 1u);
    EXPECT_EQ(world().timers.at(505), 6000u);
}

TEST_F(Commands, TabSelectionWithoutAPositiveDelayArmsNoTimer) {
    StartRecoveryWithDefaults();
    Send(3, 3);
    EXPECT_EQ(g_settings.GetTabDelay(), 0.0f);

    Send(16, -1);
    EXPECT_EQ(g_settings.GetTabDelay(), -1.0f);
    Send(3, 3);

    EXPECT_TRUE(fake::JournalLines("SetTimer").empty());
    EXPECT_TRUE(world().timers.empty());
    EXPECT_EQ(m_TimerID_5.load(), 0u);
}

TEST_F(Commands, TabSelectionDoesNothingBeforeRecoveryStartsOrWithAnotherArgument) {
    PutDefaultSettings();
    g_settings.SetTabDelay(2);
    Send(3, 3);
    EXPECT_TRUE(world().journal.empty());

    AddBrowser();
    StartRecovery();
    world().journal.clear();
    for (const std::intptr_t argument : {0, 1, 2, 4, -3}) {
        Send(3, argument);
    }
    EXPECT_TRUE(world().journal.empty());
}

TEST_F(Commands, ARefusedTabDelayTimerIsReportedAndCanBeArmedLater) {
    StartRecoveryWithDefaults();
    Send(16, 2);
    world().timersFail = true;

    Send(3, 3);

    EXPECT_EQ(world().messageBoxes,
              (std::vector<std::u16string>{u"Unable to get timer. m_TimerID_5"}));
    EXPECT_EQ(m_TimerID_5.load(), 0u);

    world().timersFail = false;
    Send(3, 3);
    EXPECT_EQ(world().timers.at(505), 120000u);
}

TEST_F(Commands, SettersStoreTheirArgument) {
    Send(11, 1);
    EXPECT_TRUE(g_settings.GetOnStartup());
    Send(11, 0);
    EXPECT_FALSE(g_settings.GetOnStartup());
    Send(11, -1);
    EXPECT_TRUE(g_settings.GetOnStartup());
    Send(11, 0);
    Send(11, std::intptr_t{1} << 32);
    EXPECT_TRUE(g_settings.GetOnStartup());

    Send(13, 5);
    EXPECT_EQ(g_settings.GetStartupDelay(), 5);
    Send(13, -3);
    EXPECT_EQ(g_settings.GetStartupDelay(), -3);

    Send(14, 7);
    EXPECT_EQ(g_settings.GetPrimaryTimeout(), 7);
    Send(14, -2);
    EXPECT_EQ(g_settings.GetPrimaryTimeout(), -2);

    Send(16, 3);
    EXPECT_EQ(g_settings.GetTabDelay(), 3.0f);
    Send(16, 0);
    EXPECT_EQ(g_settings.GetTabDelay(), 0.1f);
    Send(16, -1);
    EXPECT_EQ(g_settings.GetTabDelay(), -1.0f);

    EXPECT_TRUE(world().journal.empty());
}

TEST_F(Commands, UnlistedCommandsDoNothing) {
    StartRecoveryWithDefaults();
    g_settings.SetTabDelay(2);
    const auto before = SettingsSnapshot();
    constexpr std::uintptr_t kHigh = std::uintptr_t{1} << 32;

    for (const std::uintptr_t command :
         {std::uintptr_t{0}, std::uintptr_t{4}, std::uintptr_t{12}, std::uintptr_t{15},
          std::uintptr_t{17}, std::uintptr_t{0xFFFFFFFF}, kHigh | 1, kHigh | 2, kHigh | 3,
          kHigh | 11, kHigh | 16, std::numeric_limits<std::uintptr_t>::max()}) {
        for (const std::intptr_t argument : {0, 2, 3, -1}) {
            EXPECT_EQ(ExitCodeOf([&] { Send(command, argument); }), std::nullopt);
        }
    }

    EXPECT_TRUE(world().journal.empty());
    EXPECT_EQ(SettingsSnapshot(), before);
}

TEST_F(Commands, TheExitMessageRepliesOneInGlobalModeAndEndsTheProcessOtherwise) {
    PutDefaultSettings();
    fake::PutDword(u"global", 1);
    std::intptr_t reply = 0;

    EXPECT_EQ(ExitCodeOf([&] { reply = OnQelmExit(); }), std::nullopt);
    EXPECT_EQ(reply, 1);

    fake::PutDword(u"global", 0);
    EXPECT_EQ(ExitCodeOf([] { OnQelmExit(); }), 0u);
    EXPECT_EQ(world().journal.back(), "ExitProcess 0");
}

}  // namespace
