#include "fake/world.h"
#include "platform/shell.h"

namespace platform {

void ShowMessageBox(WindowHandle owner, std::u16string_view text, BoxIcon icon) {
    std::function<void()> whileOpen;
    {
        const auto lock = fake::Lock();
        auto& world = fake::TheWorld();
        fake::Record("MessageBox " + fake::Hex(owner.value) + " " +
                     (icon == BoxIcon::kWarning ? "warning " : "") + fake::Narrow(text));
        world.messageBoxes.emplace_back(text);
        whileOpen = world.onMessageBoxOpen;
    }
    if (whileOpen) {
        whileOpen();
    }
}

void DebugOutput(std::u16string_view text) {
    const auto lock = fake::Lock();
    auto& world = fake::TheWorld();
    fake::Record("OutputDebugString");
    world.debugOutput.emplace_back(text);
}

void EndProcess(std::uint32_t exitCode) {
    const auto lock = fake::Lock();
    auto& world = fake::TheWorld();
    fake::Record("ExitProcess " + std::to_string(exitCode));
    world.exitCode = exitCode;
    throw fake::ProcessEnded{exitCode, false};
}

void ExitThroughRuntime(int exitCode) {
    const auto lock = fake::Lock();
    auto& world = fake::TheWorld();
    fake::Record("exit " + std::to_string(exitCode));
    world.exitCode = static_cast<std::uint32_t>(exitCode);
    throw fake::ProcessEnded{static_cast<std::uint32_t>(exitCode), true};
}

std::uintptr_t StartWindowTimer(WindowHandle window, std::uintptr_t id, std::uint32_t periodMs) {
    const auto lock = fake::Lock();
    auto& world = fake::TheWorld();
    fake::Record("SetTimer " + fake::Hex(window.value) + " " + std::to_string(id) + " " +
                 std::to_string(periodMs));
    if (world.timersFail) {
        return 0;
    }
    world.timers[id] = periodMs;
    if (const auto armed = world.onTimerArmed) {
        armed(id);
    }
    return id;
}

void StopWindowTimer(WindowHandle window, std::uintptr_t id) {
    const auto lock = fake::Lock();
    auto& world = fake::TheWorld();
    fake::Record("KillTimer " + fake::Hex(window.value) + " " + std::to_string(id));
    world.timers.erase(id);
}

bool InitializeCom() {
    const auto lock = fake::Lock();
    fake::Record("CoInitialize");
    return true;
}

void UninitializeCom() {
    const auto lock = fake::Lock();
    fake::Record("CoUninitialize");
}

void SoundBeep(std::uint32_t frequencyHz, std::uint32_t durationMs) {
    fake::Record("Beep " + std::to_string(frequencyHz) + " " + std::to_string(durationMs));
}

EventSourceHandle OpenEventSource(const char16_t* sourceName) {
    const auto lock = fake::Lock();
    fake::Record("RegisterEventSource " + fake::Narrow(sourceName));
    return fake::TheWorld().eventSourceAvailable ? EventSourceHandle{fake::NewHandle()}
                                                 : EventSourceHandle{};
}

void ReportInformationEvent(EventSourceHandle, std::u16string_view text) {
    const auto lock = fake::Lock();
    fake::Record("ReportEvent " + fake::Narrow(text));
    fake::TheWorld().eventLog.emplace_back(text);
}

void CloseEventSource(EventSourceHandle) {
    fake::Record("DeregisterEventSource");
}

void WriteStandardOutput(std::u16string_view text) {
    const auto lock = fake::Lock();
    fake::Record("stdout " + fake::Narrow(text));
    fake::TheWorld().standardOutput += text;
}

}  // namespace platform
