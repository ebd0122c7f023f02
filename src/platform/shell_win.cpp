#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/shell.h"
#include "platform/wide_win.h"

namespace platform {

namespace {

// The executable's file name without directory and extension, as boxes are captioned.
std::wstring ProgramName() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, length);
    if (const auto slash = name.find_last_of(L"\\/"); slash != std::wstring::npos) {
        name.erase(0, slash + 1);
    }
    if (const auto dot = name.rfind(L'.'); dot != std::wstring::npos) {
        name.erase(dot);
    }
    return name;
}

}  // namespace

void ShowMessageBox(WindowHandle owner, std::u16string_view text, BoxIcon icon) {
    const UINT style = MB_OK | (icon == BoxIcon::kWarning ? MB_ICONEXCLAMATION : 0);
    MessageBoxW(ToNative<HWND>(owner), WideString(text).c_str(), ProgramName().c_str(), style);
}

void DebugOutput(std::u16string_view text) {
    OutputDebugStringW(WideString(text).c_str());
}

void EndProcess(std::uint32_t exitCode) {
    ExitProcess(exitCode);
}

void ExitThroughRuntime(int exitCode) {
    std::exit(exitCode);
}

std::uintptr_t StartWindowTimer(WindowHandle window, std::uintptr_t id, std::uint32_t periodMs) {
    return SetTimer(ToNative<HWND>(window), id, periodMs, nullptr);
}

void StopWindowTimer(WindowHandle window, std::uintptr_t id) {
    KillTimer(ToNative<HWND>(window), id);
}

void SoundBeep(std::uint32_t frequencyHz, std::uint32_t durationMs) {
    Beep(frequencyHz, durationMs);
}

EventSourceHandle OpenEventSource(const char16_t* sourceName) {
    return ToHandle<EventSourceHandle>(RegisterEventSourceW(nullptr, Wide(sourceName)));
}

void ReportInformationEvent(EventSourceHandle source, std::u16string_view text) {
    const std::wstring wide = WideString(text);
    const wchar_t* strings[] = {wide.c_str()};
    ReportEventW(ToNative<HANDLE>(source), EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings,
                 nullptr);
}

void CloseEventSource(EventSourceHandle source) {
    DeregisterEventSource(ToNative<HANDLE>(source));
}

void WriteStandardOutput(std::u16string_view text) {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::wstring wide = WideString(text);
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(),
                        length, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(output, narrow.data(), static_cast<DWORD>(narrow.size()), &written, nullptr);
}

bool InitializeCom() {
    return SUCCEEDED(CoInitialize(nullptr));
}

void UninitializeCom() {
    CoUninitialize();
}

}  // namespace platform
