#pragma once

#include <string>
#include <string_view>

// Windows' wide characters are UTF-16 code units, the same as char16_t.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

namespace platform {

inline const wchar_t* Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

inline std::wstring WideString(std::u16string_view text) {
    return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

template <class Handle, class Native>
Handle ToHandle(Native native) {
    return Handle{reinterpret_cast<std::uintptr_t>(native)};
}

template <class Native, class Handle>
Native ToNative(Handle handle) {
    return reinterpret_cast<Native>(handle.value);
}

}  // namespace platform
