#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

#include "scenario/harness_win.h"
#include "scenario/host_process_win.h"

using namespace scenario;

TEST(Host, AFramedSessionStartsAndDrivesTheCompanionAndEndsWithItsInput) {
    Child browser = StartBrowser();
    // A second process of the same browser, as a content process of Firefox.
    Child content = StartBrowser(L"firefox.exe", L"--no-window --memory 40");
    HostProcess host;

    EXPECT_EQ(host.Ask(R"({"id":1,"cmd":"hello"})"),
              R"({"id":1,"installed":null,"ok":true,"running":false,"version":")" QELM_VERSION
              R"("})");
    const std::string started = host.Ask(R"({"id":2,"cmd":"start"})");
    EXPECT_TRUE(Contains(started, R"("ok":true)") && Contains(started, R"("started":true)"))
        << started;
    const HWND controller = FindWindowW(L"qelm", nullptr);
    ASSERT_NE(controller, nullptr);
    DWORD companion = 0;
    GetWindowThreadProcessId(controller, &companion);
    EXPECT_TRUE(Contains(started, "\"pid\":" + std::to_string(companion))) << started;
    EXPECT_TRUE(Contains(host.Ask(R"({"id":3,"cmd":"start"})"), R"("started":false)"));

    const std::string set =
        host.Ask(R"({"id":"four","cmd":"set","values":{"activateKVDisplayEvents":1}})");
    EXPECT_EQ(set,
              R"({"id":"four","ok":true,"reloaded":true,"written":["activateKVDisplayEvents"]})");
    EXPECT_EQ(host.Ask(R"({"id":5,"cmd":"tab"})"), R"({"id":5,"ok":true,"reply":1})");
    EXPECT_TRUE(Eventually([] {
        return ReadText(L"activateEventComment")
            .value_or(L"")
            .starts_with(L"Memory Recovery Between A Tab Selection\nBrowser WorkingSetSize = ");
    }));
    const std::string status = host.Ask(R"({"id":6,"cmd":"status"})");
    EXPECT_TRUE(Contains(status, R"("comment":"Memory Recovery Between A Tab Selection\nBrowser)"))
        << status;
    EXPECT_TRUE(Contains(status, R"("activateKVDisplayEvents":1)")) << status;
    // Started by no browser, the host counts both browser processes of its session, with what
    // each holds resident (16 MiB and 40 MiB). Wine keeps no private bytes.
    const std::string totals =
        R"("totals":{"browser":{"name":"firefox.exe","privateKiB":null,"privateWorkingSet":false,)"
        R"("processes":2,"workingSetKiB":)";
    ASSERT_TRUE(Contains(status, totals)) << status;
    EXPECT_GE(std::stoull(status.substr(status.find(totals) + totals.size())), 56u * 1024)
        << status;
    EXPECT_TRUE(Contains(status, R"(},"pluginHost":null})")) << status;

    // The memory figures change every five seconds; each change comes as an event.
    std::string figures;
    for (int i = 0; i < 3 && !Contains(figures, R"("metrics":"Browser WorkingSetSize = )"); ++i) {
        figures = host.NextEvent();
    }
    EXPECT_TRUE(Contains(figures, R"("event":"status")") && Contains(figures, R"("running":true)"))
        << figures;
    EXPECT_TRUE(Contains(figures, R"("metrics":"Browser WorkingSetSize = )")) << figures;

    // Bad input is answered, and the host goes on.
    EXPECT_EQ(host.Ask("{\"id\":7,"), R"({"error":"the message is not JSON in UTF-8","ok":false})");
    host.Write(HostProcess::Framed(std::string(1024 * 1024 + 1, ' ')));
    EXPECT_TRUE(Contains(host.Read(), "is longer than the 1048576 bytes taken"));
    EXPECT_TRUE(
        Contains(host.Ask(R"({"id":8,"cmd":"fly"})"), R"("error":"unknown command \"fly\"")"));

    host.Close();
    EXPECT_EQ(host.Process().WaitForExit(1s), 0u);
    // Its job is terminated too, and the companion, outside it, goes on.
    Sleep(500);
    EXPECT_TRUE(IsWindow(controller));
}

TEST(Host, TheTotalsAreThoseOfTheBrowserThatStartedTheHostAndOfItsChildren) {
    Child otherProfile = StartBrowser(L"firefox.exe", L"--no-window --memory 64");
    Child otherPluginHost = StartBrowser(L"plugin-container.exe", L"--no-window");
    const std::wstring folder = ScenarioDirectory() + L"\\started";
    CreateDirectoryW(folder.c_str(), nullptr);
    for (const wchar_t* name : {L"\\firefox.exe", L"\\plugin-container.exe"}) {
        ASSERT_TRUE(CopyFileW((BinaryDirectory() + L"\\fixture_browser.exe").c_str(),
                              (folder + name).c_str(), FALSE));
    }
    const std::wstring children = L" --start \"" + BinaryDirectory() + L"\\qelm-host.exe " +
                                  HostProcess::kHostArguments + L"\" --start \"" + folder +
                                  L"\\firefox.exe --no-window --memory 40\" --start \"" + folder +
                                  L"\\plugin-container.exe --no-window --memory 8\"";
    HostProcess browser(firefox::kHostJobLimits, folder + L"\\firefox.exe",
                        firefox::Inheritance::kPipesOnly, L"--no-window --memory 16" + children);

    // The browser and its content process hold 16 and 40 MiB resident once they have touched it.
    const std::string browserTotal =
        R"("totals":{"browser":{"name":"firefox.exe","privateKiB":null,"privateWorkingSet":false,)"
        R"("processes":2,"workingSetKiB":)";
    const std::string pluginHostTotal =
        R"("pluginHost":{"name":"plugin-container.exe","privateKiB":null,)"
        R"("privateWorkingSet":false,"processes":1,)";
    std::string status;
    EXPECT_TRUE(Eventually([&] {
        status = browser.Ask(R"({"id":1,"cmd":"status"})");
        const auto figure = status.find(browserTotal);
        return Contains(status, pluginHostTotal) && figure != std::string::npos &&
               std::stoull(status.substr(figure + browserTotal.size())) >= 56u * 1024;
    })) << status;
}

// Also when the host's parent passed it more than its pipes: the companion gets none of those.
TEST(Host, ACompanionStartedByAHostThatIsKilledRunsOnAndHoldsNoneOfItsPipes) {
    Child browser = StartBrowser();
    for (const auto inheritance :
         {firefox::Inheritance::kPipesOnly, firefox::Inheritance::kEverything}) {
        const bool everything = inheritance == firefox::Inheritance::kEverything;
        HostProcess host(firefox::kHostJobLimits, BinaryDirectory() + L"\\qelm-host.exe",
                         inheritance);
        EXPECT_TRUE(Contains(host.Ask(R"({"id":1,"cmd":"start"})"), R"("outlivesHost":true)"));
        const DWORD companion = ProcessIdOf(L"qelm.exe");
        ASSERT_NE(companion, 0u);

        host.Kill();
        EXPECT_TRUE(Eventually([&] { return host.OutputClosed(); }, 5s))
            << "a process still holds the host's standard output; everything passed: "
            << everything;
        Sleep(500);
        EXPECT_EQ(ProcessIdOf(L"qelm.exe"), companion);
        EXPECT_NE(FindWindowW(L"qelm", nullptr), nullptr);
        EXPECT_EQ(Qelmctl(L"exit").exitCode, 0u);
    }
}

TEST(Host, InAJobThatKeepsItsProcessesTheStartSaysTheCompanionEndsWithTheHost) {
    Child browser = StartBrowser();
    HostProcess host(0);
    const std::string started = host.Ask(R"({"id":1,"cmd":"start"})");
    EXPECT_TRUE(Contains(started, R"("started":true)") &&
                Contains(started, R"("outlivesHost":false)"))
        << started;

    host.Close();
    EXPECT_TRUE(Eventually([] { return ProcessIdOf(L"qelm.exe") == 0; }, 5s));
}

// Two browser profiles' hosts asked to start in the same moment: one companion, both told so.
TEST(Host, TwoHostsStartingAtOnceBothReportTheOneCompanion) {
    Child browser = StartBrowser();
    HostProcess first;
    HostProcess second;
    first.Write(HostProcess::Framed(R"({"id":1,"cmd":"start"})"));
    second.Write(HostProcess::Framed(R"({"id":1,"cmd":"start"})"));
    const std::string replies = first.Read() + second.Read();
    EXPECT_FALSE(Contains(replies, R"("ok":false)")) << replies;
    EXPECT_TRUE(Contains(replies, R"("started":true)") && Contains(replies, R"("started":false)"))
        << replies;
    const std::string pid = "\"pid\":" + std::to_string(ProcessIdOf(L"qelm.exe"));
    EXPECT_TRUE(Contains(first.Ask(R"({"id":2,"cmd":"status"})"), pid) &&
                Contains(second.Ask(R"({"id":2,"cmd":"status"})"), pid));
}

// The installer's word as a qelmctl with more rights than the host's makes it: its security grants
// the user a wait on it (SYNCHRONIZE), and no more.
TEST(Host, TheInstallersWordClosesTheHostWhenItsMakerLeftTheUserOnlyAWaitOnIt) {
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:(A;;0x100000;;;WD)", SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr));
    const HANDLE word = CreateEventW(&security, TRUE, FALSE, L"Local\\QELM-close-hosts");
    LocalFree(security.lpSecurityDescriptor);
    HostProcess host;
    EXPECT_TRUE(Contains(host.Ask(R"({"id":1,"cmd":"hello"})"), R"("ok":true)"));

    SetEvent(word);
    ExpectClosedForTheInstaller(host);
    CloseHandle(word);
}
