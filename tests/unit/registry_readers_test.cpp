#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "registry_test.h"
#include "settings/registry_channel.h"

namespace {

// The readers work on a key their caller opened; each test gets one and hands it back.
class RegistryReaders : public RegistryTest {
  protected:
    void SetUp() override {
        RegistryTest::SetUp();
        world().keyExists = true;
        ASSERT_EQ(platform::OpenUserKey(kKeyPath, platform::KeyAccess::kQuery, key), 0);
    }

    void TearDown() override {
        platform::CloseKey(key);
        RegistryTest::TearDown();
    }

    platform::KeyHandle key;
};

std::vector<std::uint8_t> Utf16Bytes(std::u16string_view text) {
    std::vector<std::uint8_t> bytes;
    for (const char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return bytes;
}

TEST(RegistryErrorResult, CarriesTheLowSixteenBitsUnderTheWin32Facility) {
    EXPECT_EQ(ResultFromRegistryError(2), kValueNotFound);
    EXPECT_EQ(ResultFromRegistryError(234), kMoreData);
    EXPECT_EQ(ResultFromRegistryError(0x12345), ResultCode(0x80072345));
}

TEST_F(RegistryReaders, DwordRefusesAMissingKeyOrDestination) {
    std::int32_t value = 0;
    fake::PutDword(u"global", 1);
    EXPECT_EQ(QueryDwordValue(platform::KeyHandle{}, u"global", &value), kInvalidArgument);
    EXPECT_EQ(QueryDwordValue(key, u"global", nullptr), kInvalidArgument);
}

TEST_F(RegistryReaders, DwordReadsFourBytesIntoTheDestination) {
    std::int32_t value = 0;
    fake::PutDword(u"startupDelay", -5);
    EXPECT_EQ(QueryDwordValue(key, u"startupDelay", &value), 0);
    EXPECT_EQ(value, -5);
}

TEST_F(RegistryReaders, DwordReportsRegistryErrorsAsResultCodes) {
    std::int32_t value = 0;
    EXPECT_EQ(QueryDwordValue(key, u"global", &value), kValueNotFound);

    fake::PutRaw(u"global", platform::kRegDword, {1, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(QueryDwordValue(key, u"global", &value), kMoreData);

    // A longer value of another type fails on its size before its type is looked at.
    fake::PutText(u"global", u"enabled", true);
    EXPECT_EQ(QueryDwordValue(key, u"global", &value), kMoreData);
}

TEST_F(RegistryReaders, DwordRefusesAValueOfAnotherTypeAfterReadingIt) {
    std::int32_t value = 0;
    fake::PutText(u"global", u"1", true);
    EXPECT_EQ(QueryDwordValue(key, u"global", &value), kTypeMismatch);
    // The read goes straight into the destination, so the text's bytes are there.
    EXPECT_EQ(value, 0x31);

    fake::PutRaw(u"global", 3, {1, 0, 0, 0});
    EXPECT_EQ(QueryDwordValue(key, u"global", &value), kTypeMismatch);
}

TEST_F(RegistryReaders, AShortDwordFillsOnlyItsOwnBytes) {
    std::int32_t value = 0x7F7F7F7F;
    fake::PutRaw(u"tabDelay", platform::kRegDword, {0x34, 0x12});
    EXPECT_EQ(QueryDwordValue(key, u"tabDelay", &value), 0);
    EXPECT_EQ(value, 0x7F7F1234);
}

TEST_F(RegistryReaders, TextIsEmptiedEvenWhenTheReadFails) {
    std::u16string text = u"stale";
    EXPECT_EQ(QueryStringValue(key, u"blacklist", &text), kValueNotFound);
    EXPECT_EQ(text, u"");

    text = u"stale";
    fake::PutText(u"blacklist", u"a.exe");
    EXPECT_EQ(QueryStringValue(platform::KeyHandle{}, u"blacklist", &text), kInvalidArgument);
    EXPECT_EQ(text, u"");

    EXPECT_EQ(QueryStringValue(key, u"blacklist", nullptr), kInvalidArgument);
}

TEST_F(RegistryReaders, TextRefusesAValueOfAnotherType) {
    std::u16string text = u"stale";
    fake::PutDword(u"currentVersion", 7);
    EXPECT_EQ(QueryStringValue(key, u"currentVersion", &text), kTypeMismatch);
    EXPECT_EQ(text, u"");

    constexpr std::uint32_t kRegExpandSz = 2;
    fake::PutRaw(u"currentVersion", kRegExpandSz, Utf16Bytes(std::u16string(u"7.4\0", 4)));
    EXPECT_EQ(QueryStringValue(key, u"currentVersion", &text), kTypeMismatch);
    EXPECT_EQ(text, u"");
}

TEST_F(RegistryReaders, TextReadsTheSameWithOrWithoutATerminator) {
    std::u16string text;
    fake::PutText(u"currentVersion", u"7.4", false);
    EXPECT_EQ(QueryStringValue(key, u"currentVersion", &text), 0);
    EXPECT_EQ(text, u"7.4");

    fake::PutText(u"currentVersion", u"7.4", true);
    EXPECT_EQ(QueryStringValue(key, u"currentVersion", &text), 0);
    EXPECT_EQ(text, u"7.4");

    fake::PutText(u"currentVersion", u"");
    text = u"stale";
    EXPECT_EQ(QueryStringValue(key, u"currentVersion", &text), 0);
    EXPECT_EQ(text, u"");
}

TEST_F(RegistryReaders, TextDropsAnOddTrailingByte) {
    std::u16string text;
    fake::PutRaw(u"blacklist", platform::kRegSz, {'a', 0, 'b', 0, 'c'});
    EXPECT_EQ(QueryStringValue(key, u"blacklist", &text), 0);
    EXPECT_EQ(text, u"ab");

    fake::PutRaw(u"blacklist", platform::kRegSz, {'z'});
    EXPECT_EQ(QueryStringValue(key, u"blacklist", &text), 0);
    EXPECT_EQ(text, u"");
}

TEST_F(RegistryReaders, TextOfSixtyFourKilobytesReadsWhole) {
    std::u16string stored(32 * 1024, u'\0');
    for (std::size_t i = 0; i < stored.size(); ++i) {
        stored[i] = static_cast<char16_t>(u'a' + i % 26);
    }
    std::u16string text;

    fake::PutText(u"blacklist", stored, false);
    ASSERT_EQ(fake::FindValue(u"blacklist")->data.size(), 64u * 1024u);
    EXPECT_EQ(QueryStringValue(key, u"blacklist", &text), 0);
    EXPECT_EQ(text, stored);

    fake::PutText(u"blacklist", stored, true);
    EXPECT_EQ(QueryStringValue(key, u"blacklist", &text), 0);
    EXPECT_EQ(text, stored);
}

TEST_F(RegistryReaders, TextTooLargeForTheHeapIsRefusedWithoutEndingTheProcess) {
    std::u16string text = u"stale";
    fake::PutText(u"blacklist", u"a.exe;b.exe");
    // The data's 22 bytes and a terminator do not fit.
    world().heapLimitBytes = 23;

    EXPECT_EQ(QueryStringValue(key, u"blacklist", &text), kOutOfMemory);
    EXPECT_EQ(text, u"");
}

}  // namespace
