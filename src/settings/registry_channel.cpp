#include "settings/registry_channel.h"

#include <array>
#include <cstddef>
#include <cstring>

#include "app/failure_box.h"
#include "app/lifecycle.h"
#include "platform/heap.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "settings/settings.h"
#include "settings/text_format.h"

using platform::KeyAccess;
using platform::KeyHandle;

std::int32_t ResultFromRegistryError(std::int32_t error) {
    if (error <= 0) {
        return error;
    }
    return static_cast<std::int32_t>(0x80070000u | (static_cast<std::uint32_t>(error) & 0xFFFFu));
}

std::int32_t QueryDwordValue(KeyHandle key, const char16_t* name, std::int32_t* destination) {
    if (!key || destination == nullptr) {
        return kEInvalidArg;
    }
    std::uint32_t type = 0;
    std::uint32_t size = sizeof(std::int32_t);
    const auto error =
        platform::QueryValue(key, name, type, reinterpret_cast<std::uint8_t*>(destination), size);
    if (error != 0) {
        return ResultFromRegistryError(error);
    }
    if (type != platform::kRegDword) {
        return kDispETypeMismatch;
    }
    return 0;
}

namespace {

// A block of the process heap, given back when it goes out of scope.
class HeapBlock {
  public:
    explicit HeapBlock(std::size_t bytes) : block_(platform::AllocateFromHeap(bytes)) {}
    ~HeapBlock() { platform::ReleaseToHeap(block_); }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;

    explicit operator bool() const { return block_ != nullptr; }
    std::uint8_t* Bytes() const { return static_cast<std::uint8_t*>(block_); }

  private:
    void* block_;
};

}  // namespace

std::int32_t QueryStringValue(KeyHandle key, const char16_t* name, std::u16string* destination) {
    if (destination != nullptr) {
        destination->clear();
    }
    if (!key || destination == nullptr) {
        return kEInvalidArg;
    }
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    auto error = platform::QueryValue(key, name, type, nullptr, size);
    if (error != 0) {
        return ResultFromRegistryError(error);
    }
    if (type != platform::kRegSz) {
        return kDispETypeMismatch;
    }
    // Room for the data and a terminator of our own, which lands in the character slot right
    // after the data's whole characters, inside the allocation for any byte count. A value too
    // large for the heap is refused like any other failed read.
    const HeapBlock block(std::size_t{size} + 2);
    if (!block) {
        return kEOutOfMemory;
    }
    error = platform::QueryValue(key, name, type, block.Bytes(), size);
    if (error != 0) {
        return ResultFromRegistryError(error);
    }
    if (type != platform::kRegSz) {
        return kDispETypeMismatch;
    }
    auto* text = reinterpret_cast<char16_t*>(block.Bytes());
    text[size / 2] = u'\0';
    destination->assign(text);
    return 0;
}

std::int32_t SetDwordValue(KeyHandle key, const char16_t* name, std::int32_t value) {
    std::array<std::uint8_t, 4> bytes{};
    std::memcpy(bytes.data(), &value, bytes.size());
    return platform::SetValue(key, name, platform::kRegDword, bytes.data(), bytes.size());
}

std::int32_t SetTextValue(KeyHandle key, const char16_t* name, std::u16string_view text) {
    return platform::SetValue(key, name, platform::kRegSz,
                              reinterpret_cast<const std::uint8_t*>(text.data()),
                              static_cast<std::uint32_t>(text.size() * 2));
}

void WriteStatus(const std::function<std::int32_t(KeyHandle)>& write) {
    KeyHandle key;
    if (platform::OpenUserKey(kQelmKey, KeyAccess::kWrite, key) != 0) {
        return;
    }
    if (write(key) == 0) {
        platform::FlushKey(key);
    }
    platform::CloseKey(key);
}

