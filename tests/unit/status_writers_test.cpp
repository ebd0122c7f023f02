#include "settings/status_writers.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "recovery/memory_metrics.h"
#include "registry_test.h"

namespace {

constexpr std::uint64_t kMiB = 1ull << 20;

// Line feeds written out, so that a failing comparison of multi-line texts stays readable.
std::string Shown(std::u16string_view text) {
    std::string shown;
    for (const char c : fake::Narrow(text)) {
        shown += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return shown;
}

// The add-on reads a text as REG_SZ of exactly two bytes a character, little-endian, with no
// terminator; anything else is a different text to it.
::testing::AssertionResult HoldsText(std::u16string_view name, std::u16string_view expected) {
    const fake::RegistryValue* value = fake::FindValue(name);
    if (value == nullptr) {
        return ::testing::AssertionFailure() << fake::Narrow(name) << " is missing";
    }
    if (value->type != 1) {
        return ::testing::AssertionFailure() << fake::Narrow(name) << " has type " << value->type;
    }
    if (value->data.size() != expected.size() * 2) {
        return ::testing::AssertionFailure()
               << fake::Narrow(name) << " holds " << value->data.size() << " bytes instead of "
               << expected.size() * 2;
    }
    std::u16string stored;
    for (std::size_t i = 0; i < value->data.size(); i += 2) {
        stored.push_back(static_cast<char16_t>(value->data[i] | (value->data[i + 1] << 8)));
    }
    if (stored != expected) {
        return ::testing::AssertionFailure()
               << fake::Narrow(name) << " holds \"" << Shown(stored) << "\"\n      instead of \""
               << Shown(expected) << "\"";
    }
    return ::testing::AssertionSuccess();
}

std::vector<std::string> RegistryCalls() {
    return fake::JournalLines("Reg");
}

std::string TextWrite(const std::string& name, std::size_t characters) {
    return "RegSetValue " + name + " 1 " + std::to_string(characters * 2);
}

class StatusTexts : public RegistryTest {
  protected:
    void SetUp() override {
        RegistryTest::SetUp();
        PutDefaultSettings();
    }

    // Every figure different, and the free physical memory a little above a whole MiB, so that
    // a swapped field or a rounded figure shows.
    void PutMemoryStatus() {
        auto& status = world().memoryStatus;
        status.memoryLoad = 45;
        status.totalPhysical = 4096 * kMiB;
        status.availablePhysical = 1536 * kMiB + kMiB - 1;
        status.totalPageFile = 8192 * kMiB;
        status.availablePageFile = 5000 * kMiB;
        status.totalVirtual = 2047 * kMiB;
        status.availableVirtual = 1900 * kMiB;
    }

    // Nothing measured, nothing composed: only the failed open may appear.
    void ExpectOnlyTheOpenAttempt() {
        EXPECT_EQ(world().journal, (std::vector<std::string>{"RegOpenKey SOFTWARE\\Qelm 0x20006"}));
        EXPECT_TRUE(world().openProcesses.empty());
    }
};

constexpr std::u16string_view kMemoryLines =
    u"\nMemory in usage:      45%"
    u"\nPhysical memory:    4096M"
    u"\nFree physical memory:    1536M"
    u"\nPaging file:    8192M"
    u"\nFree paging file:    5000M"
    u"\nVirtual memory:    2047M"
    u"\nFree virtual memory:    1900M";

std::u16string Metrics(std::u16string_view workingSets) {
    return std::u16string(workingSets) + u"\n" + std::u16string(kMemoryLines);
}

TEST_F(StatusTexts, FirefoxIsMeasuredInKibibytesUnderTheWordBrowser) {
    fake::AddProcess(u"explorer.exe", 5 * kMiB);
    fake::AddProcess(u"FireFox.EXE", 64 * kMiB);

    EXPECT_EQ(FormatBrowserWorkingSet(), u"Browser WorkingSetSize = 65536K");
    const auto opens = fake::JournalLines("OpenProcess ");
    ASSERT_FALSE(opens.empty());
    for (const auto& line : opens) {
        EXPECT_EQ(line.rfind("OpenProcess 0x410 ", 0), 0u) << line;
    }
    EXPECT_TRUE(world().openProcesses.empty());
}

TEST_F(StatusTexts, PaleMoonWithoutFirefoxIsMeasuredWithoutTheWordBrowser) {
    fake::AddProcess(u"plugin-container.exe", 3 * kMiB);
    fake::AddProcess(u"PaleMoon.exe", 2 * kMiB);

    EXPECT_EQ(FormatBrowserWorkingSet(), u"WorkingSetSize = 2048K");
}

TEST_F(StatusTexts, WithoutABrowserTheBrowserTextIsEmpty) {
    fake::AddProcess(u"plugin-container.exe", 3 * kMiB);
    fake::AddProcess(u"firefox.exe.bak", 4 * kMiB);
    fake::AddProcess(u"palemoon", 4 * kMiB);

    EXPECT_EQ(FormatBrowserWorkingSet(), u"");
}

TEST_F(StatusTexts, OnlyTheFirstFirefoxIsMeasuredEvenAfterAPaleMoon) {
    fake::AddProcess(u"palemoon.exe", 2 * kMiB);
    const auto first = fake::AddProcess(u"firefox.exe", 7 * kMiB);
    fake::AddProcess(u"firefox.exe", 9 * kMiB);

    EXPECT_EQ(FormatBrowserWorkingSet(), u"Browser WorkingSetSize = 7168K");
    EXPECT_EQ(fake::JournalLines("GetProcessMemoryInfo "),
              (std::vector<std::string>{"GetProcessMemoryInfo " + std::to_string(first)}));
}

TEST_F(StatusTexts, KibibytesDropTheFractionAndPrintAsAnUnsigned32BitFigureInFull) {
    fake::AddProcess(u"firefox.exe");
    const std::pair<std::uint64_t, std::u16string_view> cases[] = {
        {0, u"Browser WorkingSetSize = 0K"},
        {1023, u"Browser WorkingSetSize = 0K"},
        {1024, u"Browser WorkingSetSize = 1K"},
        {kMiB, u"Browser WorkingSetSize = 1024K"},
        {kMiB + 1023, u"Browser WorkingSetSize = 1024K"},
        {12345678ull * 1024, u"Browser WorkingSetSize = 12345678K"},
        {4294967295ull * 1024 + 1023, u"Browser WorkingSetSize = 4294967295K"},
        {(4294967296ull + 3) * 1024, u"Browser WorkingSetSize = 3K"},
    };
    for (const auto& [bytes, expected] : cases) {
        SCOPED_TRACE(bytes);
        world().processes[0].workingSetBytes = bytes;
        EXPECT_EQ(FormatBrowserWorkingSet(), expected);
    }
}

TEST_F(StatusTexts, AProcessWhoseCountersCannotBeReadGivesEmptyTexts) {
    fake::AddProcess(u"firefox.exe", 64 * kMiB);
    fake::AddProcess(u"palemoon.exe", 2 * kMiB);
    fake::AddProcess(u"plugin-container.exe", 3 * kMiB);
    world().processes[0].countersReadable = false;
    world().processes[2].countersReadable = false;

    EXPECT_EQ(FormatBrowserWorkingSet(), u"");
    EXPECT_EQ(FormatPluginHostWorkingSet(), u"");
    EXPECT_TRUE(world().openProcesses.empty());
}

TEST_F(StatusTexts, ThePluginHostTextStartsWithABlankAndALineFeed) {
    fake::AddProcess(u"firefox.exe", 64 * kMiB);
    fake::AddProcess(u"Plugin-Container.exe", 3 * kMiB + 1023);
    fake::AddProcess(u"plugin-container.exe", 5 * kMiB);

    EXPECT_EQ(FormatPluginHostWorkingSet(), u" \nPlugin-Container WorkingSetSize = 3072K");

    world().processes.erase(world().processes.begin() + 1, world().processes.end());
    EXPECT_EQ(FormatPluginHostWorkingSet(), u"");
}

TEST_F(StatusTexts, MetricsWithoutBrowserOrPluginHostStartWithTwoLineFeeds) {
    PutMemoryStatus();

    CollectMemoryMetrics();

    const std::u16string expected =
        u"\n\nMemory in usage:      45%\nPhysical memory:    4096M\nFree physical memory:    1536M"
        u"\nPaging file:    8192M\nFree paging file:    5000M\nVirtual memory:    2047M"
        u"\nFree virtual memory:    1900M";
    EXPECT_TRUE(HoldsText(u"activateEventMemoryMetrics", expected));
    EXPECT_EQ(RegistryCalls(),
              (std::vector<std::string>{"RegOpenKey SOFTWARE\\Qelm 0x20006",
                                        TextWrite("activateEventMemoryMetrics", expected.size()),
                                        "RegFlushKey", "RegCloseKey"}));
    EXPECT_EQ(world().journal.front(), "RegOpenKey SOFTWARE\\Qelm 0x20006");
    EXPECT_EQ(fake::JournalLines("GlobalMemoryStatusEx").size(), 1u);
}

TEST_F(StatusTexts, MetricsCarryTheBrowserAndPluginHostFiguresBeforeTheMemoryLines) {
    PutMemoryStatus();
    fake::AddProcess(u"plugin-container.exe", 3 * kMiB);
    fake::AddProcess(u"firefox.exe", 64 * kMiB);

    CollectMemoryMetrics();

    EXPECT_TRUE(HoldsText(
        u"activateEventMemoryMetrics",
        Metrics(u"Browser WorkingSetSize = 65536K \nPlugin-Container WorkingSetSize = 3072K")));
}

TEST_F(StatusTexts, MetricsOfPaleMoonAloneHaveNoPluginHostPart) {
    PutMemoryStatus();
    fake::AddProcess(u"palemoon.exe", 2 * kMiB);

    CollectMemoryMetrics();

    EXPECT_TRUE(HoldsText(u"activateEventMemoryMetrics", Metrics(u"WorkingSetSize = 2048K")));
}

TEST_F(StatusTexts, AnUnreadableMemoryStatusPrintsEveryFigureAsZero) {
    PutMemoryStatus();
    world().memoryStatusFails = true;

    CollectMemoryMetrics();

    EXPECT_TRUE(HoldsText(u"activateEventMemoryMetrics",
                          u"\n\nMemory in usage:       0%\nPhysical memory:       0M"
                          u"\nFree physical memory:       0M\nPaging file:       0M"
                          u"\nFree paging file:       0M\nVirtual memory:       0M"
                          u"\nFree virtual memory:       0M"));
}

TEST_F(StatusTexts, FiguresOfSevenDigitsOrMoreArePrintedWhole) {
    auto& status = world().memoryStatus;
    status.memoryLoad = 100;
    status.totalPhysical = 9999999 * kMiB;
    status.availablePhysical = 10000000 * kMiB;
    status.totalPageFile = 123456789 * kMiB;
    status.availablePageFile = 1;
    status.totalVirtual = 8388608 * kMiB;
    status.availableVirtual = 12345 * kMiB - 1;

    CollectMemoryMetrics();

    EXPECT_TRUE(HoldsText(u"activateEventMemoryMetrics",
                          u"\n\nMemory in usage:     100%\nPhysical memory: 9999999M"
                          u"\nFree physical memory: 10000000M\nPaging file: 123456789M"
                          u"\nFree paging file:       0M\nVirtual memory: 8388608M"
                          u"\nFree virtual memory:   12344M"));
}

TEST_F(StatusTexts, MetricsMeasureNothingWhenTheKeyCannotBeOpened) {
    const auto arrangements = {
        +[] { fake::TheWorld().openError = 5; },
        +[] { fake::TheWorld().keyExists = false; },
    };
    for (const auto arrange : arrangements) {
        fake::ResetWorld();
        fake::AddProcess(u"firefox.exe", 64 * kMiB);
        fake::AddProcess(u"plugin-container.exe", 3 * kMiB);
        PutDefaultSettings();
        arrange();

        CollectMemoryMetrics();

        ExpectOnlyTheOpenAttempt();
        EXPECT_EQ(fake::FindValue(u"activateEventMemoryMetrics"), nullptr);
    }
}

TEST_F(StatusTexts, AFailedMetricsWriteIsNotFlushedButTheKeyIsClosed) {
    world().setErrors[u"activateEventMemoryMetrics"] = 5;

    CollectMemoryMetrics();

    const auto calls = RegistryCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0], "RegOpenKey SOFTWARE\\Qelm 0x20006");
    EXPECT_EQ(calls[1].rfind("RegSetValue activateEventMemoryMetrics 1 ", 0), 0u) << calls[1];
    EXPECT_EQ(calls[2], "RegCloseKey");
}

