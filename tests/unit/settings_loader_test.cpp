#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "registry_test.h"
#include "settings/registry_channel.h"
#include "settings/settings.h"

namespace {

using SettingsLoader = RegistryTest;
using Lines = std::vector<std::u16string>;

// Every value differs from both the registry default and the initial value in memory.
void PutDistinctSettings() {
    PutDefaultSettings();
    fake::PutDword(u"activateKVDisplayEvents", 1);
    fake::PutDword(u"activateKVXEventLogging", 2);
    fake::PutDword(u"activateKVXonStartup", 3);
    fake::PutDword(u"activateVisualAcc", 4);
    fake::PutDword(u"app_1", 0);
    fake::PutText(u"currentVersion", u"7.4");
    fake::PutDword(u"global", 6);
    fake::PutDword(u"nRunCnt", 7);
    fake::PutDword(u"primaryTimeout", -5);
    fake::PutDword(u"startupDelay", 9);
    fake::PutDword(u"tabDelay", 2);
    fake::PutText(u"blacklist", u"a.exe;b.exe", true);
}

const std::vector<std::string> kReadOrder = {
    "activateKVDisplayEvents",
    "activateKVXEventLogging",
    "activateKVXonStartup",
    "activateVisualAcc",
    "app_1",
    "currentVersion",
    "global",
    "nRunCnt",
    "primaryTimeout",
    "startupDelay",
    "tabDelay",
    "blacklist",
};

const Lines kDistinctTrace = {
    u"\ndwActivateKVDisplayEvents: <: 1 :>\n",
    u"\nactivateKVXEventLogging: <: 2 :>\n",
    u"\nactivateKVXonStartup: <: 3 :>\n",
    u"\nactivateVisualAcc: <: 4 :>\n",
    u"\napp_1: <: 0 :>\n",
    u"\ncurrentVersion: <: 7.4 :>\n",
    u"\nglobal: <: 6 :>\n",
    u"\ndw_nRunCnt: <: 7 :>\n",
    u"\ndwPrimaryTimeout: <: -5 :>\n",
    u"\nstartupDelay: <: 9 :>\n",
    u"\ndwTabDelay: <: 2 :>\n",
    u"\nblackList: <: a.exe;b.exe :>\n",
};

Lines FirstLines(const Lines& lines, std::size_t count) {
    return Lines(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(count));
}

std::vector<std::string> FirstNames(std::size_t count) {
    return std::vector<std::string>(kReadOrder.begin(),
                                    kReadOrder.begin() + static_cast<std::ptrdiff_t>(count));
}

// Values a test puts in memory beforehand, to tell kept values from loaded ones.
void PutEarlierValuesInMemory() {
    g_settings.SetRunCount(11);
    g_settings.SetPrimaryTimeout(42);
    g_settings.SetStartupDelay(8);
    g_settings.SetTabDelay(3);
    g_settings.SetBlacklist(u"earlier.exe");
}

TEST(SettingsInMemory, StartWithTheirInitialValues) {
    const Settings fresh;
    EXPECT_TRUE(fresh.GetApp1());
    EXPECT_FALSE(fresh.GetVisualAcc());
    EXPECT_FALSE(fresh.GetDisplayEvents());
    EXPECT_FALSE(fresh.GetGlobal());
    EXPECT_EQ(fresh.GetRunCount(), 0);
    EXPECT_FALSE(fresh.GetOnStartup());
    EXPECT_EQ(fresh.GetStartupDelay(), 0);
    EXPECT_EQ(fresh.GetTabDelay(), 0.0f);
    EXPECT_EQ(fresh.GetPrimaryTimeout(), 1);
    EXPECT_FALSE(fresh.GetEventLogging());
    EXPECT_EQ(fresh.GetCurrentVersion(), 0.0f);
    EXPECT_EQ(fresh.GetBlacklist(), u"");
}

TEST_F(SettingsLoader, ReadsAndTracesEveryValueInItsOrder) {
    PutDistinctSettings();

    ReloadSettings();

    EXPECT_EQ(world().journal.front(), "RegOpenKey SOFTWARE\\Qelm 0xf003f");
    EXPECT_EQ(QueriedValueNames(), kReadOrder);
    EXPECT_EQ(world().debugOutput, kDistinctTrace);

    EXPECT_TRUE(g_settings.GetDisplayEvents());
    EXPECT_TRUE(g_settings.GetEventLogging());
    EXPECT_TRUE(g_settings.GetOnStartup());
    EXPECT_TRUE(g_settings.GetVisualAcc());
    EXPECT_FALSE(g_settings.GetApp1());
    EXPECT_FLOAT_EQ(g_settings.GetCurrentVersion(), 7.4f);
    EXPECT_TRUE(g_settings.GetGlobal());
    EXPECT_EQ(g_settings.GetRunCount(), 7);
    EXPECT_EQ(g_settings.GetPrimaryTimeout(), -5);
    EXPECT_EQ(g_settings.GetStartupDelay(), 9);
    EXPECT_EQ(g_settings.GetTabDelay(), 2.0f);
    EXPECT_EQ(g_settings.GetBlacklist(), u"a.exe;b.exe");
}

TEST_F(SettingsLoader, ConvertsTheStoredNumbers) {
    struct TabDelayCase {
        std::int32_t stored;
        float expected;
    };
    for (const auto& [stored, expected] : {TabDelayCase{2, 2.0f}, TabDelayCase{0, 0.1f},
                                           TabDelayCase{-1, -1.0f}, TabDelayCase{45, 45.0f}}) {
        SCOPED_TRACE(stored);
        PutDefaultSettings();
        fake::PutDword(u"tabDelay", stored);
        ReloadSettings();
        EXPECT_EQ(g_settings.GetTabDelay(), expected);
    }

    struct VersionCase {
        std::u16string stored;
        float expected;
    };
    for (const auto& [stored, expected] : {VersionCase{u"7.4", 7.4f}, VersionCase{u"none", 0.0f},
                                           VersionCase{u" 3.5abc", 3.5f}, VersionCase{u"", 0.0f}}) {
        SCOPED_TRACE(fake::Narrow(stored));
        PutDefaultSettings();
        fake::PutText(u"currentVersion", stored);
        ReloadSettings();
        EXPECT_FLOAT_EQ(g_settings.GetCurrentVersion(), expected);
    }
}

TEST_F(SettingsLoader, AnyNonZeroFlagIsOn) {
    PutDefaultSettings();
    fake::PutDword(u"activateVisualAcc", -1);
    fake::PutDword(u"activateKVXonStartup", 0x100);
    ReloadSettings();
    EXPECT_TRUE(g_settings.GetVisualAcc());
    EXPECT_TRUE(g_settings.GetOnStartup());

    fake::PutDword(u"activateVisualAcc", 0);
    ReloadSettings();
    EXPECT_FALSE(g_settings.GetVisualAcc());
}

TEST_F(SettingsLoader, ReplacesTheBlacklistWhole) {
    PutDefaultSettings();
    fake::PutText(u"blacklist", u"x.exe");
    g_settings.SetBlacklist(u"a-much-longer-earlier-blacklist.exe");

    ReloadSettings();

    EXPECT_EQ(g_settings.GetBlacklist(), u"x.exe");
}

TEST_F(SettingsLoader, AMissingDwordIsTracedAsZeroAndEndsTheLoad) {
    PutDistinctSettings();
    fake::RemoveValue(u"nRunCnt");
    PutEarlierValuesInMemory();

    ReloadSettings();

    Lines expected = FirstLines(kDistinctTrace, 7);
    expected.push_back(u"\ndw_nRunCnt: <: 0 :>\n");
    EXPECT_EQ(world().debugOutput, expected);
    EXPECT_EQ(QueriedValueNames(), FirstNames(8));

    EXPECT_TRUE(g_settings.GetDisplayEvents());
    EXPECT_TRUE(g_settings.GetEventLogging());
    EXPECT_TRUE(g_settings.GetOnStartup());
    EXPECT_TRUE(g_settings.GetVisualAcc());
    EXPECT_FALSE(g_settings.GetApp1());
    EXPECT_FLOAT_EQ(g_settings.GetCurrentVersion(), 7.4f);
    EXPECT_TRUE(g_settings.GetGlobal());

    EXPECT_EQ(g_settings.GetRunCount(), 11);
    EXPECT_EQ(g_settings.GetPrimaryTimeout(), 42);
    EXPECT_EQ(g_settings.GetStartupDelay(), 8);
    EXPECT_EQ(g_settings.GetTabDelay(), 3.0f);
    EXPECT_EQ(g_settings.GetBlacklist(), u"earlier.exe");
}

TEST_F(SettingsLoader, ACurrentVersionStoredAsDwordEndsTheLoadUntraced) {
    PutDistinctSettings();
    fake::PutDword(u"currentVersion", 7);
    PutEarlierValuesInMemory();

    ReloadSettings();

    EXPECT_EQ(world().debugOutput, FirstLines(kDistinctTrace, 5));
    EXPECT_EQ(QueriedValueNames(), FirstNames(6));
    EXPECT_FALSE(g_settings.GetApp1());
    EXPECT_EQ(g_settings.GetCurrentVersion(), 0.0f);
    EXPECT_FALSE(g_settings.GetGlobal());
    EXPECT_EQ(g_settings.GetBlacklist(), u"earlier.exe");
}

TEST_F(SettingsLoader, ADwordStoredAsTextIsTracedThenEndsTheLoad) {
    PutDistinctSettings();
    // Four bytes: they fit the reader's buffer, so the trace shows them as a number.
    fake::PutText(u"activateVisualAcc", u"1", true);

    ReloadSettings();

    Lines expected = FirstLines(kDistinctTrace, 3);
    expected.push_back(u"\nactivateVisualAcc: <: 49 :>\n");
    EXPECT_EQ(world().debugOutput, expected);
    EXPECT_EQ(QueriedValueNames(), FirstNames(4));
    EXPECT_FALSE(g_settings.GetVisualAcc());
    EXPECT_TRUE(g_settings.GetApp1());
}

TEST_F(SettingsLoader, ALongTextWhereADwordBelongsIsTracedAsZero) {
    PutDistinctSettings();
    fake::PutText(u"tabDelay", u"none", true);
    PutEarlierValuesInMemory();

    ReloadSettings();

    Lines expected = FirstLines(kDistinctTrace, 10);
    expected.push_back(u"\ndwTabDelay: <: 0 :>\n");
    EXPECT_EQ(world().debugOutput, expected);
    EXPECT_EQ(g_settings.GetStartupDelay(), 9);
    EXPECT_EQ(g_settings.GetTabDelay(), 3.0f);
    EXPECT_EQ(g_settings.GetBlacklist(), u"earlier.exe");
}

TEST_F(SettingsLoader, AMissingBlacklistKeepsTheEarlierOne) {
    PutDistinctSettings();
    fake::RemoveValue(u"blacklist");
    PutEarlierValuesInMemory();

    ReloadSettings();

    EXPECT_EQ(world().debugOutput, FirstLines(kDistinctTrace, 11));
    EXPECT_EQ(g_settings.GetTabDelay(), 2.0f);
    EXPECT_EQ(g_settings.GetBlacklist(), u"earlier.exe");
}

TEST_F(SettingsLoader, AMissingKeyRequestsTheExitAndLoadsNothing) {
    g_settings.SetGlobal(1);
    const auto before = SettingsSnapshot();

    EXPECT_EQ(ExitCodeOf([] { ReloadSettings(); }), std::nullopt);

    EXPECT_TRUE(fake::JournalLines("RegQueryValue").empty());
    EXPECT_TRUE(world().debugOutput.empty());
    EXPECT_TRUE(world().messageBoxes.empty());
    EXPECT_EQ(SettingsSnapshot(), before);

    g_settings.SetGlobal(0);
    EXPECT_EQ(ExitCodeOf([] { ReloadSettings(); }), 0u);
    EXPECT_TRUE(fake::JournalLines("RegQueryValue").empty());
    EXPECT_TRUE(world().debugOutput.empty());
}

}  // namespace
