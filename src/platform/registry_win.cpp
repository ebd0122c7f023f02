#include <windows.h>

#include "platform/registry.h"
#include "platform/wide_win.h"

namespace platform {

std::int32_t OpenUserKey(const char16_t* subkey, KeyAccess access, KeyHandle& key) {
    HKEY opened = nullptr;
    const LSTATUS status =
        RegOpenKeyExW(HKEY_CURRENT_USER, Wide(subkey), 0, static_cast<REGSAM>(access), &opened);
    if (status == ERROR_SUCCESS) {
        key = ToHandle<KeyHandle>(opened);
    }
    return status;
}

std::int32_t CreateUserKey(const char16_t* subkey, KeyHandle& key) {
    HKEY created = nullptr;
    const LSTATUS status =
        RegCreateKeyExW(HKEY_CURRENT_USER, Wide(subkey), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &created, nullptr);
    if (status == ERROR_SUCCESS) {
        key = ToHandle<KeyHandle>(created);
    }
    return status;
}

std::int32_t DeleteUserKey(const char16_t* subkey) {
    return RegDeleteKeyW(HKEY_CURRENT_USER, Wide(subkey));
}

std::int32_t QueryValue(KeyHandle key, const char16_t* name, std::uint32_t& type,
                        std::uint8_t* data, std::uint32_t& size) {
    DWORD valueType = 0;
    DWORD valueSize = size;
    const LSTATUS status =
        RegQueryValueExW(ToNative<HKEY>(key), Wide(name), nullptr, &valueType, data, &valueSize);
    type = valueType;
    size = valueSize;
    return status;
}

std::int32_t SetValue(KeyHandle key, const char16_t* name, std::uint32_t type,
                      const std::uint8_t* data, std::uint32_t size) {
    return RegSetValueExW(ToNative<HKEY>(key), Wide(name), 0, type, data, size);
}

std::int32_t DeleteValue(KeyHandle key, const char16_t* name) {
    return RegDeleteValueW(ToNative<HKEY>(key), Wide(name));
}

std::int32_t FlushKey(KeyHandle key) {
    return RegFlushKey(ToNative<HKEY>(key));
}

void CloseKey(KeyHandle key) {
    RegCloseKey(ToNative<HKEY>(key));
}

}  // namespace platform
