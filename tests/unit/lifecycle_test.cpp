#include <atomic>
#include <cstdint>
#include <cstring>
#include <latch>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/commands.h"
#include "app/lifecycle.h"
#include "app/timers.h"
#include "app/wake_events.h"
#include "app/workers.h"
#include "recovery/memory_metrics.h"
#include "registry_test.h"
#include "settings/settings.h"

namespace {

std::optional<std::int32_t> DwordValue(std::u16string_view name) {
    const auto* value = fake::FindValue(name);
    if (value == nullptr || value->type != 4 || value->data.size() != 4) {
        return std::nullopt;
    }
    std::int32_t number = 0;
    std::memcpy(&number, value->data.data(), 4);
    return number;
}

std::string CommentText() {
    return TextValue(u"activateEventComment").value_or("<no comment>");
}

class Lifecycle : public RegistryTest {
  protected:
    void SetUp() override {
        RegistryTest::SetUp();
        PutDefaultSettings();
        browser = AddBrowser();
        ASSERT_TRUE(CreateWakeEvents());
        watchEvent = fake::Hex(g_evBrowserWatch.load().value);
        periodicEvent = fake::Hex(g_evPeriodic.load().value);
        metricsEvent = fake::Hex(g_evMetrics.load().value);
        world().journal.clear();
    }

    std::string BrowserTrim() const { return "EmptyWorkingSet " + std::to_string(browser); }

