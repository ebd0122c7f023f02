// bench_probe.exe: the measuring end of the soak and the benchmarks, run under Wine beside the
// companion. Each command prints plain lines a script can read.
//   sleep                     does nothing, for ever: the idle reference and the "other" processes
//   spawn N                   starts N copies of itself that sleep, then ends
//   processes                 prints how many processes are running
//   tab CLASS REPEATS         sends a tab selection to the window of CLASS REPEATS times and
//                             prints the reply times in microseconds: min, median, max
//   windows PID               lists the top-level windows of the process: class, visible, title
//   reaction NAME CLASS       ends the process named NAME and prints the milliseconds until the
//                             process owning the window of CLASS has ended too
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <psapi.h>

#include "app/messages.h"

namespace {

int Usage() {
    std::fputs(
        "usage: bench_probe sleep | spawn N | processes | tab CLASS REPEATS | windows PID | "
        "reaction NAME CLASS\n",
        stderr);
    return 2;
}

double Microseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1e6 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

int Spawn(int count) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    int started = 0;
    for (int i = 0; i < count; ++i) {
        std::wstring commandLine = L"\"" + std::wstring(self) + L"\" sleep";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &process)) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
            ++started;
        }
    }
    std::printf("started %d\n", started);
    return started == count ? 0 : 1;
}

int CountProcesses() {
    DWORD ids[4096];
    DWORD bytes = 0;
    if (!EnumProcesses(ids, sizeof ids, &bytes)) {
        return 1;
    }
    std::printf("processes: %u\n", static_cast<unsigned>(bytes / sizeof(DWORD)));
    return 0;
}

int Tab(const wchar_t* windowClass, int repeats) {
    const HWND window = FindWindowW(windowClass, nullptr);
    if (window == nullptr) {
        std::puts("no window of that class");
        return 3;
    }
    const UINT message = RegisterWindowMessageW(reinterpret_cast<const wchar_t*>(kQelmMessageName));
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        LARGE_INTEGER before, after;
        QueryPerformanceCounter(&before);
        SendMessageW(window, message, 3, 3);
        QueryPerformanceCounter(&after);
        times.push_back(Microseconds(before, after));
    }
    std::sort(times.begin(), times.end());
    std::printf("tab us: %.0f %.0f %.0f\n", times.front(), times[times.size() / 2], times.back());
    return 0;
}

BOOL CALLBACK PrintWindowOfProcess(HWND window, LPARAM processId) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == static_cast<DWORD>(processId)) {
        wchar_t className[256] = {}, title[256] = {};
        GetClassNameW(window, className, 256);
        GetWindowTextW(window, title, 256);
        std::printf("%ls\t%d\t%ls\n", className, IsWindowVisible(window) ? 1 : 0, title);
    }
    return TRUE;
}

int Windows(DWORD processId) {
    EnumWindows(PrintWindowOfProcess, static_cast<LPARAM>(processId));
    return 0;
}

DWORD ProcessIdByName(const wchar_t* name) {
    DWORD ids[4096];
    DWORD bytes = 0;
    if (!EnumProcesses(ids, sizeof ids, &bytes)) {
        return 0;
    }
    for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
        const HANDLE process =
            OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
        if (process == nullptr) {
            continue;
        }
        wchar_t baseName[MAX_PATH] = {};
        // One short of the buffer: a cut name is left unterminated.
        GetModuleBaseNameW(process, nullptr, baseName, MAX_PATH - 1);
        CloseHandle(process);
        if (lstrcmpiW(baseName, name) == 0) {
            return ids[i];
        }
    }
    return 0;
}

int Reaction(const wchar_t* browserName, const wchar_t* windowClass) {
    DWORD companionId = 0;
    GetWindowThreadProcessId(FindWindowW(windowClass, nullptr), &companionId);
    const HANDLE companion = OpenProcess(SYNCHRONIZE, FALSE, companionId);
    const HANDLE browser = OpenProcess(PROCESS_TERMINATE, FALSE, ProcessIdByName(browserName));
    if (companion == nullptr || browser == nullptr) {
        std::puts("the browser or the companion is not running");
        return 3;
    }
    LARGE_INTEGER before, after;
    QueryPerformanceCounter(&before);
    TerminateProcess(browser, 0);
    const bool ended = WaitForSingleObject(companion, 30000) == WAIT_OBJECT_0;
    QueryPerformanceCounter(&after);
    CloseHandle(browser);
    CloseHandle(companion);
    if (!ended) {
        std::puts("the companion was still running after 30 s");
        return 1;
    }
    std::printf("reaction ms: %.0f\n", Microseconds(before, after) / 1000);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"sleep" && argc == 2) {
        Sleep(INFINITE);
        return 0;
    }
    if (command == L"spawn" && argc == 3) {
        return Spawn(_wtoi(argv[2]));
    }
    if (command == L"processes" && argc == 2) {
        return CountProcesses();
    }
    if (command == L"tab" && argc == 4) {
        return Tab(argv[2], std::max(1, _wtoi(argv[3])));
    }
    if (command == L"windows" && argc == 3) {
        return Windows(static_cast<DWORD>(_wtoi(argv[2])));
    }
    if (command == L"reaction" && argc == 4) {
        return Reaction(argv[2], argv[3]);
    }
    return Usage();
}
