#include "settings/diagnostics.h"

#include <string>
#include <vector>

#include "system_test.h"

namespace {

// Forty distinct characters repeated, so that a cut in the wrong place or a shifted window of
// the text shows.
std::u16string Numbered(std::size_t length) {
    const std::u16string_view pattern = u"0123456789abcdefghijklmnopqrstuvwxyzABCD";
    std::u16string text;
    while (text.size() < length) {
        text += pattern;
    }
    return text.substr(0, length);
}

class StatusDiagnostics : public SystemTest {};

TEST_F(StatusDiagnostics, TheTextIsReportedAsOneEventOfTheSourceQelm) {
    LogRequirement(u"Memory Recovery Requires Firefox Or Pale Moon");

    EXPECT_EQ(world().journal,
              (std::vector<std::string>{"RegisterEventSource QELM",
                                        "ReportEvent Memory Recovery Requires Firefox Or Pale Moon",
                                        "DeregisterEventSource"}));
    EXPECT_EQ(world().eventLog,
              (std::vector<std::u16string>{u"Memory Recovery Requires Firefox Or Pale Moon"}));
    EXPECT_EQ(world().standardOutput, u"");
}

TEST_F(StatusDiagnostics, WithoutTheSourceTheTextAndALineFeedGoToStandardOutput) {
    world().eventSourceAvailable = false;

    LogRequirement(u"Memory Recovery Requires Firefox Or Pale Moon");

    EXPECT_EQ(world().standardOutput, u"Memory Recovery Requires Firefox Or Pale Moon\n");
    EXPECT_TRUE(world().eventLog.empty());
    EXPECT_TRUE(fake::JournalLines("ReportEvent").empty());
    EXPECT_EQ(fake::JournalLines("RegisterEventSource"),
              (std::vector<std::string>{"RegisterEventSource QELM"}));
}

TEST_F(StatusDiagnostics, ReportedTextsAreCutTo255Characters) {
    for (const std::size_t length : {254u, 255u, 256u, 1000u}) {
        SCOPED_TRACE(length);
        fake::ResetWorld();

        LogRequirement(Numbered(length));

        const std::size_t kept = length < 255 ? length : 255;
        EXPECT_EQ(world().eventLog, (std::vector<std::u16string>{Numbered(kept)}));
    }
}

TEST_F(StatusDiagnostics, TextsForStandardOutputAreCutTo255CharactersBeforeTheLineFeed) {
    for (const std::size_t length : {255u, 256u, 1000u}) {
        SCOPED_TRACE(length);
        fake::ResetWorld();
        world().eventSourceAvailable = false;

        LogRequirement(Numbered(length));

        EXPECT_EQ(world().standardOutput, Numbered(255) + u"\n");
    }
}

}  // namespace
