#pragma once

#include <gtest/gtest.h>

#include "support/fresh_process.h"

// Every test starts from a fresh world and from the system's state as the process starts.
class SystemTest : public ::testing::Test {
  protected:
    void SetUp() override { StartFreshProcess(&controller); }

    void TearDown() override { g_pController = nullptr; }

    fake::World& world() { return fake::TheWorld(); }

    // A browser for recovery to find, so that starting recovery does not end the process.
    static std::uint32_t AddBrowser() { return fake::AddProcess(u"firefox.exe", 64 << 20); }

    // Runs a procedure that is expected to end the process; answers the exit code.
    template <class Procedure>
    std::optional<std::uint32_t> ExitCodeOf(Procedure procedure) {
        try {
            procedure();
        } catch (const fake::ProcessEnded& ended) {
            return ended.exitCode;
        }
        return std::nullopt;
    }

    CWnd controller{platform::WindowHandle{0x7001}};
};
