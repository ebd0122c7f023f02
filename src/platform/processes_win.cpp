#include <windows.h>

#include <psapi.h>

#include <vector>

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

std::uint32_t OpenProcessOrError(std::uint32_t access, std::uint32_t processId,
                                 ProcessHandle& process) {
    const HANDLE opened = OpenProcess(access, FALSE, processId);
    if (opened == nullptr) {
        return GetLastError();
    }
    process = ToHandle<ProcessHandle>(opened);
    return 0;
}

bool ReadExitCode(ProcessHandle process, std::uint32_t& exitCode) {
    DWORD code = 0;
    if (!GetExitCodeProcess(ToNative<HANDLE>(process), &code)) {
        return false;
    }
    exitCode = code;
    return true;
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

namespace {

// PROCESS_MEMORY_COUNTERS_EX2 of Windows 10 22H2 and Windows 11 22H2 with the September 2023
// cumulative update, which MinGW's psapi.h does not declare yet.
struct MemoryCountersEx2 {
    PROCESS_MEMORY_COUNTERS_EX ex;
    SIZE_T PrivateWorkingSetSize;
    ULONG64 SharedCommitUsage;
};

}  // namespace

bool ReadMemoryCounters(ProcessHandle process, MemoryCounters& counters) {
    const HANDLE handle = ToNative<HANDLE>(process);
    // A system that does not know the larger structure fills the part it knows and says so in
    // cb, or refuses the size; then the smaller one is asked for.
    MemoryCountersEx2 read{};
    read.ex.cb = sizeof read;
    if (!GetProcessMemoryInfo(handle, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&read),
                              sizeof read)) {
        read = MemoryCountersEx2{};
        read.ex.cb = sizeof read.ex;
        if (!GetProcessMemoryInfo(handle, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&read.ex),
                                  sizeof read.ex)) {
            return false;
        }
    }
    counters.workingSetBytes = read.ex.WorkingSetSize;
    counters.privateBytes = read.ex.PrivateUsage;
    counters.privateWorkingSetBytes = read.ex.cb >= sizeof read
                                          ? std::optional<std::uint64_t>(read.PrivateWorkingSetSize)
                                          : std::nullopt;
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
    // A long install folder does not fit MAX_PATH: grow the buffer until the whole path fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const auto separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos
               ? std::u16string()
               : std::u16string(reinterpret_cast<const char16_t*>(path.data()), separator);
}

namespace {

// The null device, inheritable, so that a started program gets standard handles of its own.
HANDLE OpenNullDevice(DWORD access) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    return CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                       OPEN_EXISTING, 0, nullptr);
}

}  // namespace

std::uint32_t StartProgram(const std::u16string& path, bool breakAwayFromJob,
                           std::uint32_t& processId, std::uint32_t readyWaitMs) {
    const HANDLE nullInput = OpenNullDevice(GENERIC_READ);
    const HANDLE nullOutput = OpenNullDevice(GENERIC_WRITE);
    // Exactly these two are inherited: with inheritance on and no list, every inheritable handle
    // of this process would go too, its own standard handles and any that its parent passed it
    // unasked. The list alone decides, so this process's handles keep their own inheritance.
    HANDLE inherited[] = {nullInput, nullOutput};
    SIZE_T listBytes = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listBytes);
    std::vector<char> listStorage(listBytes);
    const auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listStorage.data());
    const bool listed = nullInput != INVALID_HANDLE_VALUE && nullOutput != INVALID_HANDLE_VALUE &&
                        InitializeProcThreadAttributeList(list, 1, 0, &listBytes) &&
                        UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                  inherited, sizeof inherited, nullptr, nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = nullInput;
    startup.StartupInfo.hStdOutput = nullOutput;
    startup.StartupInfo.hStdError = nullOutput;
    startup.lpAttributeList = list;
    std::wstring commandLine = L"\"" + WideString(path) + L"\"";
    PROCESS_INFORMATION started{};
    const DWORD flags =
        EXTENDED_STARTUPINFO_PRESENT | (breakAwayFromJob ? CREATE_BREAKAWAY_FROM_JOB : 0);
    const bool created =
        listed && CreateProcessW(Wide(path.c_str()), commandLine.data(), nullptr, nullptr, TRUE,
                                 flags, nullptr, nullptr, &startup.StartupInfo, &started);
    const DWORD error = created ? ERROR_SUCCESS : GetLastError();
    if (listed) {
        DeleteProcThreadAttributeList(list);
    }
    for (const HANDLE handle : {nullInput, nullOutput}) {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
    if (!created) {
        return error;
    }
    CloseHandle(started.hThread);
    WaitForInputIdle(started.hProcess, readyWaitMs);
    CloseHandle(started.hProcess);
    processId = started.dwProcessId;
    return ERROR_SUCCESS;
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