TEST_F(StatusTexts, AStartingCommentIsTheHeadFollowedDirectlyByTheBrowserFigure) {
    fake::AddProcess(u"firefox.exe", 64 * kMiB);
    fake::AddProcess(u"plugin-container.exe", 3 * kMiB);

    WriteEventComment(u"Starting Lumbrel's Memory Recovery", CommentLayout::kShort);

    const std::u16string expected =
        u"Starting Lumbrel's Memory RecoveryBrowser WorkingSetSize = 65536K";
    EXPECT_TRUE(HoldsText(u"activateEventComment", expected));
    EXPECT_EQ(world().journal.front(), "RegOpenKey SOFTWARE\\Qelm 0x20006");
    EXPECT_EQ(RegistryCalls(),
              (std::vector<std::string>{"RegOpenKey SOFTWARE\\Qelm 0x20006",
                                        TextWrite("activateEventComment", expected.size()),
                                        "RegFlushKey", "RegCloseKey"}));
}

TEST_F(StatusTexts, AShortCommentWithoutABrowserIsTheHeadAlone) {
    fake::AddProcess(u"plugin-container.exe", 3 * kMiB);
    fake::PutText(u"activateEventComment", u"Starting Lumbrel's Memory Recovery");

    WriteEventComment(u"Stopped Lumbrel's Memory Recovery", CommentLayout::kShort);

    EXPECT_TRUE(HoldsText(u"activateEventComment", u"Stopped Lumbrel's Memory Recovery"));
}

