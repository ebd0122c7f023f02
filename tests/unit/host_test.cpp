#include <string>
#include <vector>

#include "app/messages.h"
#include "framing.h"
#include "platform/desktop.h"
#include "registry_test.h"
#include "requests.h"
#include "status_events.h"
#include "support/fake_companion.h"
#include "text.h"

namespace {

using nlohmann::json;

std::string Count(std::uint32_t count) {
    return Framed(std::string(count, 'x')).substr(0, 4);
}

TEST(HostFraming, MessagesArriveWholeWhateverPiecesTheBytesComeIn) {
    // Counts holding 0x0a, 0x0d and 0x1a, which a text-mode stream would mangle.
    const std::string first(0x0a0d, 'a');
    const std::string second(0x1a, 'b');
    const std::string stream = Framed(first) + Framed(second);
    FrameReader reader;
    std::vector<std::string> messages;
    for (std::size_t i = 0; i < stream.size(); i += 7) {
        reader.Append(std::string_view(stream).substr(i, 7));
        while (const auto incoming = reader.Next()) {
            messages.push_back(incoming->json);
        }
    }
    EXPECT_EQ(messages, (std::vector<std::string>{first, second}));
    EXPECT_FALSE(reader.AtEnd());
}

TEST(HostFraming, AnOverlongMessageIsRefusedAndSkippedAndACutOneReportedAtTheEnd) {
    FrameReader reader;
    reader.Append(Count(kLongestRequestBytes + 1) + std::string(1000, 'x'));
    const auto refused = reader.Next();
    ASSERT_TRUE(refused && refused->error);
    reader.Append(std::string(kLongestRequestBytes + 1 - 1000, 'x') + Framed("{}"));
    const auto next = reader.Next();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->json, "{}");

    reader.Append(Count(10) + "abc");
    EXPECT_FALSE(reader.Next());
    const auto cut = reader.AtEnd();
    ASSERT_TRUE(cut && cut->error);
}

class Host : public RegistryTest {
  protected:
    void SetUp() override {
        RegistryTest::SetUp();
        PutDefaultSettings();
    }

    json Ask(const json& request) { return HandleRequest(request.dump()); }

    void StartCompanion(std::optional<std::uintptr_t> reply = 1) {
        companionId = AddCompanion(reply);
    }

    static std::vector<fake::SentMessage> Sent(const char16_t* messageName) {
        return SentMessages(messageName);
    }

    std::uint32_t companionId = 0;
};

TEST_F(Host, BadRequestsAreAnsweredWithTheirIdAndChangeNothing) {
    const auto before = world().values;
    EXPECT_EQ(HandleRequest("not json"),
              (json{{"ok", false}, {"error", "the message is not JSON in UTF-8"}}));
    EXPECT_FALSE(HandleRequest("\"\xff\"")["ok"]);
    EXPECT_EQ(HandleRequest("[1]")["error"], "the message is not a JSON object");
    EXPECT_EQ(Ask({{"id", 7}}),
              (json{{"id", 7}, {"ok", false}, {"error", "the request has no \"cmd\" text"}}));
    EXPECT_EQ(Ask({{"id", {{"a", 1}}}, {"cmd", 3}})["id"], (json{{"a", 1}}));
    EXPECT_EQ(Ask({{"id", "x"}, {"cmd", "fly"}})["error"], "unknown command \"fly\"");
    EXPECT_FALSE(Ask({{"id", 1}, {"cmd", "set"}, {"values", 5}})["ok"]);
    EXPECT_EQ(world().values, before);
}

TEST_F(Host, HelloAndStatusTellWhatRunsAndEveryValueByItsName) {
    EXPECT_EQ(Ask({{"id", 1}, {"cmd", "hello"}}), (json{{"id", 1},
                                                        {"ok", true},
                                                        {"version", QELM_VERSION},
                                                        {"running", false},
                                                        {"installed", nullptr}}));
    StartCompanion();
    fake::PutText(u"activateEventComment", u"Stopped\nthere");
    fake::RemoveValue(u"nRunCnt");

    const json status = Ask({{"id", 2}, {"cmd", "status"}});

    EXPECT_EQ(status["running"], true);
    EXPECT_EQ(status["pid"], companionId);
    EXPECT_EQ(status["comment"], "Stopped\nthere");
    EXPECT_EQ(status["metrics"], nullptr);
    EXPECT_EQ(status["settings"]["blacklist"], "none");
    EXPECT_EQ(status["settings"]["primaryTimeout"], 1);
    EXPECT_FALSE(status["settings"].contains("nRunCnt"));
    EXPECT_EQ(status["settings"].size(), 13u);
}

