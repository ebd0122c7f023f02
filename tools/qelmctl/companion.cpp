#include "companion.h"

#include "app/messages.h"
#include "platform/desktop.h"
#include "platform/processes.h"
#include "platform/threads.h"
#include "recovery/process_walk.h"
#include "settings/registry_channel.h"
#include "text.h"

std::optional<Companion> FindCompanion() {
    const auto window = platform::FindTopLevelWindow(kControllerClassName);
    if (!window) {
        return std::nullopt;
    }
    return Companion{window, platform::WindowProcessId(window)};
}

std::optional<Companion> AwaitCompanion(std::uint32_t timeoutMs) {
    constexpr std::uint32_t kLookEveryMs = 100;
    for (std::uint32_t waited = 0;; waited += kLookEveryMs) {
        if (const auto companion = FindCompanion()) {
            return companion;
        }
        if (waited >= timeoutMs || FindProcessIdByName(kCompanionProgram) == 0) {
            return std::nullopt;
        }
        platform::PauseFor(kLookEveryMs);
    }
}

std::optional<std::uintptr_t> SendToCompanion(const Companion& companion,
                                              const char16_t* messageName, std::uintptr_t wParam,
                                              std::intptr_t lParam) {
    std::uintptr_t reply = 0;
    if (!platform::SendWithTimeout(companion.window, platform::RegisterMessageName(messageName),
                                   wParam, lParam, platform::kSmtoNormal, kAnswerTimeoutMs,
                                   reply)) {
        return std::nullopt;
    }
    return reply;
}

ExitOutcome AskToExit(const Companion& companion, const char16_t* messageName,
                      std::uintptr_t wParam, std::intptr_t lParam) {
    constexpr std::uint32_t kEndWaitMs = 10000;
    const std::uint64_t asked = platform::TickCount();
    ExitOutcome outcome;
    outcome.refusal = SendToCompanion(companion, messageName, wParam, lParam);
    if (outcome.refusal) {
        return outcome;
    }
    outcome.ended = platform::WaitForProcessEnd(companion.processId, kEndWaitMs);
    // The answer may have failed at once or after its whole time-out: this is what was waited.
    outcome.waitedSeconds = (platform::TickCount() - asked + 500) / 1000;
    return outcome;
}

std::optional<platform::KeyHandle> OpenSharedKey(platform::KeyAccess access) {
    platform::KeyHandle key;
    if (platform::OpenUserKey(kQelmKey, access, key) != 0) {
        return std::nullopt;
    }
    return key;
}

std::optional<std::int32_t> ReadKeyNumber(platform::KeyHandle key, const KeyValue& value) {
    const std::u16string name(value.name);
    std::int32_t number = 0;
    if (QueryDwordValue(key, name.c_str(), &number) < 0) {
        return std::nullopt;
    }
    return number;
}

std::optional<std::string> ReadKeyValue(platform::KeyHandle key, const KeyValue& value) {
    if (value.type == ValueType::kDword) {
        const auto number = ReadKeyNumber(key, value);
        return number ? std::optional(std::to_string(*number)) : std::nullopt;
    }
    const std::u16string name(value.name);
    std::u16string text;
    if (QueryStringValue(key, name.c_str(), &text) < 0) {
        return std::nullopt;
    }
    return ToUtf8(text);
}

nlohmann::json ReadKeyJson(platform::KeyHandle key, const KeyValue& value) {
    if (value.type == ValueType::kDword) {
        const auto number = ReadKeyNumber(key, value);
        return number ? nlohmann::json(*number) : nlohmann::json();
    }
    const auto text = ReadKeyValue(key, value);
    return text ? nlohmann::json(*text) : nlohmann::json();
}

void ForgetThePreviousRunsFigures() {
    const auto key = OpenSharedKey(platform::KeyAccess::kWrite);
    if (!key) {
        return;
    }
    if (platform::DeleteValue(*key, u"activateEventMemoryMetrics") == 0) {
        platform::FlushKey(*key);
    }
    platform::CloseKey(*key);
}

std::int32_t WriteSetting(platform::KeyHandle key, const KeyValue& value, std::int32_t number,
                          std::u16string_view text) {
    const std::u16string name(value.name);
    const auto written = value.type == ValueType::kDword ? SetDwordValue(key, name.c_str(), number)
                                                         : SetTextValue(key, name.c_str(), text);
    if (written == 0) {
        platform::FlushKey(key);
    }
    return written;
}