TEST_F(StatusTexts, ALongCommentPutsEachFigureOnALineOfItsOwn) {
    fake::AddProcess(u"firefox.exe", 64 * kMiB);

    WriteEventComment(u"Memory Recovery Between A Tab Selection", CommentLayout::kLong);
    EXPECT_TRUE(HoldsText(u"activateEventComment",
                          u"Memory Recovery Between A Tab Selection\n"
                          u"Browser WorkingSetSize = 65536K\n\n"));

    fake::AddProcess(u"plugin-container.exe", 3 * kMiB);
    WriteEventComment(u"Memory Recovery Between A Tab Selection", CommentLayout::kLong);
    EXPECT_TRUE(HoldsText(u"activateEventComment",
                          u"Memory Recovery Between A Tab Selection\n"
                          u"Browser WorkingSetSize = 65536K\n"
                          u" \nPlugin-Container WorkingSetSize = 3072K\n"));

    world().processes.clear();
    WriteEventComment(u"Memory Recovery Between A Tab Selection", CommentLayout::kLong);
    EXPECT_TRUE(
        HoldsText(u"activateEventComment", u"Memory Recovery Between A Tab Selection\n\n\n"));
}

TEST_F(StatusTexts, AnOverlongCommentIsCutTo2047Characters) {
    fake::AddProcess(u"firefox.exe", 64 * kMiB);
    const std::u16string head(3000, u'h');

    for (const auto layout : {CommentLayout::kShort, CommentLayout::kLong}) {
        WriteEventComment(head, layout);
        EXPECT_TRUE(HoldsText(u"activateEventComment", std::u16string(2047, u'h')));
    }

    const std::u16string almost(2040, u'h');
    WriteEventComment(almost, CommentLayout::kShort);
    EXPECT_TRUE(HoldsText(u"activateEventComment", almost + u"Browser"));
}

