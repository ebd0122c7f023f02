#include <windows.h>

#include "platform/threads.h"
#include "platform/wide_win.h"

namespace platform {

MutexHandle CreateNamedMutex(const char16_t* name, std::uint32_t& lastError) {
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, Wide(name));
    lastError = GetLastError();
    return ToHandle<MutexHandle>(mutex);
}

bool AcquireMutex(MutexHandle mutex, std::uint32_t timeoutMs) {
    const DWORD waited = WaitForSingleObject(ToNative<HANDLE>(mutex), timeoutMs);
    return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

void ReleaseOwnedMutex(MutexHandle mutex) {
    ReleaseMutex(ToNative<HANDLE>(mutex));
}

void CloseMutex(MutexHandle mutex) {
    CloseHandle(ToNative<HANDLE>(mutex));
}

EventHandle CreateNamedEvent(const char16_t* name) {
    return ToHandle<EventHandle>(CreateEventW(nullptr, TRUE, FALSE, Wide(name)));
}

EventHandle CreateManualResetEvent() {
    return ToHandle<EventHandle>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

void CloseEvent(EventHandle event) {
    CloseHandle(ToNative<HANDLE>(event));
}

void SignalEvent(EventHandle event) {
    SetEvent(ToNative<HANDLE>(event));
}

void ClearEvent(EventHandle event) {
    ResetEvent(ToNative<HANDLE>(event));
}

bool WaitForEvent(EventHandle event) {
    return WaitForSingleObject(ToNative<HANDLE>(event), INFINITE) == WAIT_OBJECT_0;
}

namespace {

struct ThreadStart {
    ThreadProcedure procedure;
    void* parameter;
};

DWORD WINAPI RunThread(LPVOID start) {
    const ThreadStart run = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    return run.procedure(run.parameter);
}

}  // namespace

ThreadHandle StartThread(ThreadProcedure procedure, void* parameter) {
    auto* start = new ThreadStart{procedure, parameter};
    const HANDLE thread = CreateThread(nullptr, 0, RunThread, start, 0, nullptr);
    if (thread == nullptr) {
        delete start;
    }
    return ToHandle<ThreadHandle>(thread);
}

void PauseFor(std::uint32_t milliseconds) {
    Sleep(milliseconds);
}

std::uint64_t TickCount() {
    return GetTickCount64();
}

void AwaitProcessEnd() {
    for (;;) {
        MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
        // Peeking delivers the messages sent to the thread's windows; posted ones stay queued.
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace platform
