// Arbitrary contents of the key against the registry channel: the loader, the fresh reads of
// "global" and the two typed readers.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/registry.h"
#include "settings/registry_channel.h"
#include "settings/settings.h"

namespace {

constexpr std::size_t kMostValueBytes = 64 * 1024;
constexpr std::size_t kMostValues = 24;
constexpr std::size_t kMostSteps = 8;

constexpr std::int32_t kFileNotFound = static_cast<std::int32_t>(0x80070002);
constexpr std::int32_t kMoreData = static_cast<std::int32_t>(0x800700EA);

// The sixteen names the key holds, then other spellings the registry takes for the same values,
// and names the system never reads.
constexpr std::u16string_view kNames[] = {
    u"currentVersion",
    u"blacklist",
    u"nRunCnt",
    u"app_1",
    u"activateKVDisplayEvents",
    u"activateVisualAcc",
    u"activateKVXonStartup",
    u"startupDelay",
    u"tabDelay",
    u"global",
    u"primaryTimeout",
    u"activateKVXEventLogging",
    u"startKVX",
    u"kvxRestart",
    u"activateEventComment",
    u"activateEventMemoryMetrics",
    u"GLOBAL",
    u"TabDelay",
    u"blackList",
    u"CURRENTVERSION",
    u"",
    u"tabDelay ",
    u"globals",
};

// The loader's order of reads; it stops at the first value it cannot read.
struct LoadedValue {
    std::u16string_view name;
    bool text;
};
constexpr LoadedValue kLoadOrder[] = {
    {u"activateKVDisplayEvents", false},
    {u"activateKVXEventLogging", false},
    {u"activateKVXonStartup", false},
    {u"activateVisualAcc", false},
    {u"app_1", false},
    {u"currentVersion", true},
    {u"global", false},
    {u"nRunCnt", false},
    {u"primaryTimeout", false},
    {u"startupDelay", false},
    {u"tabDelay", false},
    {u"blacklist", true},
};

std::u16string_view NameOf(std::uint8_t choice) {
    return kNames[choice % std::size(kNames)];
}

// A value's bytes: given literally, or a short pattern repeated to the size, so that a small
// input can still make a value of tens of kilobytes.
std::vector<std::uint8_t> ValueBytes(FuzzInput& input, std::size_t size) {
    if (!input.Flag()) {
        return input.Bytes(size);
    }
    const std::size_t patternSize = input.Byte() % 8 + 1;
    const std::vector<std::uint8_t> pattern = input.Bytes(patternSize);
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = pattern.empty() ? 0 : pattern[i % pattern.size()];
    }
    return bytes;
}

void PutValues(FuzzInput& input) {
    fake::TheWorld().keyExists = true;
    std::size_t budget = kMostValueBytes;
    const std::size_t count = input.Byte() % (kMostValues + 1);
    for (std::size_t i = 0; i < count && !input.Empty(); ++i) {
        const std::u16string_view name = NameOf(input.Byte());
        const std::uint32_t type = input.Byte() % 12;
        const std::size_t size = std::min<std::size_t>(input.Take<std::uint16_t>(), budget);
        std::vector<std::uint8_t> bytes = ValueBytes(input, size);
        budget -= bytes.size();
        fake::PutRaw(name, type, std::move(bytes));
    }
}

const fake::RegistryValue* Reachable(std::u16string_view name) {
    return fake::TheWorld().keyExists ? fake::FindValue(name) : nullptr;
}

// What a 4-byte read leaves in a buffer holding before: the value's bytes over it, when the
// value fits.
std::optional<std::int32_t> BytesOver(const fake::RegistryValue* value, std::int32_t before) {
    if (value == nullptr || value->data.size() > sizeof before) {
        return std::nullopt;
    }
    std::int32_t after = before;
    std::copy(value->data.begin(), value->data.end(), reinterpret_cast<std::uint8_t*>(&after));
    return after;
}

bool ReadableDword(const fake::RegistryValue* value) {
    return value != nullptr && value->type == platform::kRegDword &&
           value->data.size() <= sizeof(std::int32_t);
}

// A REG_SZ value as a reader sees it: its whole characters, up to the first null among them.
std::u16string TextOf(const fake::RegistryValue& value) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
        text.push_back(static_cast<char16_t>(value.data[i] | value.data[i + 1] << 8));
    }
    return text.substr(0, text.find(u'\0'));
}

bool Readable(const LoadedValue& loaded) {
    const fake::RegistryValue* value = Reachable(loaded.name);
    if (loaded.text) {
        return value != nullptr && value->type == platform::kRegSz;
    }
    return ReadableDword(value);
}

// The names read since the journal had firstLine lines, a value read twice in a row (a text's
// size, then its data) counted once.
std::vector<std::u16string> NamesReadSince(std::size_t firstLine) {
    const std::string prefix = "RegQueryValue ";
    const auto& journal = fake::TheWorld().journal;
    std::vector<std::u16string> names;
    for (std::size_t i = firstLine; i < journal.size(); ++i) {
        if (!journal[i].starts_with(prefix)) {
            continue;
        }
        const std::u16string name = Widen(std::string_view(journal[i]).substr(prefix.size()));
        if (names.empty() || names.back() != name) {
            names.push_back(name);
        }
    }
    return names;
}

