#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/timers.h"
#include "app/wake_events.h"
#include "app/workers.h"
#include "registry_test.h"
#include "settings/settings.h"

namespace {

struct Worker {
    const char* name;
    platform::ThreadProcedure procedure;
    std::atomic<bool>* run;
    std::atomic<platform::EventHandle>* event;
    std::atomic<platform::ThreadHandle>* slot;
};

const std::array<Worker, 3> kWorkers = {{
    {"watchdog", BrowserWatchProc, &g_bBrowserWatchRun, &g_evBrowserWatch, &g_pBrowserWatchThread},
    {"periodic", PeriodicRearmProc, &g_bPeriodicRun, &g_evPeriodic, &g_pPeriodicThread},
    {"metrics", MetricsProc, &g_bMetricsRun, &g_evMetrics, &g_pMetricsThread},
}};

class Workers : public RegistryTest {
  protected:
    void SetUp() override {
        RegistryTest::SetUp();
        ASSERT_TRUE(CreateWakeEvents());
        world().journal.clear();
    }

    static std::string Hex(const std::atomic<platform::EventHandle>& event) {
        return fake::Hex(event.load().value);
    }

    void Signal(const std::atomic<platform::EventHandle>& event) {
        world().eventSignalled[event.load().value] = true;
    }

    bool Signalled(const std::atomic<platform::EventHandle>& event) {
        return world().eventSignalled[event.load().value];
    }

    // Ends the worker's loop at the given pause. The fake runs a copy of the hook each time, so
    // the count lives here.
    void StopAtPause(std::atomic<bool>& run, int pause) {
        pauses = 0;
        world().onPause = [this, &run, pause] {
            if (++pauses == pause) {
                run = false;
            } else if (pauses > pause) {
                throw std::logic_error("the worker went on after its flag was cleared");
            }
        };
    }

