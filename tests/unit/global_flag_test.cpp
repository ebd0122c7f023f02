#include <cstdint>
#include <string>
#include <vector>

#include "registry_test.h"
#include "settings/registry_channel.h"
#include "settings/settings.h"

namespace {

using GlobalFlag = RegistryTest;
using SatelliteCheck = RegistryTest;

std::int32_t LastGlobal() {
    return g_settings.dwLastGlobal.load();
}

TEST_F(GlobalFlag, ReadsGlobalAfreshAndStoresTheFlag) {
    fake::PutDword(u"global", 5);
    EXPECT_TRUE(IsGlobalEnabled());
    EXPECT_EQ(world().journal.front(), "RegOpenKey SOFTWARE\\Qelm 0x1");
    EXPECT_TRUE(g_settings.GetGlobal());
    EXPECT_EQ(LastGlobal(), 5);

    fake::PutDword(u"global", 0);
    EXPECT_FALSE(IsGlobalEnabled());
    EXPECT_FALSE(g_settings.GetGlobal());
    EXPECT_EQ(LastGlobal(), 0);

    fake::PutDword(u"global", -1);
    EXPECT_TRUE(IsGlobalEnabled());
    EXPECT_TRUE(g_settings.GetGlobal());
    EXPECT_EQ(LastGlobal(), -1);
}

TEST_F(GlobalFlag, AnUnreadableValueAnswersFalseAndKeepsTheFlag) {
    g_settings.SetGlobal(1);
    g_settings.dwLastGlobal = 9;
    fake::PutDword(u"nRunCnt", 0);

    EXPECT_FALSE(IsGlobalEnabled());
    EXPECT_TRUE(g_settings.GetGlobal());
    EXPECT_EQ(LastGlobal(), 0);

    fake::PutText(u"global", u"enabled", true);
    EXPECT_FALSE(IsGlobalEnabled());
    EXPECT_TRUE(g_settings.GetGlobal());
}

TEST_F(GlobalFlag, AMissingKeyRequestsTheExitWhichOnlyGlobalModeSurvives) {
    g_settings.SetGlobal(1);
    g_settings.dwLastGlobal = 9;
    bool enabled = true;

    EXPECT_EQ(ExitCodeOf([&] { enabled = IsGlobalEnabled(); }), std::nullopt);

    EXPECT_FALSE(enabled);
    EXPECT_TRUE(g_settings.GetGlobal());
    EXPECT_EQ(LastGlobal(), 0);

    g_settings.SetGlobal(0);
    EXPECT_EQ(ExitCodeOf([] { IsGlobalEnabled(); }), 0u);
}

TEST_F(GlobalFlag, TheExitsOwnReadNeverRequestsTheExit) {
    fake::PutDword(u"global", 5);
    EXPECT_TRUE(RefreshGlobalForExit());
    EXPECT_TRUE(g_settings.GetGlobal());
    EXPECT_EQ(LastGlobal(), 5);

    fake::ResetWorld();
    g_settings.SetGlobal(0);
    bool enabled = true;
    EXPECT_EQ(ExitCodeOf([&] { enabled = RefreshGlobalForExit(); }), std::nullopt);
    EXPECT_FALSE(enabled);
    EXPECT_EQ(fake::JournalLines("RegOpenKey"),
              (std::vector<std::string>{"RegOpenKey SOFTWARE\\Qelm 0x1"}));
    EXPECT_TRUE(fake::JournalLines("ExitProcess").empty());
}

TEST_F(SatelliteCheck, AnswersFromAFreshReadWithoutTouchingTheFlag) {
    fake::PutDword(u"global", 1);
    EXPECT_TRUE(dwSatelliteQELM());
    EXPECT_EQ(world().journal.front(), "RegOpenKey SOFTWARE\\Qelm 0x1");
    EXPECT_FALSE(g_settings.GetGlobal());

    g_settings.SetGlobal(1);
    fake::PutDword(u"global", 0);
    EXPECT_FALSE(dwSatelliteQELM());
    EXPECT_TRUE(g_settings.GetGlobal());
    EXPECT_TRUE(world().messageBoxes.empty());
}

TEST_F(SatelliteCheck, AnUnreadableGlobalShowsThePreviousRawValue) {
    fake::PutDword(u"global", 5);
    ASSERT_TRUE(IsGlobalEnabled());
    fake::RemoveValue(u"global");

    EXPECT_FALSE(dwSatelliteQELM());
    EXPECT_EQ(world().messageBoxes,
              (std::vector<std::u16string>{u"\n\ndwSatelliteQELM: <: 5 :>\n\n"}));

    EXPECT_FALSE(IsGlobalEnabled());
    EXPECT_TRUE(g_settings.GetGlobal());
}

TEST_F(SatelliteCheck, ShowsANegativePreviousValueSigned) {
    g_settings.dwLastGlobal = -3;
    fake::PutDword(u"nRunCnt", 0);

    EXPECT_FALSE(dwSatelliteQELM());

    EXPECT_EQ(world().messageBoxes,
              (std::vector<std::u16string>{u"\n\ndwSatelliteQELM: <: -3 :>\n\n"}));
}

TEST_F(SatelliteCheck, AMissingKeyRequestsTheExitWhichOnlyGlobalModeSurvives) {
    g_settings.SetGlobal(1);
    bool satellite = true;

    EXPECT_EQ(ExitCodeOf([&] { satellite = dwSatelliteQELM(); }), std::nullopt);

    EXPECT_FALSE(satellite);
    EXPECT_TRUE(g_settings.GetGlobal());
    EXPECT_EQ(world().messageBoxes,
              (std::vector<std::u16string>{u"\n\ndwSatelliteQELM: <: 0 :>\n\n"}));

    fake::ResetWorld();
    g_settings.SetGlobal(0);
    EXPECT_EQ(ExitCodeOf([] { dwSatelliteQELM(); }), 0u);
    EXPECT_TRUE(world().messageBoxes.empty());
}

}  // namespace
