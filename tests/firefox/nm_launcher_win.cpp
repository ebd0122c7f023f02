// nm_launcher.exe HOST [ARGUMENTS...]: runs a native-messaging host as Firefox for Windows runs it,
// for a Firefox that runs under another system. The browser starts this program in place of the
// host; it starts the host in a job of its own with pipes for its standard handles, relays the
// bytes both ways unchanged, and ends as Firefox for Windows would: when its own input ends it
// closes the host's input, gives the host 3 s to end and kills it otherwise; once the host has
// ended, whoever ended it, it terminates the host's job and ends with the host's exit code.

#include <windows.h>

#include <string>

#include "support/firefox_launch_win.h"

namespace {

// How long the host's last output may take to come through once the host has ended. A process
// that holds the host's output pipe after the host's end keeps it from ending at all.
constexpr DWORD kLastOutputWaitMs = 1000;

firefox::NativeHost g_host;

struct Relay {
    HANDLE from;
    HANDLE to;
};

// Copies bytes until the source ends; answers whether the destination took them all.
bool Copy(const Relay& relay) {
    static thread_local char buffer[64 * 1024];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(relay.from, buffer, sizeof buffer, &got, nullptr) || got == 0) {
            return true;
        }
        for (DWORD sent = 0; sent < got;) {
            DWORD count = 0;
            if (!WriteFile(relay.to, buffer + sent, got - sent, &count, nullptr) || count == 0) {
                return false;
            }
            sent += count;
        }
    }
}

DWORD WINAPI RelayOutput(LPVOID relay) {
    Copy(*static_cast<Relay*>(relay));
    return 0;
}

// The browser's side of the port: when it closes, the host is asked to end by the end of its
// input, and killed when it does not.
DWORD WINAPI RelayInput(LPVOID relay) {
    Copy(*static_cast<Relay*>(relay));
    firefox::CloseNativeHost(g_host);
    return 0;
}

HANDLE StartRelay(LPTHREAD_START_ROUTINE routine, Relay* relay) {
    return CreateThread(nullptr, 0, routine, relay, 0, nullptr);
}

std::wstring HostArguments(int count, wchar_t** arguments) {
    std::wstring joined;
    for (int i = 2; i < count; ++i) {
        joined += (i > 2 ? L" \"" : L"\"") + std::wstring(arguments[i]) + L"\"";
    }
    return joined;
}

}  // namespace

int wmain(int count, wchar_t** arguments) {
    if (count < 2) {
        return 2;
    }
    if (!firefox::StartNativeHost(arguments[1], HostArguments(count, arguments),
                                  firefox::kHostJobLimits, g_host)) {
        return 3;
    }
    Relay input{GetStdHandle(STD_INPUT_HANDLE), g_host.input};
    Relay output{g_host.output, GetStdHandle(STD_OUTPUT_HANDLE)};
    Relay error{g_host.error, GetStdHandle(STD_ERROR_HANDLE)};
    StartRelay(RelayInput, &input);
    const HANDLE outputRelay = StartRelay(RelayOutput, &output);
    StartRelay(RelayOutput, &error);
    WaitForSingleObject(g_host.process, INFINITE);
    firefox::TerminateHostJob(g_host);
    WaitForSingleObject(outputRelay, kLastOutputWaitMs);
    DWORD exitCode = 0;
    GetExitCodeProcess(g_host.process, &exitCode);
    // The relays may still be blocked in reads and writes; ending the process ends them.
    ExitProcess(exitCode);
}
