#include "fake/world.h"
#include "platform/shell.h"

namespace platform {

void ShowMessageBox(WindowHandle owner, std::u16string_view text, BoxIcon icon) {
    auto& world = fake::TheWorld();
    world.journal.push_back("MessageBox " + fake::Hex(owner.value) + " " +
                            (icon == BoxIcon::kWarning ? "warning " : "") + fake::Narrow(text));
    world.messageBoxes.emplace_back(text);
}

void DebugOutput(std::u16string_view text) {
    auto& world = fake::TheWorld();
    world.journal.push_back("OutputDebugString");
    world.debugOutput.emplace_back(text);
}

void EndProcess(std::uint32_t exitCode) {
    auto& world = fake::TheWorld();
    world.journal.push_back("ExitProcess " + std::to_string(exitCode));
    world.exitCode = exitCode;
    throw fake::ProcessEnded{exitCode, false};
}

void ExitThroughRuntime(int exitCode) {
    auto& world = fake::TheWorld();
    world.journal.push_back("exit " + std::to_string(exitCode));
    world.exitCode = static_cast<std::uint32_t>(exitCode);
    throw fake::ProcessEnded{static_cast<std::uint32_t>(exitCode), true};
}

std::uintptr_t StartWindowTimer(WindowHandle window, std::uintptr_t id, std::uint32_t periodMs) {
    auto& world = fake::TheWorld();
    world.journal.push_back("SetTimer " + fake::Hex(window.value) + " " + std::to_string(id) + " " +
                            std::to_string(periodMs));
    if (world.timersFail) {
        return 0;
    }
    world.timers[id] = periodMs;
    return id;
}

void StopWindowTimer(WindowHandle window, std::uintptr_t id) {
    auto& world = fake::TheWorld();
    world.journal.push_back("KillTimer " + fake::Hex(window.value) + " " + std::to_string(id));
    world.timers.erase(id);
}

bool InitializeCom() {
    fake::TheWorld().journal.push_back("CoInitialize");
    return true;
}

void UninitializeCom() {
    fake::TheWorld().journal.push_back("CoUninitialize");
}

}  // namespace platform