TEST_F(Host, CommandsNeedTheCompanionAndCarryItsReply) {
    EXPECT_EQ(Ask({{"id", 1}, {"cmd", "tab"}})["error"], "QELM is not running");
    StartCompanion();
    EXPECT_EQ(Ask({{"id", 1}, {"cmd", "tab"}}), (json{{"id", 1}, {"ok", true}, {"reply", 1}}));
    ASSERT_EQ(Sent(kQelmMessageName).size(), 1u);
    EXPECT_EQ(Sent(kQelmMessageName)[0].wParam, 3u);
    EXPECT_EQ(Ask({{"id", 2}, {"cmd", "reload"}})["reply"], 1);
    EXPECT_EQ(Sent(kQelmMessageName)[1].lParam, 2);

    fake::FindWindow(world().windows[0].handle)->reply = std::nullopt;
    EXPECT_EQ(Ask({{"id", 3}, {"cmd", "tab"}})["error"], "QELM did not answer within 5 seconds");
}

TEST_F(Host, ExitSucceedsOnlyWhenTheCompanionHasGone) {
    StartCompanion(1);
    EXPECT_EQ(Ask({{"id", 1}, {"cmd", "exit"}})["error"], "QELM keeps running: global mode is on");
    fake::FindWindow(world().windows[0].handle)->reply = std::nullopt;
    EXPECT_EQ(Ask({{"id", 2}, {"cmd", "exit"}})["error"],
              "QELM is still running 15 seconds after it was asked to end");
    world().processes.clear();
    EXPECT_EQ(Ask({{"id", 3}, {"cmd", "exit"}}),
              (json{{"id", 3}, {"ok", true}, {"running", false}}));
}

