#include <windows.h>

#include <psapi.h>

#include "platform/processes.h"
#include "platform/wide_win.h"

namespace platform {

bool ListProcessIds(std::uint32_t* ids, std::uint32_t bufferBytes, std::uint32_t& bytesReturned) {
    static_assert(sizeof(DWORD) == sizeof(std::uint32_t));
    DWORD filled = 0;
    if (!EnumProcesses(reinterpret_cast<DWORD*>(ids), bufferBytes, &filled)) {
        return false;
    }
    bytesReturned = filled;
    return true;
}

ProcessHandle OpenProcessById(std::uint32_t access, std::uint32_t processId) {
    return ToHandle<ProcessHandle>(OpenProcess(access, FALSE, processId));
}

bool FirstModule(ProcessHandle process, ModuleHandle& module) {
    HMODULE first = nullptr;
    DWORD needed = 0;
    if (!EnumProcessModules(ToNative<HANDLE>(process), &first, sizeof(first), &needed)) {
        return false;
    }
    module = ToHandle<ModuleHandle>(first);
    return true;
}

std::uint32_t ModuleBaseName(ProcessHandle process, ModuleHandle module, char16_t* buffer,
                             std::uint32_t capacity) {
    if (capacity == 0) {
        return 0;
    }
    // GetModuleBaseNameW leaves a name it cuts unterminated (and some versions terminate it one
    // past the size given), so it gets one character less than the buffer holds.
    const DWORD length = GetModuleBaseNameW(ToNative<HANDLE>(process), ToNative<HMODULE>(module),
                                            reinterpret_cast<wchar_t*>(buffer), capacity - 1);
    const DWORD copied = length < capacity ? length : capacity - 1;
    buffer[copied] = u'\0';
    return copied;
}

bool WorkingSetBytes(ProcessHandle process, std::uint64_t& bytes) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(ToNative<HANDLE>(process), &counters, sizeof counters)) {
        return false;
    }
    bytes = counters.WorkingSetSize;
    return true;
}

bool QueryMemoryStatus(MemoryStatus& status) {
    MEMORYSTATUSEX memory{};
    memory.dwLength = sizeof memory;
    if (!GlobalMemoryStatusEx(&memory)) {
        return false;
    }
    status.memoryLoad = memory.dwMemoryLoad;
    status.totalPhysical = memory.ullTotalPhys;
    status.availablePhysical = memory.ullAvailPhys;
    status.totalPageFile = memory.ullTotalPageFile;
    status.availablePageFile = memory.ullAvailPageFile;
    status.totalVirtual = memory.ullTotalVirtual;
    status.availableVirtual = memory.ullAvailVirtual;
    return true;
}

void CloseProcess(ProcessHandle process) {
    CloseHandle(ToNative<HANDLE>(process));
}

bool TrimWorkingSet(ProcessHandle process) {
    return EmptyWorkingSet(ToNative<HANDLE>(process)) != FALSE;
}

ProcessHandle OwnProcess() {
    return ToHandle<ProcessHandle>(GetCurrentProcess());
}

TokenHandle OpenOwnToken(std::uint32_t access) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), access, &token)) {
        return {};
    }
    return ToHandle<TokenHandle>(token);
}

bool LookupPrivilege(const char16_t* name, std::uint64_t& luid) {
    LUID found{};
    if (!LookupPrivilegeValueW(nullptr, Wide(name), &found)) {
        return false;
    }
    luid = (std::uint64_t{static_cast<std::uint32_t>(found.HighPart)} << 32) | found.LowPart;
    return true;
}

bool AdjustPrivilege(TokenHandle token, std::uint64_t luid, std::uint32_t attributes) {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid.LowPart = static_cast<DWORD>(luid & 0xFFFFFFFFu);
    privileges.Privileges[0].Luid.HighPart = static_cast<LONG>(luid >> 32);
    privileges.Privileges[0].Attributes = attributes;
    return AdjustTokenPrivileges(ToNative<HANDLE>(token), FALSE, &privileges, 0, nullptr,
                                 nullptr) != FALSE;
}

void CloseToken(TokenHandle token) {
    CloseHandle(ToNative<HANDLE>(token));
}

bool EqualIgnoringCaseLocale(const char16_t* a, const char16_t* b) {
    return lstrcmpiW(Wide(a), Wide(b)) == 0;
}

namespace {

std::uint64_t Milliseconds(const FILETIME& time) {
    const std::uint64_t ticks =
        (std::uint64_t{time.dwHighDateTime} << 32) | std::uint64_t{time.dwLowDateTime};
    return ticks / 10000;
}

}  // namespace

bool ProcessFootprint(std::uint32_t processId, Footprint& footprint) {
    const HANDLE process =
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == nullptr) {
        return false;
    }
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    DWORD handles = 0;
    FILETIME created{}, exited{}, kernel{}, user{};
    const bool measured =
        GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters) &&
        GetProcessHandleCount(process, &handles) &&
        GetProcessTimes(process, &created, &exited, &kernel, &user);
    if (measured) {
        footprint.workingSetBytes = counters.WorkingSetSize;
        footprint.privateBytes = counters.PrivateUsage;
        footprint.handles = handles;
        footprint.gdiObjects = GetGuiResources(process, GR_GDIOBJECTS);
        footprint.userObjects = GetGuiResources(process, GR_USEROBJECTS);
        footprint.cpuTimeMs = Milliseconds(kernel) + Milliseconds(user);
    }
    CloseHandle(process);
    return measured;
}

std::u16string OwnDirectory() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::u16string directory(reinterpret_cast<const char16_t*>(path), length);
    const auto separator = directory.find_last_of(u"\\/");
    return separator == std::u16string::npos ? std::u16string() : directory.substr(0, separator);
}

bool StartProgram(const std::u16string& path, std::uint32_t& processId, std::uint32_t readyWaitMs) {
    std::wstring commandLine = L"\"" + WideString(path) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(Wide(path.c_str()), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &started)) {
        return false;
    }
    CloseHandle(started.hThread);
    WaitForInputIdle(started.hProcess, readyWaitMs);
    CloseHandle(started.hProcess);
    processId = started.dwProcessId;
    return true;
}

bool WaitForProcessEnd(std::uint32_t processId, std::uint32_t timeoutMs) {
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (process == nullptr) {
        return true;
    }
    const bool ended = WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

}  // namespace platform