TEST_F(StatusTexts, ACommentIsNotComposedWhenTheKeyCannotBeOpened) {
    fake::AddProcess(u"firefox.exe", 64 * kMiB);
    world().openError = 5;

    WriteEventComment(u"Starting Lumbrel's Memory Recovery", CommentLayout::kLong);

    ExpectOnlyTheOpenAttempt();
    EXPECT_EQ(fake::FindValue(u"activateEventComment"), nullptr);
}

TEST_F(StatusTexts, AFailedCommentWriteIsNotFlushedButTheKeyIsClosed) {
    world().setErrors[u"activateEventComment"] = 5;

    WriteEventComment(u"Stopped Lumbrel's Memory Recovery", CommentLayout::kShort);

    EXPECT_EQ(RegistryCalls(),
              (std::vector<std::string>{"RegOpenKey SOFTWARE\\Qelm 0x20006",
                                        TextWrite("activateEventComment", 33), "RegCloseKey"}));
    EXPECT_EQ(fake::FindValue(u"activateEventComment"), nullptr);
}

TEST_F(StatusTexts, TheExitNoticeReplacesTheMetrics) {
    fake::PutText(u"activateEventMemoryMetrics", u"\n\nMemory in usage:      45%");

    WriteExitMetricsNotice();

    EXPECT_TRUE(HoldsText(u"activateEventMemoryMetrics",
                          u"Activate Lumbrel To See Current WorkingSetSize"));
    EXPECT_EQ(RegistryCalls(),
              (std::vector<std::string>{"RegOpenKey SOFTWARE\\Qelm 0x20006",
                                        "RegSetValue activateEventMemoryMetrics 1 92",
                                        "RegFlushKey", "RegCloseKey"}));
}

