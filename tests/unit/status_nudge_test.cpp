#include "browser/input_nudge.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/announcement.h"
#include "registry_test.h"

namespace {

using platform::WindowHandle;

const std::vector<std::string> kShiftF5 = {"keybd_event 0x10 0", "keybd_event 0x74 0",
                                           "keybd_event 0x74 2", "keybd_event 0x10 2"};

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// What the user could notice, in order: sounds, status writes, the cursor, the foreground and
// the keyboard.
std::vector<std::string> Noticeable() {
    std::vector<std::string> lines;
    for (const auto& line : fake::TheWorld().journal) {
        for (const char* prefix : {"Beep ", "RegSetValue ", "RegFlushKey", "GetCursorPos",
                                   "SetCursorPos ", "SetForegroundWindow ", "keybd_event "}) {
            if (line.rfind(prefix, 0) == 0) {
                lines.push_back(line);
            }
        }
    }
    return lines;
}

std::u16string StoredText(std::u16string_view name) {
    const fake::RegistryValue* value = fake::FindValue(name);
    std::u16string text;
    if (value != nullptr) {
        for (std::size_t i = 0; i + 1 < value->data.size(); i += 2) {
            text.push_back(static_cast<char16_t>(value->data[i] | (value->data[i + 1] << 8)));
        }
    }
    return text;
}

class StatusNudge : public RegistryTest {
  protected:
    void SetUp() override {
        RegistryTest::SetUp();
        PutDefaultSettings();
        world().cursor = {300, 200};
    }

    WindowHandle AddBrowserWindow() {
        const auto window = fake::AddWindow(u"MozillaWindowClass", u"Start - Mozilla Firefox");
        fake::FindWindow(window)->client = {10, 20, 810, 620};
        return window;
    }

    static std::string Foreground(WindowHandle window) {
        return "SetForegroundWindow " + fake::Hex(window.value);
    }
};

TEST_F(StatusNudge, WithoutABrowserWindowNothingHappensAtAll) {
    const auto lookalike = fake::AddWindow(u"MozillaWindowClass", u"Inbox - Thunderbird");
    fake::AddWindow(u"Notepad", u"Firefox notes.txt");
    fake::AddWindow(u"MozillaContentWindowClass", u"Mozilla Firefox", lookalike);
    world().windowUnderCursor = lookalike;

    SendInputNudge();

    EXPECT_TRUE(Noticeable().empty());
    EXPECT_TRUE(fake::JournalLines("WindowFromPoint").empty());
    EXPECT_EQ(world().cursor.x, 300);
    EXPECT_EQ(world().cursor.y, 200);
}

TEST_F(StatusNudge, TheWindowUnderTheCursorIsRaisedTheCursorFlickedBackAndShiftF5Typed) {
    const auto browser = AddBrowserWindow();
    world().windowUnderCursor = browser;

    SendInputNudge();

    EXPECT_EQ(Noticeable(),
              (std::vector<std::string>{"GetCursorPos", Foreground(browser), "SetCursorPos 11 625",
                                        "SetCursorPos 300 200"} +
               kShiftF5));
    EXPECT_EQ(fake::JournalLines("WindowFromPoint"),
              (std::vector<std::string>{"WindowFromPoint 300 200"}));
    EXPECT_EQ(world().cursor.x, 300);
    EXPECT_EQ(world().cursor.y, 200);
}

TEST_F(StatusNudge, TheWindowUnderTheCursorNeedNotBeTheBrowser) {
    AddBrowserWindow();
    const auto other = fake::AddWindow(u"Notepad", u"Untitled");
    fake::FindWindow(other)->client = {-40, 7, 600, 480};
    world().cursor = {-5, 1100};
    world().windowUnderCursor = other;

    SendInputNudge();

    EXPECT_EQ(Noticeable(),
              (std::vector<std::string>{"GetCursorPos", Foreground(other), "SetCursorPos -39 485",
                                        "SetCursorPos -5 1100"} +
               kShiftF5));
    EXPECT_EQ(world().cursor.x, -5);
    EXPECT_EQ(world().cursor.y, 1100);
}

TEST_F(StatusNudge, WithoutAWindowUnderTheCursorOnlyTheKeysAreTyped) {
    AddBrowserWindow();

    SendInputNudge();

    EXPECT_EQ(Noticeable(), (std::vector<std::string>{"GetCursorPos"} + kShiftF5));
    EXPECT_EQ(world().cursor.x, 300);
    EXPECT_EQ(world().cursor.y, 200);
}

TEST_F(StatusNudge, AnUnreadableCursorIsLikeNoWindowUnderIt) {
    world().windowUnderCursor = AddBrowserWindow();
    world().cursorUnreadable = true;

    SendInputNudge();

    EXPECT_EQ(Noticeable(), (std::vector<std::string>{"GetCursorPos"} + kShiftF5));
    EXPECT_TRUE(fake::JournalLines("WindowFromPoint").empty());
}

TEST_F(StatusNudge, EveryBrowserClassAndTitleMarkCountsWhereverTheWindowIs) {
    const std::pair<std::u16string_view, std::u16string_view> browsers[] = {
        {u"MozillaWindowClass", u"Firefox"},
        {u"MozillaUIWindowClass", u"Google - Pale Moon"},
        {u"MozillaWindowClass", u"Namoroka nightly"},
        {u"MozillaUIWindowClass", u"about:blank - Mozilla Firefox"},
        {u"MozillaWindowClass", u"Minefield"},
    };
    for (const auto& [className, title] : browsers) {
        SCOPED_TRACE(fake::Narrow(title));
        fake::ResetWorld();
        const auto frame = fake::AddWindow(u"WorkerW", u"");
        fake::AddWindow(std::u16string(className), std::u16string(title), frame);

        SendInputNudge();

        EXPECT_EQ(fake::JournalLines("keybd_event "), kShiftF5);
    }
}

class Announcement : public StatusNudge {
  protected:
    void SetUp() override {
        StatusNudge::SetUp();
        fake::AddProcess(u"firefox.exe", 64 << 20);
        world().windowUnderCursor = AddBrowserWindow();
    }

