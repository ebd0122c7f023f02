#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "fake/world.h"
#include "platform/desktop.h"

// A running companion as the contract's callers see it: a process and its controller window,
// which answers every message with reply (none: sends time out). Answers the process identifier.
inline std::uint32_t AddCompanion(std::optional<std::uintptr_t> reply = 1) {
    const auto processId = fake::AddProcess(u"qelm.exe", 3 << 20);
    auto* window = fake::FindWindow(fake::AddWindow(u"qelm", u"Lumbrel"));
    window->reply = reply;
    window->processId = processId;
    return processId;
}

// The messages sent so far of the registered message with that name.
inline std::vector<fake::SentMessage> SentMessages(const char16_t* messageName) {
    const auto id = platform::RegisterMessageName(messageName);
    std::vector<fake::SentMessage> sent;
    for (const auto& message : fake::TheWorld().sent) {
        if (message.message == id) {
            sent.push_back(message);
        }
    }
    return sent;
}
