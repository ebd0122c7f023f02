#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/handles.h"

// The registry key shared with the add-on: settings in, status out. It is never held open;
// every operation opens it, does its reads or writes and closes it.

inline constexpr char16_t kQelmKey[] = u"SOFTWARE\\Qelm";

// Result codes in the Windows result-code form: 0 success, negative failure.
inline constexpr std::int32_t kEInvalidArg = static_cast<std::int32_t>(0x80070057);
inline constexpr std::int32_t kDispETypeMismatch = static_cast<std::int32_t>(0x80020005);
inline constexpr std::int32_t kEOutOfMemory = static_cast<std::int32_t>(0x8007000E);

// A registry error number e > 0 as the result code 0x80070000 | (e & 0xFFFF).
std::int32_t ResultFromRegistryError(std::int32_t error);

// Reads a REG_DWORD value straight into destination through a 4-byte buffer.
std::int32_t QueryDwordValue(platform::KeyHandle key, const char16_t* name,
                             std::int32_t* destination);

// Reads a REG_SZ value, with or without its terminator, into destination (emptied first).
std::int32_t QueryStringValue(platform::KeyHandle key, const char16_t* name,
                              std::u16string* destination);

// Writes a REG_DWORD value of 4 bytes; 0 or the Windows error.
std::int32_t SetDwordValue(platform::KeyHandle key, const char16_t* name, std::int32_t value);

// Writes a REG_SZ value without terminator: the byte count is 2 x the characters.
std::int32_t SetTextValue(platform::KeyHandle key, const char16_t* name, std::u16string_view text);

// Opens the key for writing; when it opens, writes what write does to it, flushes the key when
// that succeeded and closes it. Nothing happens when the key cannot be opened.
void WriteStatus(const std::function<std::int32_t(platform::KeyHandle)>& write);

// Creates the key with the fourteen default values; false when the key cannot be created or a
// value cannot be written (the values written before it stay).
bool CreateDefaultSettings();

// Loads the settings from the key in their fixed order, tracing each value, up to the first
// value that cannot be read. Requests the exit when the key cannot be opened.
void ReloadSettings();

// Reads "global" afresh and stores it in the settings; false when it cannot be read, leaving the
// in-memory flag as it was. Requests the exit when the key cannot be opened.
bool IsGlobalEnabled();

// IsGlobalEnabled for the exit itself, which must not request the exit again.
bool RefreshGlobalForExit();

// May the program keep running without a browser? Reads "global" afresh without storing the
// flag; shows the previous raw value in a box and answers false when it cannot be read.
bool dwSatelliteQELM();
