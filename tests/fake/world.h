#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/handles.h"

// The in-memory world behind the fake platform: tests arrange it, call the system's own
// procedures, then inspect it and the journal of every platform call in order.
namespace fake {

struct RegistryValue {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

struct Process {
    std::uint32_t id = 0;
    std::u16string name;
    bool openable = true;       // OpenProcess with full access succeeds
    bool queryOpenable = true;  // OpenProcess with query and read access succeeds
    bool modulesReadable = true;
    bool trimRefused = false;
};

struct TopLevelWindow {
    platform::WindowHandle handle;
    std::optional<std::uintptr_t> probeReply;  // none: the send times out
    bool maximized = false;
};

struct World {
    // The key SOFTWARE\Qelm of the current user, its values in the order they were created.
    bool keyExists = false;
    std::vector<std::pair<std::u16string, RegistryValue>> values;
    std::int32_t openError = 0;                        // non-zero: every open fails with it
    std::int32_t createError = 0;                      // non-zero: creating the key fails with it
    std::map<std::u16string, std::int32_t> setErrors;  // value name -> error of its write
    std::set<std::uintptr_t> openKeys;

    std::vector<Process> processes;
    bool processListFails = false;
    std::map<std::uintptr_t, std::uint32_t> openProcesses;  // handle -> process id
    std::uint32_t ownProcessId = 4242;
    bool debugPrivilegeEnabled = false;

    std::vector<TopLevelWindow> topLevelWindows;

    std::uint32_t mutexLastError = 0;
    bool eventsFail = false;
    // Some: how many events are created before every further creation fails.
    std::optional<std::size_t> eventsCreatableBeforeFailure;
    std::size_t eventsCreated = 0;

    std::map<std::u16string, std::uint32_t> registeredMessages;

    std::map<std::uintptr_t, std::uint32_t> timers;  // armed timer id -> period in ms
    bool timersFail = false;

    std::vector<std::u16string> messageBoxes;
    std::vector<std::u16string> debugOutput;
    std::optional<std::uint32_t> exitCode;

    // Every platform call in order, one line each.
    std::vector<std::string> journal;

    std::uintptr_t nextHandle = 0x100;
};

World& TheWorld();

// A fresh, empty world; the system's own process-wide state is not touched.
void ResetWorld();

// Thrown by the fake ExitProcess and runtime exit, so that the test regains control.
struct ProcessEnded {
    std::uint32_t exitCode;
    bool throughRuntime;
};

// Narrows UTF-16 text made of ASCII characters, for journal lines and test messages.
std::string Narrow(std::u16string_view text);

// "0x" and the value in lower-case hexadecimal, as journal lines show numbers.
std::string Hex(std::uint64_t value);

// The journal lines that begin with prefix.
std::vector<std::string> JournalLines(const std::string& prefix);

// Helpers to arrange and inspect the registry.
void PutDword(std::u16string_view name, std::int32_t value);
void PutText(std::u16string_view name, std::u16string_view text, bool terminated = false);
void PutRaw(std::u16string_view name, std::uint32_t type, std::vector<std::uint8_t> data);
void RemoveValue(std::u16string_view name);
const RegistryValue* FindValue(std::u16string_view name);

std::uintptr_t NewHandle();

}  // namespace fake
