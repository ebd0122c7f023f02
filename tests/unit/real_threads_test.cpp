#include <chrono>
#include <random>
#include <thread>

#include "app/commands.h"
#include "app/lifecycle.h"
#include "app/timers.h"
#include "app/wake_events.h"
#include "registry_test.h"
#include "settings/registry_channel.h"

namespace {

// The user-interface thread (the test's own) and the three workers running for real over the
// fake platform, with a millisecond for every pause: what ThreadSanitizer needs to see.
class RealThreads : public RegistryTest {
  protected:
    void SetUp() override {
        RegistryTest::SetUp();
        PutDefaultSettings();
        fake::PutDword(u"activateKVDisplayEvents", 1);
        browser = AddBrowser();
        const auto main = fake::AddWindow(u"MozillaWindowClass", u"Mozilla Firefox");
        fake::AddWindow(u"MozillaWindowClass", u"", main);
        ReloadSettings();
        ASSERT_TRUE(CreateWakeEvents());
        world().realThreads = true;
    }

    void TearDown() override {
        fake::StopThreads();
        RegistryTest::TearDown();
    }

    // Runs a procedure of the user-interface thread that may end the process.
    static void OnUiThread(void (*procedure)()) {
        try {
            procedure();
        } catch (const fake::ProcessEnded&) {
        } catch (const fake::AwaitingEnd&) {
        }
    }

    static bool Ended() {
        const auto lock = fake::Lock();
        return fake::TheWorld().exitCode.has_value();
    }

    std::uint32_t browser = 0;
};

TEST_F(RealThreads, AStormOfCommandsAndTicksWhileTheWorkersRun) {
    StartRecovery();
    std::mt19937 random(7);
    const std::uintptr_t commands[] = {1, 3, 11, 13, 14, 16, 99};
    // Timer 506 ticks only once, before recovery starts; 501 is never armed but must be ignored.
    const std::uintptr_t timers[] = {501, 502, 505};
    for (int i = 0; i < 300; ++i) {
        if (i % 3 == 0) {
            DispatchTimer(timers[random() % 3]);
        } else {
            const auto command = commands[random() % 7];
            const std::intptr_t argument = command == 1 ? 2 : command == 3 ? 3 : random() % 3;
            EXPECT_EQ(OnQelmMessage(command, argument), 1);
        }
    }
    EXPECT_FALSE(Ended());
    {
        const auto lock = fake::Lock();
        EXPECT_FALSE(fake::JournalLines("GlobalMemoryStatusEx").empty()) << "no metrics pass";
        EXPECT_FALSE(fake::JournalLines("SetTimer 0x7001 502").empty()) << "no periodic arming";
    }
}

TEST_F(RealThreads, TheWatchdogsExitRacingTheAddOnsExitEndsTheProcessOnce) {
    StartRecovery();
    {
        const auto lock = fake::Lock();
        world().processes.clear();
    }
    OnUiThread([] { OnQelmMessage(2, 2); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Ended() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    fake::StopThreads();

    EXPECT_EQ(world().exitCode, 0u);
    EXPECT_EQ(fake::JournalLines("ExitProcess").size(), 1u);
    EXPECT_EQ(fake::JournalLines("CoUninitialize").size(), 1u);
    EXPECT_EQ(fake::JournalLines("RegSetValue startKVX").size(), 1u);
}

}  // namespace
