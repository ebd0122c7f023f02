#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "registry_test.h"
#include "settings/registry_channel.h"

namespace {

using DefaultSettings = RegistryTest;

// The values of a fresh key in the order they are written.
const std::vector<std::string> kDefaultNames = {
    "currentVersion",
    "blacklist",
    "nRunCnt",
    "app_1",
    "activateKVDisplayEvents",
    "activateVisualAcc",
    "activateKVXonStartup",
    "startupDelay",
    "tabDelay",
    "global",
    "primaryTimeout",
    "activateKVXEventLogging",
    "startKVX",
    "kvxRestart",
};

// The journal lines of the first count writes: texts are four characters without terminator.
std::vector<std::string> DefaultWrites(std::size_t count) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < count; ++i) {
        lines.push_back("RegSetValue " + kDefaultNames[i] + (i < 2 ? " 1 8" : " 4 4"));
    }
    return lines;
}

std::u16string Wide(const std::string& name) {
    return std::u16string(name.begin(), name.end());
}

std::vector<std::uint8_t> DwordBytes(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

TEST_F(DefaultSettings, CreatesTheKeyWithTheFourteenValuesInOrder) {
    ASSERT_TRUE(CreateDefaultSettings());

    std::vector<std::string> expected = {"RegCreateKey SOFTWARE\\Qelm"};
    const auto writes = DefaultWrites(kDefaultNames.size());
    expected.insert(expected.end(), writes.begin(), writes.end());
    expected.push_back("RegFlushKey");
    expected.push_back("RegCloseKey");
    EXPECT_EQ(world().journal, expected);

    const std::vector<std::uint8_t> none = {'n', 0, 'o', 0, 'n', 0, 'e', 0};
    ASSERT_EQ(world().values.size(), 14u);
    for (const auto* name : {u"currentVersion", u"blacklist"}) {
        SCOPED_TRACE(fake::Narrow(name));
        EXPECT_EQ(fake::FindValue(name)->type, platform::kRegSz);
        EXPECT_EQ(fake::FindValue(name)->data, none);
    }
    for (const auto* name : {u"nRunCnt", u"activateKVDisplayEvents", u"activateVisualAcc",
                             u"activateKVXonStartup", u"startupDelay", u"tabDelay", u"global",
                             u"activateKVXEventLogging", u"startKVX", u"kvxRestart"}) {
        SCOPED_TRACE(fake::Narrow(name));
        EXPECT_EQ(fake::FindValue(name)->type, platform::kRegDword);
        EXPECT_EQ(fake::FindValue(name)->data, DwordBytes(0));
    }
    for (const auto* name : {u"app_1", u"primaryTimeout"}) {
        SCOPED_TRACE(fake::Narrow(name));
        EXPECT_EQ(fake::FindValue(name)->type, platform::kRegDword);
        EXPECT_EQ(fake::FindValue(name)->data, DwordBytes(1));
    }
}

TEST_F(DefaultSettings, OverwritesWhatAnExistingKeyHolds) {
    fake::PutDword(u"startupDelay", 9);
    fake::PutText(u"blacklist", u"a.exe");

    ASSERT_TRUE(CreateDefaultSettings());

    EXPECT_EQ(fake::FindValue(u"startupDelay")->data, DwordBytes(0));
    EXPECT_EQ(fake::FindValue(u"blacklist")->data,
              (std::vector<std::uint8_t>{'n', 0, 'o', 0, 'n', 0, 'e', 0}));
}

TEST_F(DefaultSettings, StopsAtTheFirstFailedWriteKeepingTheValuesBeforeIt) {
    for (std::size_t failing = 0; failing < kDefaultNames.size(); ++failing) {
        const auto& name = kDefaultNames[failing];
        SCOPED_TRACE(name);
        fake::ResetWorld();
        world().setErrors[Wide(name)] = 5;

        EXPECT_FALSE(CreateDefaultSettings());

        EXPECT_EQ(fake::JournalLines("RegSetValue"), DefaultWrites(failing + 1));
        EXPECT_EQ(world().journal.back(), "RegCloseKey");
        EXPECT_TRUE(world().openKeys.empty());
        ASSERT_EQ(world().values.size(), failing);
        for (std::size_t kept = 0; kept < failing; ++kept) {
            EXPECT_EQ(fake::Narrow(world().values[kept].first), kDefaultNames[kept]);
        }
        EXPECT_EQ(fake::FindValue(Wide(name)), nullptr);
    }
}

TEST_F(DefaultSettings, FailsWhenTheKeyCannotBeCreated) {
    world().createError = 5;

    EXPECT_FALSE(CreateDefaultSettings());

    EXPECT_EQ(world().journal, (std::vector<std::string>{"RegCreateKey SOFTWARE\\Qelm"}));
    EXPECT_TRUE(world().values.empty());
}

TEST_F(DefaultSettings, LeavesTheSettingsInMemoryAlone) {
    const auto before = SettingsSnapshot();

    ASSERT_TRUE(CreateDefaultSettings());

    EXPECT_EQ(SettingsSnapshot(), before);
    EXPECT_TRUE(world().debugOutput.empty());
}

}  // namespace