    std::uint32_t browser = 0;
    std::string watchEvent;
    std::string periodicEvent;
    std::string metricsEvent;
};

TEST_F(Lifecycle, StartRecoveryStartsTheWorkersThenWakesThemAroundTheFirstTrim) {
    g_settings.SetEventLogging(1);
    for (auto* run : {&g_bBrowserWatchRun, &g_bPeriodicRun, &g_bMetricsRun}) {
        *run = false;
    }
    std::vector<bool> flagsAtPause;
    world().onPause = [&flagsAtPause] {
        flagsAtPause = {g_bRecoveryStarted, g_bBrowserWatchRun, g_bPeriodicRun, g_bMetricsRun};
    };

    StartRecovery();

    EXPECT_EQ(Steps({"CreateThread", "Sleep 100", "Sleep", "SetEvent " + watchEvent,
                     "SetEvent " + periodicEvent, "SetEvent " + metricsEvent,
                     "RegisterEventSource QELM", "ReportEvent", BrowserTrim()}),
              (std::vector<std::string>{"CreateThread", "CreateThread", "CreateThread", "Sleep 100",
                                        "SetEvent " + watchEvent, "RegisterEventSource QELM",
                                        "ReportEvent", BrowserTrim(), "SetEvent " + periodicEvent,
                                        "SetEvent " + metricsEvent}));
    EXPECT_EQ(world().eventLog, (std::vector<std::u16string>{u"Requirement: [ Start QELM ]"}));
    EXPECT_EQ(flagsAtPause, (std::vector<bool>{true, true, true, true}));
    ASSERT_EQ(world().threads.size(), 3u);
    EXPECT_EQ(world().threads[0].procedure, &BrowserWatchProc);
    EXPECT_EQ(world().threads[1].procedure, &PeriodicRearmProc);
    EXPECT_EQ(world().threads[2].procedure, &MetricsProc);
    EXPECT_TRUE(g_bRecoveryStarted);
}

TEST_F(Lifecycle, StartRecoveryForgetsEveryTimerWithoutKillingIt) {
    std::uintptr_t id = 501;
    for (auto* timer :
         {&m_TimerID_1, &m_TimerID_2, &m_TimerID_3, &m_TimerID_4, &m_TimerID_5, &m_TimerID_6}) {
        timer->store(id);
        world().timers[id] = 60000;
        ++id;
    }
    const auto armed = world().timers;

    StartRecovery();

    EXPECT_TRUE(fake::JournalLines("KillTimer").empty());
    EXPECT_EQ(world().timers, armed);
    for (auto* timer :
         {&m_TimerID_1, &m_TimerID_2, &m_TimerID_3, &m_TimerID_4, &m_TimerID_5, &m_TimerID_6}) {
        EXPECT_EQ(timer->load(), 0u);
    }
}

TEST_F(Lifecycle, StartRecoveryTrimsEveryProcessAfterTheBrowserWhenAFreshReadOfGlobalSaysSo) {
    const auto other = fake::AddProcess(u"notepad.exe", 1 << 20);
    // Kept out of the global trims, so that the browser's own trim stands out.
    fake::PutText(u"blacklist", u"firefox.exe");
    const std::vector<std::string> names = {
        BrowserTrim(), "EmptyWorkingSet " + std::to_string(other), "SetEvent " + periodicEvent};
    // Global mode changes right after the browser's trim, so only a read after it can know.
    std::int32_t globalAfterBrowserTrim = 0;
    world().onTrim = [this, &globalAfterBrowserTrim](std::uint32_t trimmed) {
        if (trimmed == browser) {
            fake::PutDword(u"global", globalAfterBrowserTrim);
        }
    };

    fake::PutDword(u"global", 0);
    globalAfterBrowserTrim = 1;
    StartRecovery();
    EXPECT_EQ(Steps(names), (std::vector<std::string>{names[0], names[1], names[2]}));

    fake::PutDword(u"global", 1);
    globalAfterBrowserTrim = 0;
    world().journal.clear();
    StartRecovery();
    // In global mode the browser trim itself covers the other processes first.
    EXPECT_EQ(Steps(names), (std::vector<std::string>{names[1], names[0], names[2]}));
}

TEST_F(Lifecycle, StartRecoveryAnnouncesTheStartLastWithToneCommentAndNudge) {
    g_settings.SetVisualAcc(1);
    fake::AddWindow(u"MozillaWindowClass", u"Start Page - Mozilla Firefox");

    StartRecovery();

    EXPECT_EQ(Steps({"SetEvent " + metricsEvent, "Beep", "RegSetValue activateEventComment",
                     "keybd_event"}),
              (std::vector<std::string>{"SetEvent " + metricsEvent, "Beep",
                                        "RegSetValue activateEventComment", "keybd_event",
                                        "keybd_event", "keybd_event", "keybd_event"}));
    EXPECT_EQ(fake::JournalLines("Beep"), (std::vector<std::string>{"Beep 550 300"}));
    EXPECT_TRUE(CommentText().starts_with("Starting Lumbrel's Memory Recovery")) << CommentText();
}

TEST_F(Lifecycle, StartRecoveryAnnouncesAsTheSettingsInMemoryAsk) {
    const std::vector<std::string> announcing = {"Beep", "RegSetValue activateEventComment",
                                                 "keybd_event", "RegisterEventSource"};

    g_settings.SetDisplayEvents(1);
    StartRecovery();
    // Without a browser window there is nothing to nudge.
    EXPECT_EQ(Steps(announcing), (std::vector<std::string>{"RegSetValue activateEventComment"}));
    EXPECT_TRUE(CommentText().starts_with("Starting Lumbrel's Memory Recovery")) << CommentText();

    fake::RemoveValue(u"activateEventComment");
    g_settings.SetDisplayEvents(0);
    fake::PutDword(u"activateVisualAcc", 1);
    fake::PutDword(u"activateKVDisplayEvents", 1);
    fake::PutDword(u"activateKVXEventLogging", 1);
    fake::AddWindow(u"MozillaWindowClass", u"Mozilla Firefox");
    world().journal.clear();
    StartRecovery();
    EXPECT_TRUE(Steps(announcing).empty());
    EXPECT_EQ(fake::FindValue(u"activateEventComment"), nullptr);
}

TEST_F(Lifecycle, StartRecoverySignalsOnlyTheEventsThatExist) {
    g_evPeriodic = platform::EventHandle{};
    StartRecovery();
    EXPECT_EQ(fake::JournalLines("SetEvent"),
              (std::vector<std::string>{"SetEvent " + watchEvent, "SetEvent " + metricsEvent}));

    g_evBrowserWatch = platform::EventHandle{};
    g_evMetrics = platform::EventHandle{};
    world().journal.clear();
    StartRecovery();
    EXPECT_TRUE(fake::JournalLines("SetEvent").empty());
    EXPECT_EQ(fake::JournalLines(BrowserTrim()).size(), 1u);
}

TEST_F(Lifecycle, StopRecoveryKillsOnlyTheArmedTimersInAscendingOrder) {
    ArmStartupDelayTimer(1.0f);
    ArmPeriodicTimer(60.0f);
    ArmTabDelayTimer(1.0f);
    // A timer of the window whose variable says it is not armed.
    world().timers[501] = 5;
    world().journal.clear();

    StopRecovery();

    EXPECT_EQ(fake::JournalLines("KillTimer"),
              (std::vector<std::string>{"KillTimer 0x7001 502", "KillTimer 0x7001 505",
                                        "KillTimer 0x7001 506"}));
    EXPECT_EQ(world().timers, (std::map<std::uintptr_t, std::uint32_t>{{501, 5}}));
    EXPECT_EQ(m_TimerID_2.load(), 0u);
    EXPECT_EQ(m_TimerID_5.load(), 0u);
    EXPECT_EQ(m_TimerID_6.load(), 0u);
}

TEST_F(Lifecycle, StopRecoveryParksTheWorkersThenAnnouncesAndLogsTheStop) {
    StartRecovery();
    ArmPeriodicTimer(60.0f);
    g_settings.SetDisplayEvents(1);
    g_settings.SetEventLogging(1);
    world().journal.clear();

    StopRecovery();

    EXPECT_EQ(Steps({"KillTimer", "ResetEvent " + watchEvent, "ResetEvent " + periodicEvent,
                     "ResetEvent " + metricsEvent, "RegSetValue activateEventComment",
                     "ReportEvent Requirement: [ Stop QELM ]", "ReportEvent", "SetEvent",
                     "WaitForSingleObject", "CloseHandle event"}),
              (std::vector<std::string>{"KillTimer", "ResetEvent " + watchEvent,
                                        "ResetEvent " + periodicEvent, "ResetEvent " + metricsEvent,
                                        "RegSetValue activateEventComment",
                                        "ReportEvent Requirement: [ Stop QELM ]"}));
    EXPECT_TRUE(CommentText().starts_with("Stopped Lumbrel's Memory Recovery")) << CommentText();
    for (const auto* run : {&g_bBrowserWatchRun, &g_bPeriodicRun, &g_bMetricsRun}) {
        EXPECT_FALSE(*run);
    }
    for (const auto* slot : {&g_pBrowserWatchThread, &g_pPeriodicThread, &g_pMetricsThread}) {
        EXPECT_FALSE(slot->load());
    }
}

TEST_F(Lifecycle, ExitProgramInGlobalModeOnlyReadsGlobal) {
    fake::PutDword(u"global", 1);

    EXPECT_EQ(ExitCodeOf(ExitProgram), std::nullopt);

    const std::vector<std::string> read = {"RegOpenKey", "RegQueryValue global", "RegCloseKey"};
    EXPECT_EQ(Steps(read), read);
    EXPECT_EQ(world().journal.size(), read.size());
    EXPECT_FALSE(world().exitCode);

    // Nothing of the exit has begun, so a later exit runs in full.
    fake::PutDword(u"global", 0);
    world().journal.clear();
    EXPECT_EQ(ExitCodeOf(ExitProgram), 0u);
    EXPECT_TRUE(fake::JournalLines("AwaitProcessEnd").empty());
    EXPECT_EQ(fake::JournalLines("Sleep"), (std::vector<std::string>{"Sleep 33"}));
}

TEST_F(Lifecycle, ExitProgramWithoutTheKeyLetsTheFlagInMemoryDecide) {
    world().keyExists = false;

    g_settings.SetGlobal(1);
    EXPECT_EQ(ExitCodeOf(ExitProgram), std::nullopt);
    ASSERT_EQ(world().journal.size(), 1u);
    EXPECT_TRUE(world().journal[0].starts_with("RegOpenKey "));

    g_settings.SetGlobal(0);
    world().journal.clear();
    EXPECT_EQ(ExitCodeOf(ExitProgram), 0u);
    // The failed read does not ask for the exit once more: the exit goes straight on.
    ASSERT_GE(world().journal.size(), 2u);
    EXPECT_TRUE(world().journal[0].starts_with("RegOpenKey "));
    EXPECT_EQ(world().journal[1], "Sleep 33");
    EXPECT_TRUE(fake::JournalLines("RegSetValue").empty());
    EXPECT_TRUE(world().messageBoxes.empty());
    EXPECT_TRUE(fake::JournalLines("AwaitProcessEnd").empty());
    EXPECT_EQ(world().journal.back(), "ExitProcess 0");
}

TEST_F(Lifecycle, ExitProgramStopsLeavesTheExitStatusClosesAndEndsTheProcessInOrder) {
    StartRecovery();
    ArmPeriodicTimer(60.0f);
    fake::PutDword(u"startKVX", 1);
    g_settings.SetVisualAcc(1);
    g_settings.SetEventLogging(1);
    world().journal.clear();

    EXPECT_EQ(ExitCodeOf(ExitProgram), 0u);

    EXPECT_EQ(Steps({"Sleep 33",
                     "KillTimer 0x7001 502",
                     "ResetEvent " + watchEvent,
                     "ResetEvent " + periodicEvent,
                     "ResetEvent " + metricsEvent,
                     "Beep 550 300",
                     "RegSetValue activateEventComment",
                     "ReportEvent Requirement: [ Stop QELM ]",
                     "RegSetValue activateEventMemoryMetrics",
                     "RegSetValue startKVX",
                     "CloseHandle event " + watchEvent,
                     "CloseHandle event " + periodicEvent,
                     "ReportEvent Requirement: [ Exit QELM ]",
                     "Beep 400 100",
                     "Beep 300 100",
                     "Beep 200 100",
                     "Beep 100 100",
                     "CoUninitialize",
                     "ExitProcess 0",
                     "Sleep",
                     "KillTimer",
                     "ResetEvent",
                     "Beep",
                     "RegSetValue",
                     "ReportEvent",
                     "CloseHandle event",
                     "AwaitProcessEnd"}),
              (std::vector<std::string>{
                  "Sleep 33", "KillTimer 0x7001 502", "ResetEvent " + watchEvent,
                  "ResetEvent " + periodicEvent, "ResetEvent " + metricsEvent, "Beep 550 300",
                  "RegSetValue activateEventComment", "ReportEvent Requirement: [ Stop QELM ]",
                  "RegSetValue activateEventMemoryMetrics", "RegSetValue startKVX",
                  "CloseHandle event " + watchEvent, "CloseHandle event " + periodicEvent,
                  "ReportEvent Requirement: [ Exit QELM ]", "Beep 400 100", "Beep 300 100",
                  "Beep 200 100", "Beep 100 100", "CoUninitialize", "ExitProcess 0"}));
    EXPECT_EQ(world().journal.back(), "ExitProcess 0");
    EXPECT_EQ(TextValue(u"activateEventMemoryMetrics"),
              "Activate Lumbrel To See Current WorkingSetSize");
    EXPECT_EQ(DwordValue(u"startKVX"), 0);
    EXPECT_FALSE(g_evBrowserWatch.load());
    EXPECT_FALSE(g_evPeriodic.load());
    EXPECT_EQ(fake::Hex(g_evMetrics.load().value), metricsEvent);
}

TEST_F(Lifecycle, ExitProgramAfterTheExitHasBegunOnlyAwaitsTheEnd) {
    ASSERT_EQ(ExitCodeOf(ExitProgram), 0u);
    world().journal.clear();

    EXPECT_THROW(ExitProgram(), fake::AwaitingEnd);

    EXPECT_EQ(Steps({"Sleep", "KillTimer", "ResetEvent", "RegSetValue", "CloseHandle event",
                     "CoUninitialize", "ExitProcess", "AwaitProcessEnd"}),
              (std::vector<std::string>{"AwaitProcessEnd"}));
    EXPECT_EQ(world().journal.back(), "AwaitProcessEnd");
}

TEST_F(Lifecycle, OnceTheExitHasBegunCommandsTicksAndMetricsLeaveEverythingAsItIs) {
    StartRecovery();
    g_settings.SetDisplayEvents(1);
    g_bExitStarted = true;
    world().journal.clear();

    EXPECT_EQ(OnQelmMessage(3, 3), 1);
    EXPECT_EQ(OnQelmMessage(1, 2), 1);
    DispatchTimer(kPeriodicTimerId);
    CollectMemoryMetrics();

    EXPECT_TRUE(fake::JournalLines("RegSetValue").empty());
    EXPECT_TRUE(fake::JournalLines("EmptyWorkingSet").empty());
    EXPECT_THROW(OnQelmMessage(2, 2), fake::AwaitingEnd);
}

TEST_F(Lifecycle, AMetricsPassUnderWayWhenTheExitEndsWritesNothingAfterTheNotice) {
    StartRecovery();
    // The whole exit runs on another thread while this pass measures.
    world().onMemoryStatus = [] {
        fake::TheWorld().onMemoryStatus = nullptr;
        try {
            ExitProgram();
        } catch (const fake::ProcessEnded&) {
        }
    };

    CollectMemoryMetrics();

    EXPECT_EQ(TextValue(u"activateEventMemoryMetrics"),
              "Activate Lumbrel To See Current WorkingSetSize");
}

TEST_F(Lifecycle, WhenTheControllerGoesTheProcessEndsEvenInGlobalMode) {
    StartRecovery();
    fake::PutDword(u"global", 1);
    fake::PutDword(u"startKVX", 1);
    world().journal.clear();

    EXPECT_EQ(ExitCodeOf(ExitWithoutController), 0u);

    // Global mode keeps the exit steps out, as it always does.
    EXPECT_EQ(world().journal.back(), "ExitProcess 0");
    EXPECT_TRUE(fake::JournalLines("KillTimer").empty());
    EXPECT_EQ(DwordValue(u"startKVX"), 1);
}

TEST_F(Lifecycle, TwoCallersRacingIntoExitProgramEndTheProcessOnce) {
    enum class Outcome { kNone, kReturned, kEnded, kAwaiting };
    const auto race = [](std::latch& start, Outcome& outcome) {
        start.arrive_and_wait();
        try {
            ExitProgram();
            outcome = Outcome::kReturned;
        } catch (const fake::ProcessEnded&) {
            outcome = Outcome::kEnded;
        } catch (const fake::AwaitingEnd&) {
            outcome = Outcome::kAwaiting;
        }
    };

    // Each round may interleave the two callers differently.
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        fake::ResetWorld();
        PutDefaultSettings();
        ASSERT_TRUE(CreateWakeEvents());
        g_bExitStarted = false;
        g_settings.SetVisualAcc(1);

        std::latch start(2);
        Outcome first = Outcome::kNone;
        Outcome second = Outcome::kNone;
        std::thread one(race, std::ref(start), std::ref(first));
        std::thread other(race, std::ref(start), std::ref(second));
        one.join();
        other.join();

        EXPECT_TRUE((first == Outcome::kEnded && second == Outcome::kAwaiting) ||
                    (first == Outcome::kAwaiting && second == Outcome::kEnded))
            << static_cast<int>(first) << " " << static_cast<int>(second);
        EXPECT_EQ(fake::JournalLines("ExitProcess"), (std::vector<std::string>{"ExitProcess 0"}));
        EXPECT_EQ(fake::JournalLines("CoUninitialize").size(), 1u);
        EXPECT_EQ(fake::JournalLines("Sleep"), (std::vector<std::string>{"Sleep 33"}));
        EXPECT_EQ(fake::JournalLines("Beep 100 100").size(), 1u);
        EXPECT_EQ(fake::JournalLines("AwaitProcessEnd").size(), 1u);
    }
}

}  // namespace
