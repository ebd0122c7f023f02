#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "scenario/harness_win.h"

using namespace scenario;

namespace {

// A window of the companion's class whose thread never looks at its messages, standing in for a
// companion that has hung.
class HungCompanion {
  public:
    HungCompanion() {
        thread_ = std::thread([this] {
            WNDCLASSW windowClass{};
            windowClass.lpfnWndProc = DefWindowProcW;
            windowClass.hInstance = GetModuleHandleW(nullptr);
            windowClass.lpszClassName = L"qelm";
            RegisterClassW(&windowClass);
            window_ = CreateWindowExW(0, L"qelm", L"hung", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
            SetEvent(created_);
            WaitForSingleObject(release_, INFINITE);
            DestroyWindow(window_);
        });
        WaitForSingleObject(created_, 10000);
    }
    ~HungCompanion() {
        SetEvent(release_);
        thread_.join();
        CloseHandle(created_);
        CloseHandle(release_);
    }

  private:
    HANDLE created_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HWND window_ = nullptr;
    std::thread thread_;
};

}  // namespace

TEST(Qelmctl, WithoutTheCompanionCommandsSaySoWithExitCodeThree) {
    for (const auto* command : {L"reload", L"tab", L"exit", L"interval 5"}) {
        const auto result = Qelmctl(command);
        EXPECT_EQ(result.exitCode, 3u) << std::string(command, command + wcslen(command));
        EXPECT_EQ(result.err, "QELM is not running\n");
    }
    const auto status = Qelmctl(L"status");
    EXPECT_EQ(status.exitCode, 0u);
    EXPECT_TRUE(Contains(status.out, "QELM is not running")) << status.out;
}

TEST(Qelmctl, DefaultsCreatesTheKeyOnceAndThenLeavesItAlone) {
    const auto created = Qelmctl(L"defaults");
    EXPECT_EQ(created.exitCode, 0u);
    EXPECT_EQ(KeyValues().size(), 14u);
    EXPECT_EQ(ReadText(L"blacklist"), L"none");
    EXPECT_EQ(ReadDword(L"primaryTimeout"), 1u);

    WriteDword(L"primaryTimeout", 9);
    const auto again = Qelmctl(L"defaults");
    EXPECT_EQ(again.exitCode, 0u);
    EXPECT_TRUE(Contains(again.out, "nothing changed")) << again.out;
    EXPECT_EQ(ReadDword(L"primaryTimeout"), 9u);
}

TEST(Qelmctl, SetAndGetSpeakTheKeysTypes) {
    ASSERT_EQ(Qelmctl(L"defaults").exitCode, 0u);

    EXPECT_EQ(Qelmctl(L"set primaryTimeout -1").exitCode, 0u);
    EXPECT_EQ(ReadDword(L"primaryTimeout"), 0xFFFFFFFFu);
    EXPECT_EQ(Qelmctl(L"get primaryTimeout").out, "-1\n");
    EXPECT_EQ(Qelmctl(L"set tabDelay 4294967295").exitCode, 0u);
    EXPECT_EQ(Qelmctl(L"get tabDelay").out, "-1\n");

    EXPECT_EQ(Qelmctl(L"set blacklist \"a.exe;B.EXE\"").exitCode, 0u);
    EXPECT_EQ(ReadText(L"blacklist"), L"a.exe;B.EXE");
    EXPECT_EQ(Qelmctl(L"get blacklist").out, "a.exe;B.EXE\n");
}

TEST(Qelmctl, BadValuesAreRefusedWithExitCodeTwoAndNothingWritten) {
    ASSERT_EQ(Qelmctl(L"defaults").exitCode, 0u);
    const auto before = KeyValues().size();

    const auto notASetting = Qelmctl(L"set nope 1");
    EXPECT_EQ(notASetting.exitCode, 2u);
    EXPECT_TRUE(Contains(notASetting.err, "choose one of currentVersion")) << notASetting.err;
    EXPECT_EQ(Qelmctl(L"set startKVX 1").exitCode, 2u);
    EXPECT_EQ(Qelmctl(L"set global abc").exitCode, 2u);
    EXPECT_EQ(Qelmctl(L"set global 4294967296").exitCode, 2u);
    EXPECT_EQ(Qelmctl(L"set global \" 1\"").exitCode, 2u);
    EXPECT_EQ(Qelmctl(L"get nope").exitCode, 2u);
    EXPECT_EQ(Qelmctl(L"startup-flag 2").exitCode, 2u);

    EXPECT_EQ(KeyValues().size(), before);
    EXPECT_EQ(ReadDword(L"global"), 0u);
    EXPECT_EQ(ReadDword(L"startKVX"), 0u);
}

TEST(Qelmctl, UsageErrorsAndHelp) {
    const auto help = Qelmctl(L"--help");
    EXPECT_EQ(help.exitCode, 0u);
    for (const auto* command : {"status", "get", "set", "reload", "tab", "exit", "startup-flag",
                                "startup-delay", "interval", "tab-delay", "defaults", "watch"}) {
        EXPECT_TRUE(Contains(help.out, std::string("qelmctl ") + command)) << command;
    }
    EXPECT_EQ(Qelmctl(L"watch --help").exitCode, 0u);
    EXPECT_EQ(Qelmctl(L"").exitCode, 2u);
    const auto unknown = Qelmctl(L"frobnicate");
    EXPECT_EQ(unknown.exitCode, 2u);
    EXPECT_TRUE(Contains(unknown.err, "usage:")) << unknown.err;
    EXPECT_EQ(Qelmctl(L"status --bogus").exitCode, 2u);
    EXPECT_EQ(Qelmctl(L"reload now").exitCode, 2u);
}

TEST(Qelmctl, DrivesTheRunningCompanion) {
    Child browser = StartBrowser();
    Child qelm = StartQelm();
    ASSERT_NE(WaitForController(qelm), nullptr);

    for (const auto* command : {L"reload", L"tab", L"startup-flag 1", L"startup-delay 0",
                                L"interval 2", L"tab-delay 0"}) {
        const auto result = Qelmctl(command);
        EXPECT_EQ(result.exitCode, 0u) << result.err;
        EXPECT_EQ(result.out, "reply: 1\n");
    }
    const auto status = Qelmctl(L"status --json");
    EXPECT_EQ(status.exitCode, 0u);
    EXPECT_TRUE(Contains(status.out, "\"running\":true,\"processId\":" + std::to_string(qelm.Id())))
        << status.out;
    EXPECT_TRUE(Contains(status.out, "\"global\":0")) << status.out;
    EXPECT_TRUE(qelm.Running());
}

TEST(Qelmctl, ExitEndsTheCompanionUnlessGlobalModeKeepsIt) {
    Child browser = StartBrowser();
    Child qelm = StartQelm();
    ASSERT_NE(WaitForController(qelm), nullptr);

    ASSERT_EQ(Qelmctl(L"set global 1").exitCode, 0u);
    const auto refused = Qelmctl(L"exit");
    EXPECT_EQ(refused.exitCode, 1u);
    EXPECT_EQ(refused.out, "reply: 1\n");
    EXPECT_EQ(Qelmctl(L"exit --command").exitCode, 1u);
    EXPECT_TRUE(qelm.Running());

    ASSERT_EQ(Qelmctl(L"set global 0").exitCode, 0u);
    const auto ended = Qelmctl(L"exit --command");
    EXPECT_EQ(ended.exitCode, 0u) << ended.err;
    EXPECT_EQ(ended.out, "QELM has ended\n");
    EXPECT_EQ(qelm.WaitForExit(5s), 0u);
}

TEST(Qelmctl, ACompanionThatDoesNotAnswerGivesExitCodeFour) {
    HungCompanion hung;
    const auto result = Qelmctl(L"reload");
    EXPECT_EQ(result.exitCode, 4u);
    EXPECT_TRUE(Contains(result.err, "did not answer within 5 seconds")) << result.err;
}

TEST(Qelmctl, WatchPrintsTheMetricsTextWhenItChanges) {
    ASSERT_EQ(Qelmctl(L"defaults").exitCode, 0u);
    WriteText(L"activateEventMemoryMetrics", L"first figures");
    std::thread change([] {
        Sleep(2500);
        WriteText(L"activateEventMemoryMetrics", L"second figures");
    });
    const auto watched = Qelmctl(L"watch --interval 1 --count 2");
    change.join();
    EXPECT_EQ(watched.exitCode, 0u);
    EXPECT_EQ(watched.out, "first figures\n\nsecond figures\n\n");
    EXPECT_EQ(Qelmctl(L"watch --count 0").exitCode, 2u);
}

TEST(Qelmctl, LeavesTheConsolesCodePageAsItFoundIt) {
    // A console of the scenario's own, which qelmctl shares as it shares a user's.
    FreeConsole();
    ASSERT_TRUE(AllocConsole());
    ASSERT_TRUE(SetConsoleOutputCP(850));

    EXPECT_EQ(Qelmctl(L"status").exitCode, 0u);
    EXPECT_EQ(GetConsoleOutputCP(), 850u);
    EXPECT_EQ(Qelmctl(L"get nope").exitCode, 2u);
    EXPECT_EQ(GetConsoleOutputCP(), 850u);
}

TEST(Qelmctl, InstallRegistersTheHostForFirefoxAndUninstallRemovesIt) {
    const std::wstring manifest = BinaryDirectory() + L"\\qelm.json";
    constexpr wchar_t kRegistration[] = L"Software\\Mozilla\\NativeMessagingHosts\\qelm";

    const auto installed = Qelmctl(L"install");
    ASSERT_EQ(installed.exitCode, 0u) << installed.err;
    wchar_t registered[MAX_PATH] = {};
    DWORD size = sizeof registered;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, kRegistration, nullptr, RRF_RT_REG_SZ, nullptr,
                           registered, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(registered), manifest);
    std::string hostPath;
    for (const wchar_t c : BinaryDirectory() + L"\\qelm-host.exe") {
        hostPath += c == L'\\' ? std::string("\\\\") : std::string(1, static_cast<char>(c));
    }
    const std::string text = ReadFile(manifest);
    EXPECT_TRUE(Contains(text, "\"path\": \"" + hostPath + "\"")) << text;
    EXPECT_TRUE(Contains(text, "\"allowed_extensions\": [\n    \"qelm@qelm.org\"")) << text;
    EXPECT_TRUE(Contains(Qelmctl(L"status").out, "The browser's host is installed"));
    // Firefox finds nothing through a registration whose manifest has gone.
    ASSERT_TRUE(DeleteFileW(manifest.c_str()));
    const auto broken = Qelmctl(L"status");
    EXPECT_TRUE(Contains(broken.out, "The browser's host is registered, but its manifest " +
                                         std::string(manifest.begin(), manifest.end()) +
                                         " does not exist"))
        << broken.out;
    ASSERT_EQ(Qelmctl(L"install").exitCode, 0u);

    const auto removed = Qelmctl(L"uninstall");
    EXPECT_EQ(removed.exitCode, 0u);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kRegistration, 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesW(manifest.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(Contains(Qelmctl(L"uninstall").out, "nothing to remove"));
}
