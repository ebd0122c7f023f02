// nm_launcher.exe HOST [ARGUMENTS...]: runs a native-messaging host as Firefox for Windows runs it,
// for a Firefox that runs under another system. The browser starts this program in place of the
// host; it starts the host in a job of its own with pipes for its standard handles, relays the
// bytes both ways unchanged, and ends as Firefox for Windows would: when its own input ends it
// closes the host's input, gives the host 3 s to end and kills it otherwise; once the host has
// ended, whoever ended it, it terminates the host's job and ends with the host's exit code.
// With NM_LAUNCHER_LOG naming a file, it appends each message that passes, one a line: the time
// in milliseconds since 1970, its own process id, ">" for the browser's and "<" for the host's,
// and the message's JSON.

#include <windows.h>

#include <cstdint>
#include <string>

#include "support/firefox_launch_win.h"

namespace {

// How long the host's last output may take to come through once the host has ended. A process
// that holds the host's output pipe after the host's end keeps it from ending at all.
constexpr DWORD kLastOutputWaitMs = 1000;

firefox::NativeHost g_host;

HANDLE g_log = INVALID_HANDLE_VALUE;

void OpenLog() {
    wchar_t path[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"NM_LAUNCHER_LOG", path, MAX_PATH) != 0) {
        g_log = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
}

std::uint64_t UnixMilliseconds() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks = (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    constexpr std::uint64_t kTicksFrom1601To1970 = 116444736000000000;
    return (ticks - kTicksFrom1601To1970) / 10000;
}

// Cuts one direction's bytes into messages (a 32-bit little-endian length, then the JSON) and logs
// each whole message in one write, so that lines of several launchers do not mix.
class MessageLog {
  public:
    explicit MessageLog(char direction) : direction_(direction) {}

    void Take(const char* bytes, DWORD count) {
        if (g_log == INVALID_HANDLE_VALUE) {
            return;
        }
        pending_.append(bytes, count);
        while (pending_.size() >= 4) {
            std::uint32_t length = 0;
            for (int i = 3; i >= 0; --i) {
                length = (length << 8) | static_cast<unsigned char>(pending_[i]);
            }
            if (pending_.size() < 4 + std::size_t{length}) {
                return;
            }
            const std::string line = std::to_string(UnixMilliseconds()) + " " +
                                     std::to_string(GetCurrentProcessId()) + " " + direction_ +
                                     " " + pending_.substr(4, length) + "\n";
            DWORD written = 0;
            WriteFile(g_log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            pending_.erase(0, 4 + std::size_t{length});
        }
    }

  private:
    char direction_;
    std::string pending_;
};

struct Relay {
    HANDLE from;
    HANDLE to;
    MessageLog* log = nullptr;
};

// Copies bytes until the source ends or the destination takes no more.
void Copy(const Relay& relay) {
    static thread_local char buffer[64 * 1024];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(relay.from, buffer, sizeof buffer, &got, nullptr) || got == 0) {
            return;
        }
        if (relay.log != nullptr) {
            relay.log->Take(buffer, got);
        }
        for (DWORD sent = 0; sent < got;) {
            DWORD count = 0;
            if (!WriteFile(relay.to, buffer + sent, got - sent, &count, nullptr) || count == 0) {
                return;
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
    OpenLog();
    MessageLog browserMessages('>');
    MessageLog hostMessages('<');
    Relay input{GetStdHandle(STD_INPUT_HANDLE), g_host.input, &browserMessages};
    Relay output{g_host.output, GetStdHandle(STD_OUTPUT_HANDLE), &hostMessages};
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
