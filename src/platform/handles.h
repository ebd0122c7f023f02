#pragma once

#include <cstdint>

namespace platform {

// A Windows handle carried across the seam as a plain number; 0 means none.
template <class Tag>
struct Handle {
    std::uintptr_t value = 0;

    explicit operator bool() const { return value != 0; }
    friend bool operator==(Handle, Handle) = default;
};

using WindowHandle = Handle<struct WindowTag>;
using KeyHandle = Handle<struct KeyTag>;
using ProcessHandle = Handle<struct ProcessTag>;
using ModuleHandle = Handle<struct ModuleTag>;
using TokenHandle = Handle<struct TokenTag>;
using MutexHandle = Handle<struct MutexTag>;
using EventHandle = Handle<struct EventTag>;
using ThreadHandle = Handle<struct ThreadTag>;
using EventSourceHandle = Handle<struct EventSourceTag>;

// Windows error numbers the logic tests for.
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;
inline constexpr std::uint32_t kErrorMoreData = 234;

}  // namespace platform
