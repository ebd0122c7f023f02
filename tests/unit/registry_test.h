#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "system_test.h"

// Result codes are written out here rather than taken from the system's headers, so that a wrong
// constant there shows up as a failure.
constexpr std::int32_t ResultCode(std::uint32_t code) {
    return static_cast<std::int32_t>(code);
}

inline constexpr std::int32_t kInvalidArgument = ResultCode(0x80070057);
inline constexpr std::int32_t kTypeMismatch = ResultCode(0x80020005);
inline constexpr std::int32_t kValueNotFound = ResultCode(0x80070002);
inline constexpr std::int32_t kMoreData = ResultCode(0x800700EA);
inline constexpr std::int32_t kOutOfMemory = ResultCode(0x8007000E);

inline constexpr char16_t kKeyPath[] = u"SOFTWARE\\Qelm";

// Every setting in memory, so that a test can tell whether anything at all changed.
inline auto SettingsSnapshot() {
    return std::make_tuple(
        g_settings.GetApp1(), g_settings.GetVisualAcc(), g_settings.GetDisplayEvents(),
        g_settings.GetGlobal(), g_settings.GetRunCount(), g_settings.GetOnStartup(),
        g_settings.GetStartupDelay(), g_settings.GetTabDelay(), g_settings.GetPrimaryTimeout(),
        g_settings.GetEventLogging(), g_settings.GetCurrentVersion(), g_settings.GetBlacklist(),
        g_settings.dwLastGlobal.load());
}

// The value names read from the registry, in order, a value read twice in a row counted once.
inline std::vector<std::string> QueriedValueNames() {
    const std::string prefix = "RegQueryValue ";
    std::vector<std::string> names;
    for (const auto& line : fake::JournalLines(prefix)) {
        const auto name = line.substr(prefix.size());
        if (names.empty() || names.back() != name) {
            names.push_back(name);
        }
    }
    return names;
}

// The steps among those named, in the order they happened. A step is named by its journal line
// or the start of it up to a space; a line counts as the first name that fits it.
inline std::vector<std::string> Steps(const std::vector<std::string>& names) {
    std::vector<std::string> steps;
    for (const auto& line : fake::TheWorld().journal) {
        for (const auto& name : names) {
            if (line == name || line.starts_with(name + " ")) {
                steps.push_back(name);
                break;
            }
        }
    }
    return steps;
}

// A REG_SZ value of the key as text; none when it is missing or of another type.
inline std::optional<std::string> TextValue(std::u16string_view name) {
    const auto* value = fake::FindValue(name);
    if (value == nullptr || value->type != 1) {
        return std::nullopt;
    }
    std::u16string text(value->data.size() / 2, u'\0');
    std::memcpy(text.data(), value->data.data(), text.size() * 2);
    return fake::Narrow(text);
}

inline bool JournalHas(const std::string& line) {
    const auto& journal = fake::TheWorld().journal;
    return std::find(journal.begin(), journal.end(), line) != journal.end();
}

// The registry key is never held open between operations: each test ends with none open.
class RegistryTest : public SystemTest {
  protected:
    void TearDown() override {
        EXPECT_TRUE(world().openKeys.empty()) << world().openKeys.size() << " key(s) left open";
        SystemTest::TearDown();
    }
};
