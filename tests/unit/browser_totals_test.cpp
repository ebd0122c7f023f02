#include <nlohmann/json.hpp>

#include "registry_test.h"
#include "requests.h"

namespace {

using nlohmann::json;
using BrowserTotals = RegistryTest;

constexpr std::uint64_t kMiB = 1 << 20;

TEST_F(BrowserTotals, TheStatusSumsEveryProcessOfTheBrowserAndOfThePluginHostThatOpens) {
    EXPECT_EQ(StatusFields()["totals"], (json{{"browser", nullptr}, {"pluginHost", nullptr}}));

    fake::AddProcess(u"palemoon.exe", 50 * kMiB);
    EXPECT_EQ(StatusFields()["totals"]["browser"],
              (json{{"name", "palemoon.exe"}, {"processes", 1}, {"workingSetKiB", 51200}}));

    fake::AddProcess(u"firefox.exe", 200 * kMiB);
    fake::AddProcess(u"notepad.exe", 7 * kMiB);
    fake::AddProcess(u"FireFox.EXE", 100 * kMiB + 1536);
    world().processes.push_back(
        {.id = 900, .name = u"firefox.exe", .queryOpenable = false, .workingSetBytes = kMiB});
    world().processes.push_back(
        {.id = 901, .name = u"firefox.exe", .workingSetBytes = kMiB, .countersReadable = false});
    fake::AddProcess(u"plugin-container.exe", 30 * kMiB);
    fake::AddProcess(u"plugin-container.exe", 2 * kMiB);

    EXPECT_EQ(
        StatusFields()["totals"],
        (json{{"browser", {{"name", "firefox.exe"}, {"processes", 2}, {"workingSetKiB", 307201}}},
              {"pluginHost", {{"processes", 2}, {"workingSetKiB", 32768}}}}));
    EXPECT_TRUE(world().openProcesses.empty());
}

}  // namespace
