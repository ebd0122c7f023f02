#include "fake/world.h"
#include "platform/desktop.h"

namespace platform {

std::uint32_t RegisterMessageName(const char16_t* name) {
    auto& registered = fake::TheWorld().registeredMessages;
    const auto [entry, added] =
        registered.try_emplace(name, 0xC000 + static_cast<std::uint32_t>(registered.size()));
    return entry->second;
}

void EnumTopLevelWindows(const std::function<bool(WindowHandle)>& visit) {
    fake::TheWorld().journal.push_back("EnumWindows");
    // A copy, so that a visit may change the world.
    const auto windows = fake::TheWorld().topLevelWindows;
    for (const auto& window : windows) {
        if (!visit(window.handle)) {
            return;
        }
    }
}

bool SendWithTimeout(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                     std::intptr_t lParam, std::uint32_t flags, std::uint32_t timeoutMs,
                     std::uintptr_t& result) {
    auto& world = fake::TheWorld();
    world.journal.push_back("SendMessageTimeout " + fake::Hex(window.value) + " " +
                            fake::Hex(message) + " " + fake::Hex(wParam) + " " +
                            fake::Hex(static_cast<std::uintptr_t>(lParam)) + " " +
                            std::to_string(flags) + " " + std::to_string(timeoutMs));
    for (const auto& candidate : world.topLevelWindows) {
        if (candidate.handle == window && candidate.probeReply) {
            result = *candidate.probeReply;
            return true;
        }
    }
    return false;
}

bool BringToForeground(WindowHandle window) {
    fake::TheWorld().journal.push_back("SetForegroundWindow " + fake::Hex(window.value));
    return true;
}

bool IsMaximized(WindowHandle window) {
    for (const auto& candidate : fake::TheWorld().topLevelWindows) {
        if (candidate.handle == window) {
            return candidate.maximized;
        }
    }
    return false;
}

void ShowWindowAs(WindowHandle window, int command) {
    fake::TheWorld().journal.push_back("ShowWindow " + fake::Hex(window.value) + " " +
                                       std::to_string(command));
}

}  // namespace platform
