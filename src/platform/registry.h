#pragma once

#include <cstdint>

#include "platform/handles.h"

// The current user's registry, as RegOpenKeyExW and its siblings see it.
namespace platform {

inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegDword = 4;

enum class KeyAccess : std::uint32_t {
    kAll = 0xF003F,   // KEY_ALL_ACCESS
    kQuery = 0x0001,  // KEY_QUERY_VALUE
    kWrite = 0x20006  // KEY_WRITE
};

// Opens HKEY_CURRENT_USER\subkey; returns 0 and sets key, or the Windows error and leaves key.
std::int32_t OpenUserKey(const char16_t* subkey, KeyAccess access, KeyHandle& key);

// Creates or opens HKEY_CURRENT_USER\subkey (no class, non-volatile, full access, default
// security); returns 0 and sets key, or the Windows error and leaves key.
std::int32_t CreateUserKey(const char16_t* subkey, KeyHandle& key);

// Deletes HKEY_CURRENT_USER\subkey, which has no subkeys of its own; returns 0 or the Windows
// error (ERROR_FILE_NOT_FOUND when there is no such key).
std::int32_t DeleteUserKey(const char16_t* subkey);

// Reads one value: with data null only type and size are reported; otherwise at most size bytes
// are copied into data. size always receives the value's length; a value longer than the buffer
// gives ERROR_MORE_DATA. On any error type and data are unspecified.
std::int32_t QueryValue(KeyHandle key, const char16_t* name, std::uint32_t& type,
                        std::uint8_t* data, std::uint32_t& size);

// Writes one value with exactly size bytes of data; returns 0 or the Windows error.
std::int32_t SetValue(KeyHandle key, const char16_t* name, std::uint32_t type,
                      const std::uint8_t* data, std::uint32_t size);

// Deletes one value of the key; returns 0 or the Windows error (ERROR_FILE_NOT_FOUND when there
// is no such value).
std::int32_t DeleteValue(KeyHandle key, const char16_t* name);

// Commits the key's changes; returns 0 or the Windows error.
std::int32_t FlushKey(KeyHandle key);

// Releases the key handle.
void CloseKey(KeyHandle key);

}  // namespace platform