    int pauses = 0;
};

TEST_F(Workers, StartWorkersStartsWatchdogPeriodicAndMetricsInOrderThenPauses) {
    for (const auto& worker : kWorkers) {
        *worker.run = false;
    }

    StartWorkers(&controller);

    EXPECT_EQ(world().journal, (std::vector<std::string>{"CreateThread", "CreateThread",
                                                         "CreateThread", "Sleep 100"}));
    ASSERT_EQ(world().threads.size(), kWorkers.size());
    for (std::size_t index = 0; index < kWorkers.size(); ++index) {
        SCOPED_TRACE(kWorkers[index].name);
        EXPECT_EQ(world().threads[index].procedure, kWorkers[index].procedure);
        EXPECT_EQ(world().threads[index].parameter, static_cast<void*>(&controller));
        EXPECT_TRUE(*kWorkers[index].run);
    }
    // The fake hands out handles in ascending order: each slot holds its own worker's thread.
    EXPECT_NE(g_pBrowserWatchThread.load().value, 0u);
    EXPECT_LT(g_pBrowserWatchThread.load().value, g_pPeriodicThread.load().value);
    EXPECT_LT(g_pPeriodicThread.load().value, g_pMetricsThread.load().value);
}

TEST_F(Workers, AWorkerWhoseThreadCannotBeCreatedIsLeftOutAndParkingSkipsIt) {
    for (std::size_t creatable = 0; creatable < kWorkers.size(); ++creatable) {
        SCOPED_TRACE(creatable);
        world().threads.clear();
        world().threadsCreatableBeforeFailure = creatable;
        world().journal.clear();

        StartWorkers(&controller);

        EXPECT_EQ(fake::JournalLines("CreateThread").size(), kWorkers.size());
        EXPECT_EQ(world().journal.back(), "Sleep 100");
        std::vector<std::string> parked;
        for (std::size_t index = 0; index < kWorkers.size(); ++index) {
            EXPECT_EQ(static_cast<bool>(kWorkers[index].slot->load()), index < creatable)
                << kWorkers[index].name;
            EXPECT_TRUE(*kWorkers[index].run) << kWorkers[index].name;
            if (index < creatable) {
                parked.push_back("ResetEvent " + Hex(*kWorkers[index].event));
            }
        }

        world().journal.clear();
        ParkWorkers();

        EXPECT_EQ(world().journal, parked);
        for (std::size_t index = 0; index < kWorkers.size(); ++index) {
            EXPECT_EQ(kWorkers[index].run->load(), index >= creatable) << kWorkers[index].name;
        }
    }
}

TEST_F(Workers, ParkWorkersResetsTheEventsAndClearsTheFlagsWithoutWakingOrWaiting) {
    StartWorkers(&controller);
    for (const auto& worker : kWorkers) {
        Signal(*worker.event);
    }
    world().journal.clear();

    ParkWorkers();

    const std::vector<std::string> parked = {"ResetEvent " + Hex(g_evBrowserWatch),
                                             "ResetEvent " + Hex(g_evPeriodic),
                                             "ResetEvent " + Hex(g_evMetrics)};
    EXPECT_EQ(world().journal, parked);
    for (const auto& worker : kWorkers) {
        SCOPED_TRACE(worker.name);
        EXPECT_FALSE(*worker.run);
        EXPECT_FALSE(worker.slot->load());
        EXPECT_FALSE(Signalled(*worker.event));
    }

    ParkWorkers();
    EXPECT_EQ(world().journal, parked);
}

TEST_F(Workers, ParkWorkersLeavesAWorkerWithoutItsEventAsItIs) {
    StartWorkers(&controller);
    const auto periodicThread = g_pPeriodicThread.load();
    g_evPeriodic = platform::EventHandle{};
    world().journal.clear();

    ParkWorkers();

    EXPECT_EQ(world().journal, (std::vector<std::string>{"ResetEvent " + Hex(g_evBrowserWatch),
                                                         "ResetEvent " + Hex(g_evMetrics)}));
    EXPECT_TRUE(g_bPeriodicRun);
    EXPECT_EQ(g_pPeriodicThread.load().value, periodicThread.value);
}

TEST_F(Workers, AWorkerWaitingWhenParkedIsNotWoken) {
    for (const auto& worker : kWorkers) {
        SCOPED_TRACE(worker.name);
        StartWorkers(&controller);
        world().onWait = [] { ParkWorkers(); };
        world().journal.clear();

        EXPECT_THROW(worker.procedure(nullptr), fake::ThreadBlocked);

        EXPECT_TRUE(fake::JournalLines("SetEvent").empty());
        EXPECT_FALSE(*worker.run);
        EXPECT_FALSE(Signalled(*worker.event));

        // Only a worker that comes to its flag after the parking leaves.
        world().onWait = nullptr;
        world().journal.clear();
        EXPECT_EQ(worker.procedure(nullptr), 0u);
        EXPECT_TRUE(world().journal.empty());
    }
}

TEST_F(Workers, EachWorkerLeavesAtOnceWhenItMayNotRun) {
    for (const auto& worker : kWorkers) {
        SCOPED_TRACE(worker.name);
        *worker.run = false;
        Signal(*worker.event);
        world().journal.clear();

        EXPECT_EQ(worker.procedure(nullptr), 0u);

        EXPECT_TRUE(world().journal.empty());
    }
}

TEST_F(Workers, EachWorkerWaitsForItsOwnEventUntilWoken) {
    for (const auto& worker : kWorkers) {
        SCOPED_TRACE(worker.name);
        world().journal.clear();

        EXPECT_THROW(worker.procedure(nullptr), fake::ThreadBlocked);

        EXPECT_EQ(world().journal,
                  (std::vector<std::string>{"WaitForSingleObject " + Hex(*worker.event)}));
    }
}

TEST_F(Workers, AFailedWaitSendsEachWorkerBackToItsFlag) {
    world().waitsFail = true;
    for (const auto& worker : kWorkers) {
        SCOPED_TRACE(worker.name);
        int waits = 0;
        world().onWait = [run = worker.run, &waits] {
            if (++waits == 3) {
                *run = false;
            } else if (waits > 3) {
                throw std::logic_error("the worker waited again after its flag was cleared");
            }
        };
        world().journal.clear();

        EXPECT_EQ(worker.procedure(nullptr), 0u);

        EXPECT_EQ(world().journal,
                  std::vector<std::string>(3, "WaitForSingleObject " + Hex(*worker.event)));
    }
}

TEST_F(Workers, OnceWokenTheWatchdogChecksForTheBrowserEveryFiveSeconds) {
    AddBrowser();
    Signal(g_evBrowserWatch);
    StopAtPause(g_bBrowserWatchRun, 3);

    EXPECT_EQ(BrowserWatchProc(nullptr), 0u);

    EXPECT_EQ(Steps({"WaitForSingleObject", "ResetEvent " + Hex(g_evBrowserWatch), "EnumProcesses",
                     "Sleep 5000", "Sleep"}),
              (std::vector<std::string>{
                  "WaitForSingleObject", "ResetEvent " + Hex(g_evBrowserWatch), "EnumProcesses",
                  "Sleep 5000", "EnumProcesses", "Sleep 5000", "EnumProcesses", "Sleep 5000"}));
    EXPECT_FALSE(Signalled(g_evBrowserWatch));
    EXPECT_EQ(world().virtualTimeMs, 15000u);
    EXPECT_FALSE(world().exitCode);
}

TEST_F(Workers, TheWatchdogEndsTheProcessOnceTheBrowserHasGone) {
    PutDefaultSettings();
    fake::PutDword(u"startKVX", 1);
    g_settings.SetDisplayEvents(1);
    const auto browser = AddBrowser();
    Signal(g_evBrowserWatch);
    world().onPause = [browser] {
        std::erase_if(fake::TheWorld().processes,
                      [browser](const fake::Process& process) { return process.id == browser; });
    };

    EXPECT_EQ(ExitCodeOf([] { BrowserWatchProc(nullptr); }), 0u);

    EXPECT_EQ(
        Steps({"Sleep 5000", "Sleep 33", "RegSetValue activateEventComment",
               "RegSetValue activateEventMemoryMetrics", "RegSetValue startKVX", "ExitProcess 0",
               "Sleep"}),
        (std::vector<std::string>{"Sleep 5000", "Sleep 33", "RegSetValue activateEventComment",
                                  "RegSetValue activateEventMemoryMetrics", "RegSetValue startKVX",
                                  "ExitProcess 0"}));
    const auto comment = TextValue(u"activateEventComment").value_or("<no comment>");
    EXPECT_TRUE(comment.starts_with("Stopped Lumbrel's Memory Recovery")) << comment;
    EXPECT_EQ(TextValue(u"activateEventMemoryMetrics"),
              "Activate Lumbrel To See Current WorkingSetSize");
    const auto* startFlag = fake::FindValue(u"startKVX");
    ASSERT_NE(startFlag, nullptr);
    EXPECT_EQ(startFlag->data, (std::vector<std::uint8_t>{0, 0, 0, 0}));
}

TEST_F(Workers, InGlobalModeTheWatchdogKeepsCheckingWithoutTheBrowser) {
    PutDefaultSettings();
    fake::PutDword(u"global", 1);
    Signal(g_evBrowserWatch);
    StopAtPause(g_bBrowserWatchRun, 4);

    EXPECT_EQ(ExitCodeOf([] { EXPECT_EQ(BrowserWatchProc(nullptr), 0u); }), std::nullopt);

    EXPECT_EQ(fake::JournalLines("Sleep"), std::vector<std::string>(4, "Sleep 5000"));
    EXPECT_EQ(fake::JournalLines("EnumProcesses").size(), 4u);
    EXPECT_TRUE(world().messageBoxes.empty());
    EXPECT_FALSE(world().exitCode);
}

TEST_F(Workers, WokenTheRearmingWorkerArmsThePeriodicTimerOnceAndWaitsAgain) {
    Signal(g_evPeriodic);

    EXPECT_THROW(PeriodicRearmProc(nullptr), fake::ThreadBlocked);

    EXPECT_EQ(world().journal, (std::vector<std::string>{
                                   "WaitForSingleObject " + Hex(g_evPeriodic),
                                   "ResetEvent " + Hex(g_evPeriodic), "SetTimer 0x7001 502 60000",
                                   "Sleep 5000", "WaitForSingleObject " + Hex(g_evPeriodic)}));
    EXPECT_EQ(world().timers, (std::map<std::uintptr_t, std::uint32_t>{{502, 60000}}));
    EXPECT_NE(m_TimerID_2.load(), 0u);
}

TEST_F(Workers, TheRearmingWorkerLeavesARunningPeriodicTimerAlone) {
    ArmPeriodicTimer(7.0f);
    Signal(g_evPeriodic);
    world().journal.clear();

    EXPECT_THROW(PeriodicRearmProc(nullptr), fake::ThreadBlocked);

    EXPECT_TRUE(fake::JournalLines("SetTimer").empty());
    EXPECT_EQ(world().timers, (std::map<std::uintptr_t, std::uint32_t>{{502, 7000}}));
}

TEST_F(Workers, TheRearmingWorkerTakesANewPrimaryTimeoutAtTheNextRearm) {
    PutDefaultSettings();
    AddBrowser();
    Signal(g_evPeriodic);
    world().onPause = [this] {
        switch (++pauses) {
            case 1:
                // Woken again while the first countdown runs: that one goes on as it is.
                g_settings.SetPrimaryTimeout(3);
                platform::SignalEvent(g_evPeriodic.load());
                break;
            case 2:
                OnPeriodicTick();
                break;
            case 3:
                g_bPeriodicRun = false;
                break;
            default:
                throw std::logic_error("the worker went on after its flag was cleared");
        }
    };

    EXPECT_EQ(PeriodicRearmProc(nullptr), 0u);

    EXPECT_EQ(fake::JournalLines("SetTimer"), (std::vector<std::string>{
                                                  "SetTimer 0x7001 502 60000",
                                                  "SetTimer 0x7001 502 180000",
                                              }));
    EXPECT_EQ(world().timers, (std::map<std::uintptr_t, std::uint32_t>{{502, 180000}}));
}

TEST_F(Workers, TheRearmPeriodIsThePrimaryTimeoutInMinutesWithoutOverflow) {
    const std::pair<std::int32_t, std::uint32_t> cases[] = {
        {1, 60000},
        {0, 0},
        {2, 120000},
        {35791, 2147460000},
        {35792, 0x7FFFFFFF},
        // In 32 bits minutes times 60 would wrap round to 44.
        {71582789, 0x7FFFFFFF},
        {INT_MAX, 0x7FFFFFFF},
        {-1, 0x7FFFFFFF},
        {INT_MIN, 0x7FFFFFFF},
    };
    for (const auto& [minutes, periodMs] : cases) {
        SCOPED_TRACE(minutes);
        m_TimerID_2 = 0;
        world().timers.clear();
        g_bPeriodicRun = true;
        Signal(g_evPeriodic);
        g_settings.SetPrimaryTimeout(minutes);
        StopAtPause(g_bPeriodicRun, 1);

        EXPECT_EQ(PeriodicRearmProc(nullptr), 0u);

        EXPECT_EQ(world().timers, (std::map<std::uintptr_t, std::uint32_t>{{502, periodMs}}));
    }
}

TEST_F(Workers, OnceWokenTheMetricsWorkerWritesTheMetricsEveryFiveSeconds) {
    PutDefaultSettings();
    AddBrowser();
    Signal(g_evMetrics);
    bool writtenByFirstPass = false;
    world().onPause = [this, &writtenByFirstPass] {
        if (++pauses == 1) {
            writtenByFirstPass = fake::FindValue(u"activateEventMemoryMetrics") != nullptr;
            fake::RemoveValue(u"activateEventMemoryMetrics");
        } else if (pauses == 2) {
            g_bMetricsRun = false;
        } else {
            throw std::logic_error("the worker went on after its flag was cleared");
        }
    };

    EXPECT_EQ(MetricsProc(nullptr), 0u);

    EXPECT_TRUE(writtenByFirstPass);
    EXPECT_EQ(Steps({"WaitForSingleObject", "ResetEvent " + Hex(g_evMetrics),
                     "RegSetValue activateEventMemoryMetrics", "Sleep 5000", "Sleep"}),
              (std::vector<std::string>{"WaitForSingleObject", "ResetEvent " + Hex(g_evMetrics),
                                        "RegSetValue activateEventMemoryMetrics", "Sleep 5000",
                                        "RegSetValue activateEventMemoryMetrics", "Sleep 5000"}));
    const auto metrics = TextValue(u"activateEventMemoryMetrics").value_or("<no metrics>");
    EXPECT_TRUE(metrics.starts_with("Browser WorkingSetSize = 65536K")) << metrics;
}

TEST_F(Workers, CloseWakeEventsClosesTheBrowserWatchAndPeriodicEventsEachOnce) {
    const auto watch = Hex(g_evBrowserWatch);
    const auto periodic = g_evPeriodic.load();
    const auto metrics = g_evMetrics.load();

    CloseWakeEvents();

    EXPECT_EQ(world().journal,
              (std::vector<std::string>{"CloseHandle event " + watch,
                                        "CloseHandle event " + fake::Hex(periodic.value)}));
    EXPECT_FALSE(g_evBrowserWatch.load());
    EXPECT_FALSE(g_evPeriodic.load());
    EXPECT_EQ(g_evMetrics.load().value, metrics.value);

    world().journal.clear();
    CloseWakeEvents();
    EXPECT_TRUE(world().journal.empty());

    g_evPeriodic = periodic;
    CloseWakeEvents();
    EXPECT_EQ(world().journal,
              (std::vector<std::string>{"CloseHandle event " + fake::Hex(periodic.value)}));
}

}  // namespace
