#include <nlohmann/json.hpp>

#include "registry_test.h"
#include "requests.h"

namespace {

using nlohmann::json;
using BrowserTotals = RegistryTest;

constexpr std::uint64_t kMiB = 1 << 20;

// A process that started at the given time, holding the given MiB: private, resident, and
// resident of the private ones.
fake::Process& Add(std::uint32_t id, std::u16string name, std::uint32_t parent, std::uint64_t at,
                   std::uint64_t held = 0, std::uint64_t resident = 0, std::uint64_t own = 0) {
    return fake::TheWorld().processes.emplace_back(fake::Process{
        .id = id,
        .name = std::move(name),
        .workingSetBytes = resident * kMiB,
        .parentId = parent,
        .createdAt = at,
        .privateBytes = held * kMiB,
        .privateWorkingSetBytes = own > 0 ? std::optional(own * kMiB) : std::nullopt});
}

json Total(const char* name, int processes, json held, json resident, bool own) {
    return {{"name", name},
            {"processes", processes},
            {"privateKiB", held},
            {"workingSetKiB", resident},
            {"privateWorkingSet", own}};
}

TEST_F(BrowserTotals, CountOnlyTheBrowserThatStartedTheHostWithItsChildrenInOneListing) {
    Add(10, u"firefox.exe", 1, 100, 300, 200, 150);
    Add(20, u"cmd.exe", 10, 200);  // a launcher between the browser and the host
    Add(world().ownProcessId, u"qelm-host.exe", 20, 300);
    Add(30, u"FireFox.EXE", 10, 150, 100, 80, 50);
    Add(40, u"plugin-container.exe", 10, 160, 20, 10, 8);
    // Another profile's browser, and a process whose parent ended before identifier 10 was
    // given to this browser.
    Add(60, u"firefox.exe", 1, 90, 500, 500, 500);
    Add(80, u"firefox.exe", 10, 99, 500, 500, 500);
    Add(90, u"plugin-container.exe", 60, 98, 500, 500, 500);

    EXPECT_EQ(StatusFields()["totals"],
              (json{{"browser", Total("firefox.exe", 2, 400 * 1024, 200 * 1024, true)},
                    {"pluginHost", Total("plugin-container.exe", 1, 20 * 1024, 8 * 1024, true)}}));
    EXPECT_EQ(fake::JournalLines("ListProcesses").size(), 1u);
    EXPECT_EQ(fake::JournalLines("OpenProcess").size(), 3u);
    EXPECT_TRUE(world().openProcesses.empty());

    // A figure that one process does not give is not given for the sum.
    world().processes[3].privateWorkingSetBytes.reset();
    world().processes[3].privateBytes = 0;
    world().processes[4].countersReadable = false;
    EXPECT_EQ(StatusFields()["totals"],
              (json{{"browser", Total("firefox.exe", 2, nullptr, 280 * 1024, false)},
                    {"pluginHost", Total("plugin-container.exe", 1, nullptr, nullptr, false)}}));
}

TEST_F(BrowserTotals, StartedByNoBrowserTheHostTakesTheBrowserProcessesOfItsSession) {
    Add(world().ownProcessId, u"qelm-host.exe", 7, 300);
    Add(7, u"palemoon.exe", 1, 301, 50, 40);  // identifier 7 went to a process started later
    Add(8, u"palemoon.exe", 1, 1, 30, 20);
    Add(9, u"palemoon.exe", 1, 1, 500, 500).sessionId = 2;
    EXPECT_EQ(StatusFields()["totals"]["browser"],
              Total("palemoon.exe", 2, 80 * 1024, 60 * 1024, false));
}

TEST_F(BrowserTotals, ProcessesThatEndedAreLeftOutWhileOneThatRefusesMakesTheFiguresUnknown) {
    Add(world().ownProcessId, u"qelm-host.exe", 10, 300);
    Add(10, u"firefox.exe", 1, 100, 300, 200, 150);
    Add(20, u"firefox.exe", 10, 200, 500, 500).threadCount = 0;  // ended, held open by a handle
    Add(30, u"firefox.exe", 10, 200).ended = true;               // ended after the listing
    Add(40, u"firefox.exe", 10, 200, 500, 500, 500);             // gone before it was opened
    world().onProcessesListed = [] { fake::TheWorld().processes.pop_back(); };
    EXPECT_EQ(StatusFields()["totals"]["browser"],
              Total("firefox.exe", 1, 300 * 1024, 150 * 1024, true));
    world().onProcessesListed = nullptr;
    world().processes[1].queryOpenable = false;  // one that runs and refuses: figures unknown
    EXPECT_EQ(StatusFields()["totals"]["browser"],
              Total("firefox.exe", 1, nullptr, nullptr, false));
}

}  // namespace