    std::vector<std::string> Nudge() {
        return std::vector<std::string>{"GetCursorPos", Foreground(world().windowUnderCursor),
                                        "SetCursorPos 11 625", "SetCursorPos 300 200"} +
               kShiftF5;
    }
};

TEST_F(Announcement, WithBeepsAndDisplayEventsOffNothingHappensAtAll) {
    g_settings.SetVisualAcc(0);
    g_settings.SetDisplayEvents(0);

    Announce(u"Starting Lumbrel's Memory Recovery", CommentLayout::kShort);

    EXPECT_TRUE(world().journal.empty());
    EXPECT_EQ(fake::FindValue(u"activateEventComment"), nullptr);
}

TEST_F(Announcement, BeepsAloneSoundThenWriteTheCommentThenNudge) {
    g_settings.SetVisualAcc(1);
    g_settings.SetDisplayEvents(0);

    Announce(u"Starting Lumbrel's Memory Recovery", CommentLayout::kShort);

    EXPECT_EQ(Noticeable(),
              (std::vector<std::string>{"Beep 550 300", "RegSetValue activateEventComment 1 130",
                                        "RegFlushKey"} +
               Nudge()));
    EXPECT_EQ(StoredText(u"activateEventComment"),
              u"Starting Lumbrel's Memory RecoveryBrowser WorkingSetSize = 65536K");
}

TEST_F(Announcement, DisplayEventsAloneWriteTheCommentAndNudgeWithoutABeep) {
    g_settings.SetVisualAcc(0);
    g_settings.SetDisplayEvents(1);

    Announce(u"Memory Recovery Between A Tab Selection", CommentLayout::kLong);

    EXPECT_EQ(Noticeable(),
              (std::vector<std::string>{"RegSetValue activateEventComment 1 146", "RegFlushKey"} +
               Nudge()));
    EXPECT_EQ(StoredText(u"activateEventComment"),
              u"Memory Recovery Between A Tab Selection\nBrowser WorkingSetSize = 65536K\n\n");
}

TEST_F(Announcement, BeepsAndDisplayEventsTogetherBeepOnce) {
    g_settings.SetVisualAcc(1);
    g_settings.SetDisplayEvents(1);

    Announce(u"Stopped Lumbrel's Memory Recovery", CommentLayout::kShort);

    EXPECT_EQ(Noticeable(),
              (std::vector<std::string>{"Beep 550 300", "RegSetValue activateEventComment 1 128",
                                        "RegFlushKey"} +
               Nudge()));
}

TEST_F(Announcement, AKeyThatCannotBeWrittenStillLeavesTheBeepAndTheNudge) {
    g_settings.SetVisualAcc(1);
    world().openError = 5;

    Announce(u"Starting Lumbrel's Memory Recovery", CommentLayout::kShort);

    EXPECT_EQ(Noticeable(), (std::vector<std::string>{"Beep 550 300"} + Nudge()));
    EXPECT_EQ(fake::JournalLines("RegOpenKey "),
              (std::vector<std::string>{"RegOpenKey SOFTWARE\\Qelm 0x20006"}));
}

}  // namespace