bool ReloadAsExpected() {
    const std::size_t firstLine = fake::TheWorld().journal.size();
    const bool keyExists = fake::TheWorld().keyExists;
    const bool survived = Survives(ReloadSettings);
    Require(NothingLeftOpen());
    if (!keyExists) {
        Require(NamesReadSince(firstLine).empty());
        return survived;
    }
    Require(survived);
    std::vector<std::u16string> expected;
    bool complete = true;
    bool tabDelayLoaded = false;
    for (const auto& loaded : kLoadOrder) {
        expected.emplace_back(loaded.name);
        if (!Readable(loaded)) {
            complete = false;
            break;
        }
        tabDelayLoaded = tabDelayLoaded || loaded.name == u"tabDelay";
    }
    Require(NamesReadSince(firstLine) == expected);
    // The tab delay read as 0 stands for a tenth of a minute, never for no delay at all.
    if (tabDelayLoaded) {
        const std::int32_t minutes = *BytesOver(Reachable(u"tabDelay"), 0);
        Require(g_settings.GetTabDelay() != 0.0f);
        Require(g_settings.GetTabDelay() == (minutes == 0 ? 0.1f : static_cast<float>(minutes)));
    }
    if (complete) {
        Require(g_settings.GetBlacklist() == TextOf(*Reachable(u"blacklist")));
    }
    return true;
}

// The fresh reads of "global": what they answer, store and keep of the raw value.
bool GlobalReadAsExpected(bool satellite) {
    const fake::RegistryValue* value = Reachable(u"global");
    const bool readable = ReadableDword(value);
    const bool flagBefore = g_settings.GetGlobal();
    const std::size_t boxesBefore = fake::TheWorld().messageBoxes.size();
    bool answer = false;
    const bool survived =
        Survives([&] { answer = satellite ? dwSatelliteQELM() : IsGlobalEnabled(); });
    Require(NothingLeftOpen());
    if (!survived) {
        return false;
    }
    const std::int32_t raw = BytesOver(value, 0).value_or(0);
    Require(g_settings.dwLastGlobal == raw);
    Require(answer == (readable && raw != 0));
    if (satellite) {
        Require(g_settings.GetGlobal() == flagBefore);
        Require(fake::TheWorld().messageBoxes.size() == boxesBefore + (readable ? 0 : 1));
    } else {
        Require(g_settings.GetGlobal() == (readable ? raw != 0 : flagBefore));
    }
    return true;
}

// The readers on a key the target opens itself, or on no key at all.
platform::KeyHandle OpenKeyOrNone(bool none) {
    platform::KeyHandle key;
    if (!none) {
        platform::OpenUserKey(kQelmKey, platform::KeyAccess::kQuery, key);
    }
    return key;
}

void CloseIfOpen(platform::KeyHandle key) {
    if (key) {
        platform::CloseKey(key);
    }
}

void StringReadAsExpected(FuzzInput& input) {
    const std::u16string name(NameOf(input.Byte()));
    const std::uint8_t mode = input.Byte();
    const platform::KeyHandle key = OpenKeyOrNone((mode & 1) != 0);
    const bool noDestination = (mode & 2) != 0;
    std::u16string destination = u"stale";
    const std::int32_t result =
        QueryStringValue(key, name.c_str(), noDestination ? nullptr : &destination);
    const fake::RegistryValue* value = key ? fake::FindValue(name) : nullptr;
    CloseIfOpen(key);
    Require(NothingLeftOpen());
    if (!key || noDestination) {
        Require(result == kEInvalidArg);
        Require(noDestination ? destination == u"stale" : destination.empty());
    } else if (value == nullptr) {
        Require(result == kFileNotFound && destination.empty());
    } else if (value->type != platform::kRegSz) {
        Require(result == kDispETypeMismatch && destination.empty());
    } else {
        Require(result == 0 && destination == TextOf(*value));
    }
}

void DwordReadAsExpected(FuzzInput& input) {
    const std::u16string name(NameOf(input.Byte()));
    const std::uint8_t mode = input.Byte();
    const std::int32_t before = input.Take<std::int32_t>();
    const platform::KeyHandle key = OpenKeyOrNone((mode & 1) != 0);
    const bool noDestination = (mode & 2) != 0;
    std::int32_t destination = before;
    const std::int32_t result =
        QueryDwordValue(key, name.c_str(), noDestination ? nullptr : &destination);
    const fake::RegistryValue* value = key ? fake::FindValue(name) : nullptr;
    CloseIfOpen(key);
    Require(NothingLeftOpen());
    if (!key || noDestination) {
        Require(result == kEInvalidArg && destination == before);
    } else if (value == nullptr) {
        Require(result == kFileNotFound);
    } else if (value->data.size() > sizeof destination) {
        Require(result == kMoreData);
    } else if (value->type != platform::kRegDword) {
        Require(result == kDispETypeMismatch);
    } else {
        Require(result == 0 && destination == BytesOver(value, before));
    }
}

// One step of the sequence; false once the process has ended.
bool Step(FuzzInput& input) {
    switch (input.Byte() % 6) {
        case 0:
            return ReloadAsExpected();
        case 1:
            return GlobalReadAsExpected(false);
        case 2:
            return GlobalReadAsExpected(true);
        case 3:
            StringReadAsExpected(input);
            return true;
        case 4:
            DwordReadAsExpected(input);
            return true;
        default:
            // The add-on's uninstaller may remove the key while the program runs, and the add-on
            // may create it afresh.
            fake::TheWorld().keyExists = !fake::TheWorld().keyExists;
            return true;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    StartFreshProcess();
    if (!input.Flag()) {
        PutValues(input);
    }
    const std::size_t steps = input.Byte() % kMostSteps + 1;
    for (std::size_t i = 0; i < steps; ++i) {
        if (!Step(input)) {
            break;
        }
    }
    Require(NothingLeftOpen());
    return 0;
}