TEST_F(StatusTexts, ClearingTheStartFlagWritesAFourByteZero) {
    fake::PutDword(u"startKVX", 1);

    ClearStartFlag();

    const fake::RegistryValue* flag = fake::FindValue(u"startKVX");
    ASSERT_NE(flag, nullptr);
    EXPECT_EQ(flag->type, 4u);
    EXPECT_EQ(flag->data, (std::vector<std::uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(RegistryCalls(),
              (std::vector<std::string>{"RegOpenKey SOFTWARE\\Qelm 0x20006",
                                        "RegSetValue startKVX 4 4", "RegFlushKey", "RegCloseKey"}));
}

TEST_F(StatusTexts, NoticeAndStartFlagAreSkippedSilentlyWhenTheKeyCannotBeOpened) {
    const auto arrangements = {
        +[] { fake::TheWorld().openError = 5; },
        +[] { fake::TheWorld().keyExists = false; },
    };
    for (const auto arrange : arrangements) {
        fake::ResetWorld();
        fake::PutDword(u"startKVX", 1);
        fake::PutText(u"activateEventMemoryMetrics", u"old");
        arrange();

        WriteExitMetricsNotice();
        ClearStartFlag();

        EXPECT_EQ(world().journal, (std::vector<std::string>{"RegOpenKey SOFTWARE\\Qelm 0x20006",
                                                             "RegOpenKey SOFTWARE\\Qelm 0x20006"}));
        EXPECT_TRUE(HoldsText(u"activateEventMemoryMetrics", u"old"));
        EXPECT_EQ(fake::FindValue(u"startKVX")->data, (std::vector<std::uint8_t>{1, 0, 0, 0}));
        EXPECT_TRUE(world().messageBoxes.empty());
        EXPECT_FALSE(world().exitCode.has_value());
    }
}

}  // namespace
