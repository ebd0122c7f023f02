#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "key_values.h"
#include "platform/handles.h"
#include "platform/registry.h"

// The add-on's side of the contract, shared by qelmctl and the native-messaging host: the
// companion's window and its two messages, and the shared key's values.

// The companion's executable, as its process is named.
inline constexpr char16_t kCompanionProgram[] = u"qelm.exe";

// The running companion: its controller window and its process.
struct Companion {
    platform::WindowHandle window;
    std::uint32_t processId = 0;
};

// Set while the installer removes or replaces QELM's files: every qelm-host.exe of the session
// then tells its browser that it closes, and ends, so that no file of the install stays in use.
inline constexpr char16_t kCloseHostsEventName[] = u"Local\\QELM-close-hosts";

// How long the companion may take to answer a message.
inline constexpr std::uint32_t kAnswerTimeoutMs = 5000;

// The companion's controller window, or none when it is not running.
std::optional<Companion> FindCompanion();

// The companion's controller window, looked for every 100 ms for at most timeoutMs while a
// qelm.exe runs: one that is starting shows its window only once it has come up. None when no
// qelm.exe runs or the time is up.
std::optional<Companion> AwaitCompanion(std::uint32_t timeoutMs);

// Sends one of the two registered messages (by name) and answers the reply; none when the
// companion did not answer within kAnswerTimeoutMs (or has gone).
std::optional<std::uintptr_t> SendToCompanion(const Companion& companion,
                                              const char16_t* messageName, std::uintptr_t wParam,
                                              std::intptr_t lParam);

// How an exit request ended: the companion stayed and replied (global mode), or it ended, or it
// was still running once the wait for its end was over.
struct ExitOutcome {
    std::optional<std::uintptr_t> refusal;
    bool ended = false;
    std::uint64_t waitedSeconds = 0;  // from the request to the end of the wait, rounded
};

// Sends an exit request (one of the two registered messages, by name) and waits at most 10 s
// for the companion's end, unless it replies and stays.
ExitOutcome AskToExit(const Companion& companion, const char16_t* messageName,
                      std::uintptr_t wParam, std::intptr_t lParam);

// The shared key opened with the access, or none when it does not exist.
std::optional<platform::KeyHandle> OpenSharedKey(platform::KeyAccess access);

// A value of the key as text: a DWORD as its signed decimal, a text as it is; none when the
// value cannot be read.
std::optional<std::string> ReadKeyValue(platform::KeyHandle key, const KeyValue& value);

// A value of the key as stored: its number for a DWORD; none when it cannot be read.
std::optional<std::int32_t> ReadKeyNumber(platform::KeyHandle key, const KeyValue& value);

// A value of the key as JSON: its number for a DWORD, its text for a text; null when it cannot
// be read.
nlohmann::json ReadKeyJson(platform::KeyHandle key, const KeyValue& value);

// Removes the figures that the previous run left in the key, its exit status among them, before
// a companion is launched: the exit status shown after a start is then the end of this run.
void ForgetThePreviousRunsFigures();

// Writes one setting as the companion writes it (a DWORD of 4 bytes, a text without terminator)
// and flushes the key; 0 or the Windows error.
std::int32_t WriteSetting(platform::KeyHandle key, const KeyValue& value, std::int32_t number,
                          std::u16string_view text);
