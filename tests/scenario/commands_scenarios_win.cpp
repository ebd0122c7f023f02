#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scenario/harness_win.h"

using namespace scenario;

namespace {

// The texts handed to the debugger output, as Wine's seh channel prints them (line feeds shown
// as \n).
std::vector<std::string> DebugTexts(const std::string& log) {
    std::vector<std::string> texts;
    const std::string mark = "OutputDebugStringA \"";
    for (std::size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at)) {
        at += mark.size();
        const std::size_t end = log.find("\"\n", at);
        texts.push_back(log.substr(at, end - at));
    }
    return texts;
}

class Commands : public ::testing::Test {
  protected:
    void SetUp() override {
        browser = StartBrowser();
        qelm = StartQelm({.wineDebug = L"-all,warn+seh"});
        controller = WaitForController(qelm);
        ASSERT_NE(controller, nullptr);
    }

    Child browser;
    Child qelm;
    HWND controller = nullptr;
};

}  // namespace

TEST_F(Commands, ReloadTracesEveryValueInTheLoadersOrder) {
    WriteDword(L"activateKVDisplayEvents", 1);
    WriteDword(L"primaryTimeout", 7);
    WriteDword(L"tabDelay", 0xFFFFFFFF);
    WriteText(L"currentVersion", L"7.4");
    WriteText(L"blacklist", L"a.exe;B.EXE");
    const std::size_t before = DebugTexts(WineLog()).size();

    ASSERT_EQ(Send(controller, QelmMessage(), 1, 2), 1);

    const std::vector<std::string> expected = {
        "\\ndwActivateKVDisplayEvents: <: 1 :>\\n",
        "\\nactivateKVXEventLogging: <: 0 :>\\n",
        "\\nactivateKVXonStartup: <: 0 :>\\n",
        "\\nactivateVisualAcc: <: 0 :>\\n",
        "\\napp_1: <: 1 :>\\n",
        "\\ncurrentVersion: <: 7.4 :>\\n",
        "\\nglobal: <: 0 :>\\n",
        "\\ndw_nRunCnt: <: 0 :>\\n",
        "\\ndwPrimaryTimeout: <: 7 :>\\n",
        "\\nstartupDelay: <: 0 :>\\n",
        "\\ndwTabDelay: <: -1 :>\\n",
        "\\nblackList: <: a.exe;B.EXE :>\\n",
    };
    std::vector<std::string> traced;
    EXPECT_TRUE(Eventually([&] {
        const auto texts = DebugTexts(WineLog());
        traced.assign(texts.begin() + static_cast<std::ptrdiff_t>(before), texts.end());
        return traced.size() >= expected.size();
    }));
    EXPECT_EQ(traced, expected);
}

TEST_F(Commands, EveryCommandRepliesOneAndTheCompanionGoesOn) {
    const std::pair<WPARAM, LPARAM> commands[] = {
        {1, 2},  {1, 3},  {2, 5},  {3, 3},  {3, 0},           {11, 1},
        {11, 0}, {13, 0}, {14, 1}, {16, 0}, {16, -1},         {0, 0},
        {4, 4},  {12, 7}, {15, 1}, {17, 1}, {WPARAM(-1), -1}, {WPARAM(-2), 2},
    };
    for (const auto& [wParam, lParam] : commands) {
        EXPECT_EQ(Send(controller, QelmMessage(), wParam, lParam), 1)
            << "command " << static_cast<long long>(wParam) << ", " << lParam;
    }
    EXPECT_TRUE(qelm.Running());
}

TEST_F(Commands, TheExitMessageEndsTheCompanionWithZero) {
    EXPECT_EQ(Send(controller, QelmExitMessage(), 0, 0, 3s), std::nullopt);
    EXPECT_EQ(qelm.WaitForExit(10s), 0u);
}

TEST_F(Commands, TheExitCommandEndsTheCompanionWithZero) {
    EXPECT_EQ(Send(controller, QelmMessage(), 2, 2, 3s), std::nullopt);
    EXPECT_EQ(qelm.WaitForExit(10s), 0u);
}

TEST_F(Commands, GlobalModeRefusesToExitUntilItIsSwitchedOff) {
    WriteDword(L"global", 5);
    EXPECT_EQ(Send(controller, QelmExitMessage(), 0, 0), 1);
    EXPECT_EQ(Send(controller, QelmMessage(), 2, 2), 1);
    EXPECT_TRUE(qelm.Running());

    WriteDword(L"global", 0);
    EXPECT_EQ(Send(controller, QelmExitMessage(), 0, 0, 3s), std::nullopt);
    EXPECT_EQ(qelm.WaitForExit(10s), 0u);
}

TEST_F(Commands, AReloadAfterTheKeyWasDeletedEndsTheCompanion) {
    DeleteKey();
    Send(controller, QelmMessage(), 1, 2, 3s);
    EXPECT_EQ(qelm.WaitForExit(10s), 0u);
}
