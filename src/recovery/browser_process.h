#pragma once

// Executable names the engine looks for, compared whole and ignoring case.
inline constexpr char16_t kFirefoxName[] = u"firefox.exe";
inline constexpr char16_t kPaleMoonName[] = u"palemoon.exe";
inline constexpr char16_t kPluginHostName[] = u"plugin-container.exe";

#include <string_view>

// Whether an executable's name is one of the browser's, ignoring case.
bool IsBrowserProcessName(std::u16string_view name);

// True when a browser process runs. When none runs and "global" is off, requests the exit
// first. False without more ado when the process list cannot be obtained.
bool FindBrowserProcess();
