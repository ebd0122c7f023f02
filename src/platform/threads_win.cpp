#include <windows.h>

#include "platform/threads.h"
#include "platform/wide_win.h"

namespace platform {

MutexHandle CreateNamedMutex(const char16_t* name, std::uint32_t& lastError) {
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, Wide(name));
    lastError = GetLastError();
    return ToHandle<MutexHandle>(mutex);
}

EventHandle CreateManualResetEvent() {
    return ToHandle<EventHandle>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

void CloseEvent(EventHandle event) {
    CloseHandle(ToNative<HANDLE>(event));
}

}  // namespace platform