namespace {

struct DefaultDword {
    const char16_t* name;
    std::int32_t value;
};

// In the order they are written after the two texts.
constexpr DefaultDword kDefaultDwords[] = {
    {u"nRunCnt", 0},
    {u"app_1", 1},
    {u"activateKVDisplayEvents", 0},
    {u"activateVisualAcc", 0},
    {u"activateKVXonStartup", 0},
    {u"startupDelay", 0},
    {u"tabDelay", 0},
    {u"global", 0},
    {u"primaryTimeout", 1},
    {u"activateKVXEventLogging", 0},
    {u"startKVX", 0},
    {u"kvxRestart", 0},
};

bool WriteDefaults(KeyHandle key) {
    if (SetTextValue(key, u"currentVersion", u"none") != 0 ||
        SetTextValue(key, u"blacklist", u"none") != 0) {
        return false;
    }
    for (const auto& value : kDefaultDwords) {
        if (SetDwordValue(key, value.name, value.value) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool CreateDefaultSettings() {
    KeyHandle key;
    if (platform::CreateUserKey(kQelmKey, key) != 0) {
        return false;
    }
    if (!WriteDefaults(key)) {
        platform::CloseKey(key);
        return false;
    }
    platform::FlushKey(key);
    platform::CloseKey(key);
    return true;
}

namespace {

void Trace(std::u16string_view label, std::u16string_view value) {
    std::u16string line = u"\n";
    line += label;
    line += u": <: ";
    line += value;
    line += u" :>\n";
    platform::DebugOutput(line);
}

using DwordSetter = void (Settings::*)(std::int32_t);

struct LoadedDword {
    const char16_t* name;
    const char16_t* traceLabel;
    DwordSetter setter;
};

// Reads one REG_DWORD into its setting; the trace shows what was read, 0 when nothing was.
bool LoadDword(KeyHandle key, const LoadedDword& value) {
    std::int32_t raw = 0;
    const auto result = QueryDwordValue(key, value.name, &raw);
    Trace(value.traceLabel, FormatDecimal(raw));
    if (result < 0) {
        return false;
    }
    (g_settings.*value.setter)(raw);
    return true;
}

bool LoadCurrentVersion(KeyHandle key) {
    std::u16string text;
    if (QueryStringValue(key, u"currentVersion", &text) < 0) {
        return false;
    }
    Trace(u"currentVersion", text);
    g_settings.SetCurrentVersion(static_cast<float>(ParseDecimalPrefix(text)));
    return true;
}

bool LoadBlacklist(KeyHandle key) {
    std::u16string text;
    if (QueryStringValue(key, u"blacklist", &text) < 0) {
        return false;
    }
    Trace(u"blackList", text);
    g_settings.SetBlacklist(std::move(text));
    return true;
}

constexpr LoadedDword kFlagsBeforeVersion[] = {
    {u"activateKVDisplayEvents", u"dwActivateKVDisplayEvents", &Settings::SetDisplayEvents},
    {u"activateKVXEventLogging", u"activateKVXEventLogging", &Settings::SetEventLogging},
    {u"activateKVXonStartup", u"activateKVXonStartup", &Settings::SetOnStartup},
    {u"activateVisualAcc", u"activateVisualAcc", &Settings::SetVisualAcc},
    {u"app_1", u"app_1", &Settings::SetApp1},
};

constexpr LoadedDword kValuesAfterVersion[] = {
    {u"global", u"global", &Settings::SetGlobal},
    {u"nRunCnt", u"dw_nRunCnt", &Settings::SetRunCount},
    {u"primaryTimeout", u"dwPrimaryTimeout", &Settings::SetPrimaryTimeout},
    {u"startupDelay", u"startupDelay", &Settings::SetStartupDelay},
    {u"tabDelay", u"dwTabDelay", &Settings::SetTabDelay},
};

bool LoadAll(KeyHandle key) {
    for (const auto& value : kFlagsBeforeVersion) {
        if (!LoadDword(key, value)) {
            return false;
        }
    }
    if (!LoadCurrentVersion(key)) {
        return false;
    }
    for (const auto& value : kValuesAfterVersion) {
        if (!LoadDword(key, value)) {
            return false;
        }
    }
    return LoadBlacklist(key);
}

// Opens the key for a read; when it cannot be opened the exit is requested (unless the read is
// part of the exit) and the caller goes on with no key, so its reads fail.
KeyHandle OpenForReading(KeyAccess access, bool requestExitWhenMissing) {
    KeyHandle key;
    if (platform::OpenUserKey(kQelmKey, access, key) != 0 && requestExitWhenMissing) {
        ExitProgram();
    }
    return key;
}

void CloseIfOpen(KeyHandle key) {
    if (key) {
        platform::CloseKey(key);
    }
}

bool RefreshGlobal(bool requestExitWhenMissing) {
    const KeyHandle key = OpenForReading(KeyAccess::kQuery, requestExitWhenMissing);
    std::int32_t raw = 0;
    const auto result = QueryDwordValue(key, u"global", &raw);
    g_settings.dwLastGlobal.store(raw, std::memory_order_relaxed);
    CloseIfOpen(key);
    if (result < 0) {
        return false;
    }
    g_settings.SetGlobal(raw);
    return raw != 0;
}

}  // namespace

void ReloadSettings() {
    KeyHandle key;
    if (platform::OpenUserKey(kQelmKey, KeyAccess::kAll, key) != 0) {
        ExitProgram();
        return;
    }
    LoadAll(key);
    platform::CloseKey(key);
}

bool IsGlobalEnabled() {
    return RefreshGlobal(true);
}

bool RefreshGlobalForExit() {
    return RefreshGlobal(false);
}

namespace {

FailureBox g_satelliteFailure;

}  // namespace

bool dwSatelliteQELM() {
    const KeyHandle key = OpenForReading(KeyAccess::kQuery, true);
    const std::u16string text =
        u"\n\ndwSatelliteQELM: <: " +
        FormatDecimal(g_settings.dwLastGlobal.load(std::memory_order_relaxed)) + u" :>\n\n";
    std::int32_t raw = 0;
    const auto result = QueryDwordValue(key, u"global", &raw);
    g_settings.dwLastGlobal.store(raw, std::memory_order_relaxed);
    CloseIfOpen(key);
    if (result < 0) {
        g_satelliteFailure.Show(text, platform::BoxIcon::kNone);
        return false;
    }
    return raw != 0;
}
