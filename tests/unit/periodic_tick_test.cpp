#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/commands.h"
#include "app/lifecycle.h"
#include "app/timers.h"
#include "app/wake_events.h"
#include "registry_test.h"
#include "settings/registry_channel.h"
#include "settings/settings.h"

namespace {

using Armed = std::map<std::uintptr_t, std::uint32_t>;

class PeriodicTick : public RegistryTest {
  protected:
    void SetUp() override {
        RegistryTest::SetUp();
        PutDefaultSettings();
        browser = AddBrowser();
        ASSERT_TRUE(CreateWakeEvents());
        periodicSignal = "SetEvent " + fake::Hex(g_evPeriodic.load().value);
        world().journal.clear();
    }

    // Global mode with a second process. The blacklist keeps the browser out of the global trims,
    // so that the browser's own trim stands out; in global mode the browser trim covers the
    // other processes first.
    void PutGlobalModeWithAnotherProcess() {
        other = fake::AddProcess(u"notepad.exe", 1 << 20);
        fake::PutText(u"blacklist", u"firefox.exe");
        fake::PutDword(u"global", 1);
    }

    // Takes the key's settings into memory, as the add-on's reload command does.
    void Reload() {
        ReloadSettings();
        world().journal.clear();
    }

    std::string BrowserTrim() const { return "EmptyWorkingSet " + std::to_string(browser); }
    std::string OtherTrim() const { return "EmptyWorkingSet " + std::to_string(other); }

