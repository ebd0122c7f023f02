#include "app/wake_events.h"

#include "system_test.h"

namespace {

class WakeEvents : public SystemTest {
  protected:
    void SetUp() override {
        SystemTest::SetUp();
        for (auto* event : {&g_evBrowserWatch, &g_evPeriodic, &g_evMetrics}) {
            event->store(platform::EventHandle{});
        }
    }
};

TEST_F(WakeEvents, CreatesTheThreeEventsInOrder) {
    EXPECT_TRUE(CreateWakeEvents());

    EXPECT_EQ(fake::JournalLines("CreateEvent").size(), 3u);
    // The fake hands out handles in ascending order, so the order shows in the values.
    const auto first = world().nextHandle - 3;
    EXPECT_EQ(g_evBrowserWatch.load().value, first);
    EXPECT_EQ(g_evPeriodic.load().value, first + 1);
    EXPECT_EQ(g_evMetrics.load().value, first + 2);
}

TEST_F(WakeEvents, FailWhenAnyOneCannotBeCreated) {
    for (std::size_t created = 0; created < 3; ++created) {
        SCOPED_TRACE(created);
        fake::ResetWorld();
        world().eventsCreatableBeforeFailure = created;

        EXPECT_FALSE(CreateWakeEvents());
    }

    fake::ResetWorld();
    world().eventsFail = true;
    EXPECT_FALSE(CreateWakeEvents());
}

}  // namespace
