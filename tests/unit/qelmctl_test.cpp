#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/messages.h"
#include "host_install.h"
#include "platform/desktop.h"
#include "platform/registry.h"
#include "qelmctl.h"
#include "registry_test.h"
#include "support/fake_companion.h"
#include "text.h"

namespace {

struct Run {
    int exitCode;
    std::string out;
    std::string err;
};

Run Ctl(std::vector<std::u16string> arguments) {
    std::ostringstream out;
    std::ostringstream err;
    const int exitCode = RunQelmctl(arguments, out, err);
    return {exitCode, out.str(), err.str()};
}

std::vector<std::uint8_t> Bytes(std::u16string_view text) {
    std::vector<std::uint8_t> bytes;
    for (const char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return bytes;
}

class Qelmctl : public RegistryTest {
  protected:
    // The companion's window, owned by a running process.
    void StartCompanion(std::optional<std::uintptr_t> reply = 1) {
        companionId = AddCompanion(reply);
    }

    // The companion's process ends while the message is on its way.
    void EndCompanionWhenSentTo() { world().processes.clear(); }

    static std::vector<fake::SentMessage> SentCommands(const char16_t* messageName) {
        return SentMessages(messageName);
    }

    std::uint32_t companionId = 0;
};

TEST(QelmctlText, IntegersMustFit32BitsSignedOrUnsigned) {
    EXPECT_EQ(ParseInteger32(u"0"), 0);
    EXPECT_EQ(ParseInteger32(u"-1"), -1);
    EXPECT_EQ(ParseInteger32(u"4294967295"), -1);
    EXPECT_EQ(ParseInteger32(u"2147483648"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(ParseInteger32(u"-2147483648"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(ParseInteger32(u"4294967296"), std::nullopt);
    EXPECT_EQ(ParseInteger32(u"-2147483649"), std::nullopt);
    EXPECT_EQ(ParseInteger32(u"99999999999999999999999"), std::nullopt);
    for (const auto* bad : {u"", u"-", u" 1", u"1 ", u"+1", u"1.5", u"0x10", u"abc", u"--1"}) {
        EXPECT_EQ(ParseInteger32(bad), std::nullopt) << fake::Narrow(bad);
    }
    EXPECT_EQ(ParseCount(u"86400", 86400), 86400u);
    EXPECT_EQ(ParseCount(u"86401", 86400), std::nullopt);
    EXPECT_EQ(ParseCount(u"-1", 86400), std::nullopt);
}

TEST(QelmctlText, Utf8CarriesEveryCharacter) {
    EXPECT_EQ(ToUtf8(u"a\u00e9\u20ac\U0001F600"), "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t{0xD800}) + u"x"), "\xef\xbf\xbdx");
}

TEST_F(Qelmctl, CommandLinesThatMakeNoSenseChangeNothing) {
    PutDefaultSettings();
    StartCompanion();
    const std::vector<std::vector<std::u16string>> bad = {
        {},
        {u"frobnicate"},
        {u"status", u"--bogus"},
        {u"reload", u"now"},
        {u"exit", u"--force"},
        {u"get"},
        {u"get", u"nope"},
        {u"set", u"global"},
        {u"set", u"nope", u"1"},
        {u"set", u"startKVX", u"1"},
        {u"set", u"activateEventComment", u"x"},
        {u"set", u"global", u"abc"},
        {u"set", u"global", u"4294967296"},
        {u"startup-flag", u"2"},
        {u"interval"},
        {u"interval", u"1", u"2"},
        {u"watch", u"--count", u"0"},
        {u"watch", u"--interval"},
        {u"watch", u"--every", u"1"},
    };
    const auto valuesBefore = world().values;
    for (const auto& arguments : bad) {
        world().sent.clear();
        const auto run = Ctl(arguments);
        std::string line;
        for (const auto& argument : arguments) {
            line += fake::Narrow(argument) + " ";
        }
        EXPECT_EQ(run.exitCode, kExitUsage) << line;
        EXPECT_NE(run.err.find("usage"), std::string::npos) << line << ": " << run.err;
        EXPECT_TRUE(world().sent.empty()) << line;
    }
    EXPECT_EQ(world().values, valuesBefore);
    EXPECT_TRUE(fake::JournalLines("RegSetValue").empty());
}

TEST_F(Qelmctl, NamesTheValidChoicesWhenANameIsWrong) {
    const auto run = Ctl({u"set", u"Global", u"1"});
    EXPECT_EQ(run.exitCode, kExitUsage);
    EXPECT_NE(run.err.find("\"Global\" is not a setting; choose one of currentVersion, blacklist"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("startKVX"), std::string::npos) << "status names are no choice";
}

TEST_F(Qelmctl, SetWritesEachTypeAsTheCompanionDoes) {
    PutDefaultSettings();

    EXPECT_EQ(Ctl({u"set", u"primaryTimeout", u"-1"}).exitCode, kExitOk);
    EXPECT_EQ(fake::FindValue(u"primaryTimeout")->data,
              (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(fake::FindValue(u"primaryTimeout")->type, platform::kRegDword);

    EXPECT_EQ(Ctl({u"set", u"blacklist", u"a.exe;B.EXE"}).exitCode, kExitOk);
    EXPECT_EQ(fake::FindValue(u"blacklist")->data, Bytes(u"a.exe;B.EXE"));
    EXPECT_EQ(fake::FindValue(u"blacklist")->type, platform::kRegSz);
    EXPECT_EQ(fake::JournalLines("RegFlushKey").size(), 2u);

    const auto get = Ctl({u"get", u"primaryTimeout"});
    EXPECT_EQ(get.exitCode, kExitOk);
    EXPECT_EQ(get.out, "-1\n");
    EXPECT_EQ(Ctl({u"get", u"blacklist"}).out, "a.exe;B.EXE\n");
}

TEST_F(Qelmctl, NothingIsCreatedBehindTheAddOnsBack) {
    const auto set = Ctl({u"set", u"global", u"1"});
    EXPECT_EQ(set.exitCode, kExitFailed);
    EXPECT_FALSE(world().keyExists);
    EXPECT_EQ(Ctl({u"get", u"global"}).exitCode, kExitFailed);

    PutDefaultSettings();
    fake::RemoveValue(u"global");
    const auto unset = Ctl({u"get", u"global"});
    EXPECT_EQ(unset.exitCode, kExitFailed);
    EXPECT_EQ(unset.err, "global is not set\n");
}

TEST_F(Qelmctl, DefaultsUseTheCompanionsOwnCreationOnlyWhenTheKeyIsMissing) {
    const auto created = Ctl({u"defaults"});
    EXPECT_EQ(created.exitCode, kExitOk);
    EXPECT_EQ(world().values.size(), 14u);
    EXPECT_EQ(fake::FindValue(u"currentVersion")->data, Bytes(u"none"));

    fake::PutDword(u"primaryTimeout", 9);
    world().journal.clear();
    const auto again = Ctl({u"defaults"});
    EXPECT_EQ(again.exitCode, kExitOk);
    EXPECT_NE(again.out.find("nothing changed"), std::string::npos);
    EXPECT_TRUE(fake::JournalLines("RegSetValue").empty());
    EXPECT_TRUE(fake::JournalLines("RegCreateKey").empty());

    fake::ResetWorld();
    world().createError = 5;
    EXPECT_EQ(Ctl({u"defaults"}).exitCode, kExitFailed);
}

TEST_F(Qelmctl, EachCommandSendsItsNumberAndArgument) {
    StartCompanion();
    const std::vector<
        std::pair<std::vector<std::u16string>, std::pair<std::uintptr_t, std::intptr_t>>>
        commands = {
            {{u"reload"}, {1, 2}},
            {{u"tab"}, {3, 3}},
            {{u"startup-flag", u"1"}, {11, 1}},
            {{u"startup-flag", u"0"}, {11, 0}},
            {{u"startup-delay", u"7"}, {13, 7}},
            {{u"interval", u"-1"}, {14, -1}},
            {{u"tab-delay", u"0"}, {16, 0}},
            {{u"tab-delay", u"4294967295"}, {16, -1}},
        };
    for (const auto& [arguments, expected] : commands) {
        world().sent.clear();
        const auto run = Ctl(arguments);
        EXPECT_EQ(run.exitCode, kExitOk) << run.err;
        EXPECT_EQ(run.out, "reply: 1\n");
        const auto sent = SentCommands(kQelmMessageName);
        ASSERT_EQ(sent.size(), 1u) << fake::Narrow(arguments[0]);
        EXPECT_EQ(sent[0].wParam, expected.first) << fake::Narrow(arguments[0]);
        EXPECT_EQ(sent[0].lParam, expected.second) << fake::Narrow(arguments[0]);
        EXPECT_EQ(sent[0].timeoutMs, 5000u);
    }
}

TEST_F(Qelmctl, ACompanionThatIsMissingOrSilentIsReportedAsSuch) {
    const auto missing = Ctl({u"tab"});
    EXPECT_EQ(missing.exitCode, kExitNotRunning);
    EXPECT_EQ(missing.err, "QELM is not running\n");

    StartCompanion(std::nullopt);
    const auto silent = Ctl({u"tab"});
    EXPECT_EQ(silent.exitCode, kExitNoAnswer);
    EXPECT_EQ(silent.err, "QELM did not answer within 5 seconds\n");

    EndCompanionWhenSentTo();
    EXPECT_EQ(Ctl({u"tab"}).exitCode, kExitNotRunning);
}

TEST_F(Qelmctl, ExitSucceedsOnlyWhenTheCompanionHasGone) {
    StartCompanion(1);
    const auto refused = Ctl({u"exit"});
    EXPECT_EQ(refused.exitCode, kExitFailed);
    EXPECT_EQ(refused.out, "reply: 1\n");
    EXPECT_EQ(SentCommands(kQelmExitMessageName).size(), 1u);

    world().sent.clear();
    EXPECT_EQ(Ctl({u"exit", u"--command"}).exitCode, kExitFailed);
    const auto command = SentCommands(kQelmMessageName);
    ASSERT_EQ(command.size(), 1u);
    EXPECT_EQ(command[0].wParam, 2u);
    EXPECT_EQ(command[0].lParam, 2);

    fake::FindWindow(world().windows[0].handle)->reply = std::nullopt;
    const auto silent = Ctl({u"exit"});
    EXPECT_EQ(silent.exitCode, kExitNoAnswer);
    // The answer's time-out and the wait for the end, both spent.
    EXPECT_EQ(silent.err, "QELM is still running 15 seconds after it was asked to end\n");

    EndCompanionWhenSentTo();
    const auto ended = Ctl({u"exit"});
    EXPECT_EQ(ended.exitCode, kExitOk);
    EXPECT_EQ(ended.out, "QELM has ended\n");
}

TEST_F(Qelmctl, ExitForTheInstallerFailsAndSaysWhichWhileAQelmExeStillRuns) {
    StartCompanion(std::nullopt);
    EndCompanionWhenSentTo();
    fake::PutText(u"activateEventMemoryMetrics", u"Activate Lumbrel To See Current WorkingSetSize");
    const auto ended = Ctl({u"exit", u"--installer"});
    EXPECT_EQ(ended.exitCode, kExitOk) << ended.err;
    EXPECT_EQ(fake::FindValue(u"activateEventMemoryMetrics"), nullptr);

    // One whose window never showed still holds the installed files.
    world().windows.clear();
    const auto windowless = fake::AddProcess(u"qelm.exe");
    const auto left = Ctl({u"exit", u"--installer"});
    EXPECT_EQ(left.exitCode, kExitFailed);
    EXPECT_EQ(left.err,
              "qelm.exe is still running (process ids: " + std::to_string(windowless) + ")\n");
}

TEST_F(Qelmctl, StatusAsJsonCarriesEveryValueWithItsType) {
    PutDefaultSettings();
    fake::PutText(u"activateEventComment", u"line one\nline \"two\"\t\\\x01");
    StartCompanion();

    const auto run = Ctl({u"status", u"--json"});

    EXPECT_EQ(run.exitCode, kExitOk);
    const std::string expected =
        "{\"running\":true,\"processId\":" + std::to_string(companionId) +
        ",\"footprint\":{\"workingSetBytes\":3145728,\"privateBytes\":0,\"handles\":0,"
        "\"gdiObjects\":0,\"userObjects\":0,\"cpuTimeMs\":0},\"keyExists\":true,\"values\":{"
        "\"currentVersion\":\"none\",\"blacklist\":\"none\",\"nRunCnt\":0,\"app_1\":1,"
        "\"activateKVDisplayEvents\":0,\"activateVisualAcc\":0,\"activateKVXonStartup\":0,"
        "\"startupDelay\":0,\"tabDelay\":0,\"global\":0,\"primaryTimeout\":1,"
        "\"activateKVXEventLogging\":0,\"startKVX\":0,\"kvxRestart\":0,"
        "\"activateEventComment\":\"line one\\nline \\\"two\\\"\\t\\\\\\u0001\","
        "\"activateEventMemoryMetrics\":null},"
        "\"host\":{\"installed\":false,\"manifest\":null,\"problem\":null,\"installer\":null}}\n";
    EXPECT_EQ(run.out, expected);
}

TEST_F(Qelmctl, StatusWithoutCompanionOrKeySaysSo) {
    const auto run = Ctl({u"status"});
    EXPECT_EQ(run.exitCode, kExitOk);
    EXPECT_EQ(run.out,
              "QELM is not running\nHKCU\\SOFTWARE\\Qelm does not exist\n"
              "The browser's host is not installed (qelmctl install installs it)\n");
    EXPECT_EQ(
        Ctl({u"status", u"--json"}).out,
        "{\"running\":false,\"keyExists\":false,\"values\":{\"currentVersion\":null,"
        "\"blacklist\":null,\"nRunCnt\":null,\"app_1\":null,\"activateKVDisplayEvents\":null,"
        "\"activateVisualAcc\":null,\"activateKVXonStartup\":null,\"startupDelay\":null,"
        "\"tabDelay\":null,\"global\":null,\"primaryTimeout\":null,"
        "\"activateKVXEventLogging\":null,\"startKVX\":null,\"kvxRestart\":null,"
        "\"activateEventComment\":null,\"activateEventMemoryMetrics\":null},"
        "\"host\":{\"installed\":false,\"manifest\":null,\"problem\":null,\"installer\":null}}\n");
}

TEST_F(Qelmctl, WatchPrintsEachNewTextOnceAndStopsAfterTheCount) {
    PutDefaultSettings();
    fake::PutText(u"activateEventMemoryMetrics", u"first");
    int pauses = 0;
    world().onPause = [&pauses] {
        ++pauses;
        if (pauses == 2) {
            fake::PutText(u"activateEventMemoryMetrics", u"second");
        }
    };

    const auto run = Ctl({u"watch", u"--interval", u"3", u"--count", u"2"});

    EXPECT_EQ(run.exitCode, kExitOk);
    EXPECT_EQ(run.out, "first\n\nsecond\n\n");
    EXPECT_EQ(pauses, 2);
    EXPECT_EQ(fake::JournalLines("Sleep 3000").size(), 2u);
}

TEST(HostManifest, FirefoxFindsTheHostOnlyThroughAWholeManifest) {
    const std::set<std::u16string> files = {u"C:\\QELM\\qelm-host.exe"};
    const auto problem = [&files](const std::optional<std::string>& text) {
        return ManifestProblem(u"C:\\QELM\\qelm.json", text, [&files](const std::u16string& path) {
            return files.contains(path);
        });
    };
    const auto changed = [](const nlohmann::json& changes) {
        auto manifest = nlohmann::json::parse(HostManifest(u"C:\\QELM\\qelm-host.exe"));
        manifest.merge_patch(changes);
        return std::optional(manifest.dump());
    };
    const std::string its = "its manifest C:\\QELM\\qelm.json ";

    EXPECT_EQ(problem(HostManifest(u"C:\\QELM\\qelm-host.exe")), std::nullopt);
    EXPECT_EQ(problem(std::nullopt), its + "does not exist");
    EXPECT_EQ(problem("{\"name\": \"qelm\""), its + "is not a JSON object");
    EXPECT_EQ(problem(changed({{"name", "Qelm"}})), its + "does not say \"name\": \"qelm\"");
    EXPECT_EQ(problem(changed({{"type", nullptr}})), its + "does not say \"type\": \"stdio\"");
    EXPECT_EQ(problem(changed({{"allowed_extensions", {"other@qelm.org"}}})),
              its + "does not admit the extension qelm@qelm.org");
    EXPECT_EQ(problem(changed({{"allowed_extensions", "qelm@qelm.org"}})),
              its + "does not admit the extension qelm@qelm.org");
    EXPECT_EQ(problem(changed({{"path", nullptr}})), its + "names no host program (\"path\")");
    EXPECT_EQ(problem(changed({{"path", "qelm-host.exe"}})), std::nullopt);
    EXPECT_EQ(problem(changed({{"path", "bin\\qelm-host.exe"}})),
              its + "names no qelm-host.exe that exists: C:\\QELM\\bin\\qelm-host.exe");
    EXPECT_EQ(problem(changed({{"path", "E:\\qelm-host.exe"}})),
              its + "names no qelm-host.exe that exists: E:\\qelm-host.exe");
}

TEST_F(Qelmctl, InstallRegistersTheHostBesideItAndUninstallRemovesIt) {
    const auto missing = Ctl({u"install"});
    EXPECT_EQ(missing.exitCode, kExitFailed);
    EXPECT_EQ(missing.err,
              "C:\\QELM\\qelm-host.exe is missing: qelm-host.exe must lie beside "
              "qelmctl.exe\n");
    EXPECT_TRUE(world().otherKeys.empty());

    world().files[u"C:\\QELM\\qelm-host.exe"] = "MZ";
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(Ctl({u"install"}).exitCode, kExitOk);
    }
    const auto manifest = nlohmann::json::parse(world().files.at(u"C:\\QELM\\qelm.json"));
    EXPECT_EQ(manifest, (nlohmann::json{{"name", "qelm"},
                                        {"description", manifest["description"]},
                                        {"path", "C:\\QELM\\qelm-host.exe"},
                                        {"type", "stdio"},
                                        {"allowed_extensions", {"qelm@qelm.org"}}}));
    const auto& registered =
        world().otherKeys.at(u"Software\\Mozilla\\NativeMessagingHosts\\qelm").at(u"");
    EXPECT_EQ(registered.data.size(), (std::u16string_view(u"C:\\QELM\\qelm.json").size() + 1) * 2);
    EXPECT_TRUE(
        Ctl({u"status"})
            .out.ends_with(
                "The browser's host is installed by qelmctl install: C:\\QELM\\qelm.json\n"));
    EXPECT_EQ(nlohmann::json::parse(Ctl({u"status", u"--json"}).out)["host"],
              (nlohmann::json{{"installed", true},
                              {"manifest", "C:\\QELM\\qelm.json"},
                              {"problem", nullptr},
                              {"installer", nullptr}}));

    EXPECT_EQ(Ctl({u"uninstall"}).out,
              "removed HKCU\\Software\\Mozilla\\NativeMessagingHosts\\qelm and "
              "C:\\QELM\\qelm.json\n");
    EXPECT_TRUE(world().otherKeys.empty());
    EXPECT_FALSE(world().files.contains(u"C:\\QELM\\qelm.json"));
    const auto again = Ctl({u"uninstall"});
    EXPECT_EQ(again.exitCode, kExitOk);
    EXPECT_EQ(again.out, "the browser's host was not installed; nothing to remove\n");
}

TEST_F(Qelmctl, TheInstallersRegistrationIsShownAndLeftToTheInstaller) {
    world().files[u"C:\\Programs\\QELM\\qelm-host.exe"] = "MZ";
    world().files[u"C:\\Programs\\QELM\\qelm.json"] =
        R"({"name": "qelm", "path": "qelm-host.exe", "type": "stdio",
            "allowed_extensions": ["qelm@qelm.org"]})";
    auto& registration = world().otherKeys[u"Software\\Mozilla\\NativeMessagingHosts\\qelm"];
    registration[u""] = fake::TextValue(u"C:\\Programs\\QELM\\qelm.json");
    registration[u"QELM installer"] = fake::TextValue(u"1.0.0.1");

    EXPECT_EQ(nlohmann::json::parse(Ctl({u"status", u"--json"}).out)["host"]["installer"],
              "1.0.0.1");
    for (const char16_t* command : {u"install", u"uninstall"}) {
        const auto refused = Ctl({command});
        EXPECT_EQ(refused.exitCode, kExitFailed);
        EXPECT_EQ(refused.err,
                  "the QELM installer 1.0.0.1 registered the browser's host; remove QELM in "
                  "Settings > Apps to change that\n");
    }
    EXPECT_EQ(world().otherKeys.at(u"Software\\Mozilla\\NativeMessagingHosts\\qelm").size(), 2u);
    EXPECT_FALSE(world().files.contains(u"C:\\QELM\\qelm.json"));
}

}  // namespace
