#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/lifecycle.h"
#include "app/timers.h"
#include "registry_test.h"

namespace {

// The ticks go on to recover, which needs a browser and the key.
class TimerDispatch : public SystemTest {
  protected:
    void SetUp() override {
        SystemTest::SetUp();
        AddBrowser();
        PutDefaultSettings();
    }
};

TEST(TimerPeriod, MultipliesAndTruncatesTowardZero) {
    EXPECT_EQ(TimerPeriodMs(60000, 1.0f), 60000u);
    EXPECT_EQ(TimerPeriodMs(60000, 2.0f), 120000u);
    EXPECT_EQ(TimerPeriodMs(60000, 0.1f), 6000u);
    EXPECT_EQ(TimerPeriodMs(1000, 2.5f), 2500u);
    // 0.7f is a little below 0.7: the exact product is 41999.9993, which single precision
    // would round up to 42000.
    EXPECT_EQ(TimerPeriodMs(60000, 0.7f), 41999u);
}

TEST(TimerPeriod, StaysWithinWhatSetTimerAccepts) {
    EXPECT_EQ(TimerPeriodMs(60000, 0.0f), 0u);
    // SetTimer takes a negative period as a huge unsigned one.
    EXPECT_EQ(TimerPeriodMs(60000, -1.0f), 0x7FFFFFFFu);
    EXPECT_EQ(TimerPeriodMs(60000, -0.1f), 0x7FFFFFFFu);
    EXPECT_EQ(TimerPeriodMs(1000, -0.0005f), 0u);
    EXPECT_EQ(TimerPeriodMs(60000, 1e9f), 0x7FFFFFFFu);
    EXPECT_EQ(TimerPeriodMs(60000, 35791.0f), 2147460000u);
    EXPECT_EQ(TimerPeriodMs(60000, 35792.0f), 0x7FFFFFFFu);
}

TEST_F(TimerDispatch, TheStartupDelayTickEndsItsTimerAndStartsRecovery) {
    ArmStartupDelayTimer(2.0f);
    ASSERT_EQ(world().timers.at(506), 120000u);
    world().journal.clear();

    DispatchTimer(506);

    EXPECT_EQ(world().journal.front(), "KillTimer 0x7001 506");
    EXPECT_TRUE(world().timers.empty());
    EXPECT_EQ(m_TimerID_6.load(), 0u);
    EXPECT_TRUE(g_bRecoveryStarted);
}

TEST_F(TimerDispatch, TheTabDelayTickEndsItsTimerSoThatItCanBeArmedAgain) {
    StartRecovery();
    OnQelmMessage(16, 1);
    OnQelmMessage(3, 3);
    ASSERT_EQ(world().timers.at(505), 60000u);
    world().journal.clear();

    DispatchTimer(505);

    EXPECT_EQ(world().journal.front(), "KillTimer 0x7001 505");
    EXPECT_TRUE(world().timers.empty());
    EXPECT_EQ(m_TimerID_5.load(), 0u);

    OnQelmMessage(16, 2);
    OnQelmMessage(3, 3);
    EXPECT_EQ(world().timers.at(505), 120000u);
}

TEST_F(TimerDispatch, OtherTimersAreIgnored) {
    ArmStartupDelayTimer(1.0f);
    ArmTabDelayTimer(1.0f);
    const auto armed = world().timers;
    const auto tabTimer = m_TimerID_5.load();
    const auto startupTimer = m_TimerID_6.load();
    world().journal.clear();

    for (const std::uintptr_t id : {501u, 503u, 504u, 507u, 0u, 9999u}) {
        DispatchTimer(id);
    }

    EXPECT_TRUE(world().journal.empty());
    EXPECT_EQ(world().timers, armed);
    EXPECT_EQ(m_TimerID_5.load(), tabTimer);
    EXPECT_EQ(m_TimerID_6.load(), startupTimer);
    EXPECT_FALSE(g_bRecoveryStarted);
}

}  // namespace