TEST_F(Host, SetWritesEverythingOrNothingThenReloads) {
    StartCompanion();
    const auto before = world().values;
    for (const json& wrong :
         {json{{"global", 1}, {"nope", 2}}, json{{"global", "1"}}, json{{"global", 4294967296}},
          json{{"global", -2147483649}}, json{{"global", 1.5}}, json{{"blacklist", 3}},
          json{{"startKVX", 0}}}) {
        const json reply = Ask({{"id", 1}, {"cmd", "set"}, {"values", wrong}});
        EXPECT_FALSE(reply["ok"]) << wrong;
        EXPECT_TRUE(reply["error"].get<std::string>().ends_with("; nothing was written")) << reply;
    }
    EXPECT_EQ(world().values, before);
    EXPECT_TRUE(Sent(kQelmMessageName).empty());

    const json reply =
        Ask({{"id", 2},
             {"cmd", "set"},
             {"values", {{"tabDelay", 4294967295}, {"blacklist", "a.exe;\u00e9.exe"}}}});

    EXPECT_EQ(reply["written"], (json{"blacklist", "tabDelay"}));
    EXPECT_EQ(reply["reloaded"], true);
    EXPECT_EQ(fake::FindValue(u"blacklist")->data.size(), 22u);
    EXPECT_EQ(fake::FindValue(u"tabDelay")->data,
              (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
    ASSERT_EQ(Sent(kQelmMessageName).size(), 1u);
    EXPECT_EQ(Sent(kQelmMessageName)[0].wParam, 1u);
}

TEST_F(Host, StartRunsTheCompanionBesideTheHostAndWaitsForItsWindow) {
    StartCompanion();
    EXPECT_EQ(
        Ask({{"id", 1}, {"cmd", "start"}}),
        (json{
            {"id", 1}, {"ok", true}, {"running", true}, {"pid", companionId}, {"started", false}}));
    EXPECT_TRUE(fake::JournalLines("CreateProcess").empty());

    fake::ResetWorld();
    // Without a browser the companion ends at once.
    EXPECT_EQ(Ask({{"id", 2}, {"cmd", "start"}})["error"],
              "QELM ended at once: it runs only beside a browser");
    EXPECT_EQ(fake::JournalLines("CreateProcess"),
              (std::vector<std::string>{"CreateProcess C:\\QELM\\qelm.exe breakaway"}));

    world().onProgramStarted = [this](const std::u16string&) {
        StartCompanion();
        return companionId;
    };
    const json started = Ask({{"id", 3}, {"cmd", "start"}});
    EXPECT_EQ(started["started"], true);
    EXPECT_EQ(started["pid"], companionId);
    EXPECT_EQ(started["outlivesHost"], true);
    EXPECT_EQ(started["reloaded"], true);
    ASSERT_EQ(Sent(kQelmMessageName).size(), 1u);
    EXPECT_EQ(Sent(kQelmMessageName)[0].wParam, 1u);
    // Every start is one at a time across the hosts of the session.
    EXPECT_EQ(fake::JournalLines("CreateMutex"),
              (std::vector<std::string>(2, "CreateMutex Local\\QELM-host-start")));
}

// Another profile's host started one in the same moment: this start's copy ends at once, and
// the start reports the companion that runs.
TEST_F(Host, AStartThatLosesTheRaceToAnotherReportsTheCompanionThatRuns) {
    world().onProgramStarted = [](const std::u16string&) {
        fake::AddProcess(u"qelm.exe");  // the other's copy, whose window is not up yet
        return 0u;
    };
    world().onPause = [this] {
        if (companionId == 0 && world().virtualTimeMs >= 500) {
            StartCompanion();
        }
    };
    const json started = Ask({{"id", 1}, {"cmd", "start"}});
    EXPECT_EQ(
        started,
        (json{
            {"id", 1}, {"ok", true}, {"running", true}, {"pid", companionId}, {"started", false}}));
    EXPECT_TRUE(Sent(kQelmMessageName).empty());

    // Whose window shows first does not matter: the start does not take the other's as its own.
    fake::ResetWorld();
    companionId = 0;
    world().onProgramStarted = [this](const std::u16string&) {
        StartCompanion();
        return 0u;
    };
    EXPECT_EQ(Ask({{"id", 2}, {"cmd", "start"}})["started"], false);
}

// An exit status seen after a start then tells of this run's end; a companion that already runs
// keeps its figures.
TEST_F(Host, AStartThatLaunchesTheCompanionForgetsThePreviousRunsExitStatus) {
    fake::PutText(u"activateEventMemoryMetrics", u"Activate Lumbrel To See Current WorkingSetSize");
    world().onProgramStarted = [this](const std::u16string&) {
        EXPECT_EQ(fake::FindValue(u"activateEventMemoryMetrics"), nullptr);
        StartCompanion();
        return companionId;
    };
    EXPECT_EQ(Ask({{"id", 1}, {"cmd", "start"}})["started"], true);
    fake::PutText(u"activateEventMemoryMetrics", u"Browser WorkingSetSize = 1024K");
    EXPECT_EQ(Ask({{"id", 2}, {"cmd", "start"}})["started"], false);
    EXPECT_NE(fake::FindValue(u"activateEventMemoryMetrics"), nullptr);
}

TEST_F(Host, DefaultsCreatesTheKeyOnlyWhenItIsMissing) {
    EXPECT_EQ(Ask({{"id", 1}, {"cmd", "defaults"}})["created"], false);
    fake::ResetWorld();
    EXPECT_EQ(Ask({{"id", 2}, {"cmd", "defaults"}})["created"], true);
    EXPECT_EQ(world().values.size(), 14u);
}

TEST(HostReplies, AReplyTooLongForTheBrowserBecomesARefusalWithItsId) {
    const json reply{{"id", 9}, {"ok", true}, {"comment", std::string(kLongestReplyBytes, 'x')}};
    const json sent = json::parse(ReplyText(reply));
    EXPECT_EQ(sent["id"], 9);
    EXPECT_EQ(sent["ok"], false);
}

TEST_F(Host, AnOverlongCommentIsCutSoThatTheStatusStillReachesTheBrowser) {
    StartCompanion();
    // Three bytes a character in UTF-8: a cut inside one would show.
    const std::u16string comment(1200000, u'\u20ac');
    fake::PutText(u"activateEventComment", comment);
    fake::PutText(u"activateEventMemoryMetrics", u"figures");

    const std::string sent = ReplyText(Ask({{"id", 4}, {"cmd", "status"}}));

    EXPECT_LE(sent.size(), kLongestReplyBytes);
    const json status = json::parse(sent);
    EXPECT_EQ(status["ok"], true);
    EXPECT_EQ(status["id"], 4);
    EXPECT_EQ(status["cut"], json{"comment"});
    const auto shown = status["comment"].get<std::string>();
    EXPECT_GT(shown.size(), kLongestReplyBytes * 9 / 10);
    EXPECT_EQ(shown, ToUtf8(comment.substr(0, shown.size() / 3)));
    EXPECT_EQ(status["running"], true);
    EXPECT_EQ(status["pid"], companionId);
    EXPECT_EQ(status["metrics"], "figures");
    EXPECT_EQ(status["settings"]["blacklist"], "none");
    EXPECT_EQ(status["settings"].size(), 14u);
}

TEST_F(Host, AStatusEventGoesOutOnlyWhenWhatTheExtensionShowsHasChanged) {
    StatusEvents events;
    EXPECT_FALSE(events.Next());

    fake::PutText(u"activateEventMemoryMetrics", u"figures");
    fake::PutDword(u"global", 1);
    const auto changed = events.Next();
    ASSERT_TRUE(changed);
    EXPECT_EQ((*changed)["event"], "status");
    EXPECT_EQ((*changed)["metrics"], "figures");
    EXPECT_EQ((*changed)["settings"]["global"], 1);
    EXPECT_FALSE(events.Next());

    StartCompanion();
    const auto started = events.Next();
    ASSERT_TRUE(started);
    EXPECT_EQ((*started)["running"], true);
}

}  // namespace