    std::uint32_t browser = 0;
    std::uint32_t other = 0;
    std::string periodicSignal;
};

TEST_F(PeriodicTick, ArmPeriodicTimerArmsTimer502ForTheSecondsInMilliseconds) {
    const std::pair<float, std::uint32_t> cases[] = {
        {60.0f, 60000}, {1.0f, 1000}, {2.5f, 2500}, {0.0f, 0}, {-1.0f, 0x7FFFFFFF}};
    for (const auto& [seconds, periodMs] : cases) {
        SCOPED_TRACE(seconds);
        m_TimerID_2 = 0;
        world().timers.clear();
        world().journal.clear();

        ArmPeriodicTimer(seconds);

        EXPECT_EQ(world().journal,
                  (std::vector<std::string>{"SetTimer 0x7001 502 " + std::to_string(periodMs)}));
        EXPECT_EQ(world().timers, (Armed{{502, periodMs}}));
        EXPECT_EQ(m_TimerID_2.load(), 502u);
    }
}

TEST_F(PeriodicTick, ArmingAnArmedPeriodicTimerKeepsItsFirstPeriod) {
    ArmPeriodicTimer(60.0f);
    ArmPeriodicTimer(120.0f);

    EXPECT_EQ(fake::JournalLines("SetTimer").size(), 1u);
    EXPECT_EQ(world().timers, (Armed{{502, 60000}}));
}

TEST_F(PeriodicTick, ARefusedPeriodicTimerIsReportedAndLeftDisarmed) {
    world().timersFail = true;

    ArmPeriodicTimer(60.0f);

    EXPECT_EQ(world().messageBoxes,
              (std::vector<std::u16string>{u"Unable to get timer. m_TimerID_2"}));
    EXPECT_EQ(m_TimerID_2.load(), 0u);

    world().timersFail = false;
    ArmPeriodicTimer(60.0f);
    EXPECT_EQ(world().timers, (Armed{{502, 60000}}));
    EXPECT_EQ(world().messageBoxes.size(), 1u);
}

TEST_F(PeriodicTick, ATickBeforeSetTimerReturnsLeavesTheTimerDisarmedAndArmableAgain) {
    // With a period of 0 the timer fires at once, and its whole tick may run right then.
    world().onTimerArmed = [](std::uintptr_t id) {
        fake::TheWorld().onTimerArmed = nullptr;
        DispatchTimer(id);
    };

    ArmPeriodicTimer(0.0f);

    EXPECT_TRUE(world().timers.empty());
    EXPECT_EQ(m_TimerID_2.load(), 0u);
    ArmPeriodicTimer(0.0f);
    EXPECT_EQ(world().timers, (Armed{{502, 0}}));
    EXPECT_EQ(m_TimerID_2.load(), 502u);
}

TEST_F(PeriodicTick, ThePeriodicTickDisarmsAnnouncesTrimsLogsAndWakesTheRearmingWorkerLast) {
    ArmPeriodicTimer(60.0f);
    g_settings.SetDisplayEvents(1);
    g_settings.SetEventLogging(1);
    world().journal.clear();

    DispatchTimer(502);

    EXPECT_EQ(world().journal.front(), "KillTimer 0x7001 502");
    EXPECT_EQ(Steps({"KillTimer", "RegSetValue activateEventComment", BrowserTrim(), "ReportEvent",
                     periodicSignal}),
              (std::vector<std::string>{"KillTimer", "RegSetValue activateEventComment",
                                        BrowserTrim(), "ReportEvent", periodicSignal}));
    EXPECT_EQ(world().journal.back(), periodicSignal);
    EXPECT_EQ(world().eventLog, (std::vector<std::u16string>{u"Requirement: [ PeriodicRAM ]"}));
    EXPECT_EQ(TextValue(u"activateEventComment"),
              "Memory Recovery For Periodic Wait Has Been CheckedBrowser WorkingSetSize = 65536K");
    EXPECT_EQ(m_TimerID_2.load(), 0u);
    EXPECT_TRUE(world().timers.empty());
    EXPECT_TRUE(world().eventSignalled[g_evPeriodic.load().value]);
}

TEST_F(PeriodicTick, ThePeriodicTickTrimsEveryProcessWhenAFreshReadOfGlobalSaysSo) {
    PutGlobalModeWithAnotherProcess();
    const std::vector<std::string> names = {BrowserTrim(), OtherTrim(), periodicSignal};
    // Global mode changes right after the browser's trim, so only a read after it can know.
    std::int32_t globalAfterBrowserTrim = 0;
    world().onTrim = [this, &globalAfterBrowserTrim](std::uint32_t trimmed) {
        if (trimmed == browser) {
            fake::PutDword(u"global", globalAfterBrowserTrim);
        }
    };

    fake::PutDword(u"global", 0);
    globalAfterBrowserTrim = 1;
    OnPeriodicTick();
    EXPECT_EQ(Steps(names), (std::vector<std::string>{BrowserTrim(), OtherTrim(), periodicSignal}));

    fake::PutDword(u"global", 1);
    globalAfterBrowserTrim = 0;
    world().journal.clear();
    OnPeriodicTick();
    EXPECT_EQ(Steps(names), (std::vector<std::string>{OtherTrim(), BrowserTrim(), periodicSignal}));
}

TEST_F(PeriodicTick, WithApp1OffThePeriodicTickSkipsOnlyTheBrowserTrim) {
    PutGlobalModeWithAnotherProcess();
    fake::PutDword(u"app_1", 0);
    fake::PutDword(u"activateKVDisplayEvents", 1);
    fake::PutDword(u"activateKVXEventLogging", 1);
    Reload();
    ArmPeriodicTimer(60.0f);
    world().journal.clear();

    OnPeriodicTick();

    EXPECT_EQ(Steps({"KillTimer 0x7001 502", "RegSetValue activateEventComment", BrowserTrim(),
                     OtherTrim(), "ReportEvent Requirement: [ PeriodicRAM ]", periodicSignal}),
              (std::vector<std::string>{"KillTimer 0x7001 502", "RegSetValue activateEventComment",
                                        OtherTrim(), "ReportEvent Requirement: [ PeriodicRAM ]",
                                        periodicSignal}));
    EXPECT_EQ(world().journal.back(), periodicSignal);
    EXPECT_EQ(m_TimerID_2.load(), 0u);
}

TEST_F(PeriodicTick, TheTabDelayTickDisarmsThenAnnouncesAndTrims) {
    fake::AddProcess(u"plugin-container.exe", 8 << 20);
    PutGlobalModeWithAnotherProcess();
    fake::PutDword(u"activateKVDisplayEvents", 1);
    Reload();
    ArmTabDelayTimer(1.0f);
    world().journal.clear();

    DispatchTimer(505);

    EXPECT_EQ(world().journal.front(), "KillTimer 0x7001 505");
    EXPECT_EQ(Steps({"KillTimer", "RegSetValue activateEventComment", BrowserTrim(), OtherTrim()}),
              (std::vector<std::string>{"KillTimer", "RegSetValue activateEventComment",
                                        OtherTrim(), BrowserTrim(), OtherTrim()}));
    EXPECT_EQ(TextValue(u"activateEventComment"),
              "Memory Recovery Between A Tab Selection\nBrowser WorkingSetSize = 65536K\n"
              " \nPlugin-Container WorkingSetSize = 8192K\n");
    EXPECT_EQ(m_TimerID_5.load(), 0u);
    EXPECT_TRUE(world().timers.empty());
}

TEST_F(PeriodicTick, WithApp1OffTheTabDelayTickOnlyDisarms) {
    PutGlobalModeWithAnotherProcess();
    fake::PutDword(u"app_1", 0);
    fake::PutDword(u"activateKVDisplayEvents", 1);
    Reload();
    ArmTabDelayTimer(1.0f);
    world().journal.clear();

    DispatchTimer(505);

    EXPECT_EQ(world().journal, (std::vector<std::string>{"KillTimer 0x7001 505"}));
    EXPECT_EQ(m_TimerID_5.load(), 0u);
}

TEST_F(PeriodicTick, AnImmediateTabSelectionRecoversWithoutATimer) {
    PutGlobalModeWithAnotherProcess();
    fake::PutDword(u"activateKVDisplayEvents", 1);
    fake::PutDword(u"tabDelay", -1);
    Reload();
    g_bRecoveryStarted = true;

    EXPECT_EQ(OnQelmMessage(3, 3), 1);

    EXPECT_EQ(Steps({"KillTimer", "SetTimer", "RegSetValue activateEventComment", BrowserTrim(),
                     OtherTrim()}),
              (std::vector<std::string>{"RegSetValue activateEventComment", OtherTrim(),
                                        BrowserTrim(), OtherTrim()}));
    const auto comment = TextValue(u"activateEventComment").value_or("<no comment>");
    EXPECT_TRUE(comment.starts_with("Memory Recovery Between A Tab Selection\n")) << comment;

    fake::PutDword(u"app_1", 0);
    Reload();
    EXPECT_EQ(OnQelmMessage(3, 3), 1);
    EXPECT_TRUE(world().journal.empty());
}

}  // namespace
