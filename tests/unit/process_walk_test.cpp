#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "recovery/browser_process.h"
#include "recovery/process_walk.h"
#include "registry_test.h"

namespace {

class ProcessWalk : public RegistryTest {
  protected:
    void AddProcess(std::uint32_t id, std::u16string name) {
        world().processes.push_back(fake::Process{.id = id, .name = std::move(name)});
    }

    void AddNumberedProcesses(std::uint32_t count) {
        for (std::uint32_t id = 1; id <= count; ++id) {
            AddProcess(id, u"worker.exe");
        }
    }

    // Each visit as the step saw it: the id its handle was opened for, and the name.
    using Visit = std::pair<std::uint32_t, std::u16string>;

    // A walk that records every visit and stops after stopAfter of them.
    bool Walk(std::vector<Visit>& visits, std::size_t stopAfter = SIZE_MAX) {
        return WalkProcesses([&](platform::ProcessHandle process, std::u16string_view name) {
            const auto open = world().openProcesses.find(process.value);
            EXPECT_NE(open, world().openProcesses.end()) << "the step got a handle not open";
            visits.emplace_back(open == world().openProcesses.end() ? 0 : open->second,
                                std::u16string(name));
            return visits.size() < stopAfter;
        });
    }

    std::vector<std::string> OpenedIds(const std::string& access) {
        std::vector<std::string> ids;
        const std::string prefix = "OpenProcess " + access + " ";
        for (const auto& line : fake::JournalLines(prefix)) {
            ids.push_back(line.substr(prefix.size()));
        }
        return ids;
    }
};

using BrowserSearch = ProcessWalk;
using ProcessByName = ProcessWalk;

TEST_F(ProcessWalk, VisitsEveryProcessThatOpensWithFullAccess) {
    AddProcess(0, u"idle");
    AddProcess(4, u"System");
    AddProcess(100, u"a.exe");
    world().processes.push_back(fake::Process{.id = 200, .name = u"b.exe", .openable = false});
    world().processes.push_back(
        fake::Process{.id = 300, .name = u"c.exe", .modulesReadable = false});
    AddProcess(400, u"");

    std::vector<Visit> visits;
    EXPECT_TRUE(Walk(visits));

    EXPECT_EQ(visits,
              (std::vector<Visit>{
                  {4, u"System"}, {100, u"a.exe"}, {300, u"<unknown>"}, {400, u"<unknown>"}}));
    EXPECT_EQ(OpenedIds("0x1f0fff"), (std::vector<std::string>{"4", "100", "200", "300", "400"}));
    EXPECT_EQ(fake::JournalLines("CloseHandle").size(), 4u);
    EXPECT_TRUE(world().openProcesses.empty());
}

TEST_F(ProcessWalk, StopsWhenAStepSaysSoAndStillClosesItsHandle) {
    AddNumberedProcesses(5);

    std::vector<Visit> visits;
    EXPECT_TRUE(Walk(visits, 2));

    EXPECT_EQ(visits.size(), 2u);
    EXPECT_EQ(OpenedIds("0x1f0fff"), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(world().journal.back(), "CloseHandle 2");
    EXPECT_TRUE(world().openProcesses.empty());
}

TEST_F(ProcessWalk, FailsWhenTheListCannotBeObtained) {
    AddNumberedProcesses(3);
    world().processListFails = true;

    std::vector<Visit> visits;
    EXPECT_FALSE(Walk(visits));

    EXPECT_TRUE(visits.empty());
    EXPECT_TRUE(fake::JournalLines("OpenProcess").empty());
}

TEST_F(ProcessWalk, VisitsEveryProcessOfALongList) {
    for (const std::uint32_t count : {1023u, 1024u, 1025u, 3000u}) {
        SCOPED_TRACE(count);
        fake::ResetWorld();
        AddNumberedProcesses(count);

        std::vector<Visit> visits;
        EXPECT_TRUE(Walk(visits));

        ASSERT_EQ(visits.size(), count);
        for (std::uint32_t i = 0; i < count; ++i) {
            ASSERT_EQ(visits[i].first, i + 1);
        }
        EXPECT_TRUE(world().openProcesses.empty());
    }
}

TEST_F(BrowserSearch, KnowsTheBrowsersByNameIgnoringAsciiCase) {
    struct NameCase {
        std::u16string name;
        bool browser;
    };
    for (const auto& [name, browser] : {
             NameCase{u"firefox.exe", true},
             NameCase{u"palemoon.exe", true},
             NameCase{u"FIREFOX.EXE", true},
             NameCase{u"PaleMoon.exe", true},
             NameCase{u"firefox.exe.old", false},
             NameCase{u"firefox", false},
             NameCase{u"xfirefox.exe", false},
             NameCase{u"plugin-container.exe", false},
             NameCase{u"F\u0130REFOX.EXE", false},
         }) {
        SCOPED_TRACE(fake::Narrow(name));
        fake::ResetWorld();
        fake::PutDword(u"global", 1);
        AddProcess(8, name);

        EXPECT_EQ(FindBrowserProcess(), browser);
        EXPECT_FALSE(world().exitCode.has_value());
        EXPECT_TRUE(world().openProcesses.empty());
    }
}

TEST_F(BrowserSearch, StopsAtTheFirstBrowser) {
    AddProcess(10, u"explorer.exe");
    AddProcess(20, u"firefox.exe");
    AddProcess(30, u"palemoon.exe");
    AddProcess(40, u"other.exe");

    EXPECT_TRUE(FindBrowserProcess());

    EXPECT_EQ(OpenedIds("0x1f0fff"), (std::vector<std::string>{"10", "20"}));
    EXPECT_TRUE(world().openProcesses.empty());
    EXPECT_TRUE(fake::JournalLines("RegOpenKey").empty());
}

TEST_F(BrowserSearch, ABrowserThatCannotBeFullyOpenedIsNotSeen) {
    fake::PutDword(u"global", 1);
    world().processes.push_back(fake::Process{.id = 20, .name = u"firefox.exe", .openable = false});

    EXPECT_FALSE(FindBrowserProcess());
    EXPECT_FALSE(world().exitCode.has_value());
}

TEST_F(BrowserSearch, WithoutAProcessListDecidesNothing) {
    AddProcess(20, u"firefox.exe");
    world().processListFails = true;

    EXPECT_EQ(ExitCodeOf([] { EXPECT_FALSE(FindBrowserProcess()); }), std::nullopt);

    EXPECT_EQ(fake::JournalLines("EnumProcesses").size(), world().journal.size());
    EXPECT_TRUE(world().messageBoxes.empty());
}

TEST_F(BrowserSearch, WithoutABrowserGlobalModeKeepsTheProcess) {
    fake::PutDword(u"global", 1);
    AddProcess(10, u"explorer.exe");

    EXPECT_EQ(ExitCodeOf([] { EXPECT_FALSE(FindBrowserProcess()); }), std::nullopt);

    EXPECT_FALSE(fake::JournalLines("RegQueryValue global").empty());
}

TEST_F(BrowserSearch, WithoutABrowserOutsideGlobalModeTheProcessEnds) {
    fake::PutDword(u"global", 0);
    AddProcess(10, u"explorer.exe");
    EXPECT_EQ(ExitCodeOf([] { FindBrowserProcess(); }), 0u);

    fake::ResetWorld();
    g_bExitStarted = false;
    fake::PutDword(u"nRunCnt", 0);
    AddProcess(10, u"explorer.exe");
    EXPECT_EQ(ExitCodeOf([] { FindBrowserProcess(); }), 0u);
}

TEST_F(ProcessByName, FindsTheFirstMatchIgnoringCase) {
    AddProcess(0, u"idle");
    AddProcess(8, u"other.exe");
    AddProcess(12, u"Plugin-Container.EXE");
    AddProcess(16, u"plugin-container.exe");

    EXPECT_EQ(FindProcessIdByName(u"plugin-container.exe"), 12u);

    // Identifier 0 is tried like any other; it just cannot be opened.
    EXPECT_EQ(OpenedIds("0x410"), (std::vector<std::string>{"0", "8", "12"}));
    EXPECT_TRUE(world().openProcesses.empty());
}

TEST_F(ProcessByName, SkipsProcessesThatCannotBeOpened) {
    world().processes.push_back(
        fake::Process{.id = 8, .name = u"plugin-container.exe", .queryOpenable = false});
    AddProcess(9, u"plugin-container.exe");

    EXPECT_EQ(FindProcessIdByName(u"plugin-container.exe"), 9u);
    EXPECT_TRUE(world().openProcesses.empty());
}

TEST_F(ProcessByName, AnswersZeroWhenThereIsNoneOrNoList) {
    AddProcess(8, u"other.exe");
    AddProcess(9, u"plugin-container.exe.bak");
    EXPECT_EQ(FindProcessIdByName(u"plugin-container.exe"), 0u);
    EXPECT_TRUE(world().openProcesses.empty());

    AddProcess(10, u"plugin-container.exe");
    world().processListFails = true;
    EXPECT_EQ(FindProcessIdByName(u"plugin-container.exe"), 0u);
}

TEST_F(ProcessByName, SearchesBeyondAThousandProcesses) {
    AddNumberedProcesses(3000);
    world().processes[2499].name = u"plugin-container.exe";

    EXPECT_EQ(FindProcessIdByName(u"plugin-container.exe"), 2500u);
    EXPECT_TRUE(world().openProcesses.empty());
}

TEST_F(ProcessWalk, EnablesTheDebugPrivilegeOnTheOwnToken) {
    EnableDebugPrivilege();

    EXPECT_EQ(world().journal, (std::vector<std::string>{
                                   "OpenProcessToken 0x28", "LookupPrivilegeValue SeDebugPrivilege",
                                   "AdjustTokenPrivileges 20 2", "CloseHandle token"}));
    EXPECT_TRUE(world().debugPrivilegeEnabled);
}

}  // namespace
