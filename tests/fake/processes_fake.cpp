#include <algorithm>
#include <cstdio>

#include "fake/world.h"
#include "platform/processes.h"

namespace platform {

namespace {

constexpr std::uintptr_t kOwnProcessPseudoHandle = static_cast<std::uintptr_t>(-1);
constexpr std::uint32_t kFullAccess = 0x1F0FFF;

const fake::Process* ProcessOf(ProcessHandle handle) {
    auto& world = fake::TheWorld();
    const auto open = world.openProcesses.find(handle.value);
    if (open == world.openProcesses.end()) {
        return nullptr;
    }
    for (const auto& process : world.processes) {
        if (process.id == open->second) {
            return &process;
        }
    }
    return nullptr;
}

std::string Describe(ProcessHandle handle) {
    if (handle.value == kOwnProcessPseudoHandle) {
        return "self";
    }
    const auto& open = fake::TheWorld().openProcesses;
    const auto found = open.find(handle.value);
    return found == open.end() ? "stale" : std::to_string(found->second);
}

char16_t Fold(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? c - u'A' + u'a' : c;
}

}  // namespace

bool ListProcessIds(std::uint32_t* ids, std::uint32_t bufferBytes, std::uint32_t& bytesReturned) {
    const auto lock = fake::Lock();
    auto& world = fake::TheWorld();
    fake::Record("EnumProcesses " + std::to_string(bufferBytes));
    if (world.processListFails) {
        return false;
    }
    const std::size_t count = std::min<std::size_t>(world.processes.size(), bufferBytes / 4);
    for (std::size_t i = 0; i < count; ++i) {
        ids[i] = world.processes[i].id;
    }
    bytesReturned = static_cast<std::uint32_t>(count * 4);
    return true;
}

std::uint32_t OpenProcessOrError(std::uint32_t access, std::uint32_t processId,
                                 ProcessHandle& opened) {
    const auto lock = fake::Lock();
    auto& world = fake::TheWorld();
    fake::Record("OpenProcess " + fake::Hex(access) + " " + std::to_string(processId));
    for (const auto& process : world.processes) {
        if (process.id != processId || processId == 0) {
            continue;
        }
        const bool allowed = access == kFullAccess ? process.openable : process.queryOpenable;
        if (!allowed) {
            return kErrorAccessDenied;
        }
        opened = ProcessHandle{fake::NewHandle()};
        world.openProcesses[opened.value] = processId;
        return 0;
    }
    return kErrorInvalidParameter;
}

ProcessHandle OpenProcessById(std::uint32_t access, std::uint32_t processId) {
    ProcessHandle process;
    OpenProcessOrError(access, processId, process);
    return process;
}

bool ReadExitCode(ProcessHandle process, std::uint32_t& exitCode) {
    const auto lock = fake::Lock();
    if (const fake::Process* found = ProcessOf(process)) {
        exitCode = found->ended ? 0 : kStillActive;
        return true;
    }
    return false;
}

bool FirstModule(ProcessHandle process, ModuleHandle& module) {
    const auto lock = fake::Lock();
    const fake::Process* found = ProcessOf(process);
    if (found == nullptr || !found->modulesReadable) {
        return false;
    }
    module = ModuleHandle{0x400000};
    return true;
}

std::uint32_t ModuleBaseName(ProcessHandle process, ModuleHandle, char16_t* buffer,
                             std::uint32_t capacity) {
    const auto lock = fake::Lock();
    const fake::Process* found = ProcessOf(process);
    if (found == nullptr || !found->modulesReadable || found->name.empty() || capacity == 0) {
        return 0;
    }
    const auto length = std::min<std::size_t>(found->name.size(), capacity - 1);
    std::copy_n(found->name.begin(), length, buffer);
    buffer[length] = u'\0';
    return static_cast<std::uint32_t>(length);
}

void CloseProcess(ProcessHandle process) {
    const auto lock = fake::Lock();
    auto& world = fake::TheWorld();
    fake::Record("CloseHandle " + Describe(process));
    world.openProcesses.erase(process.value);
}

bool TrimWorkingSet(ProcessHandle process) {
    std::function<void(std::uint32_t)> onTrim;
    std::uint32_t trimmed = 0;
    bool refused = false;
    {
        const auto lock = fake::Lock();
        fake::Record("EmptyWorkingSet " + Describe(process));
        onTrim = fake::TheWorld().onTrim;
        if (process.value == kOwnProcessPseudoHandle) {
            trimmed = fake::TheWorld().ownProcessId;
        } else if (const fake::Process* found = ProcessOf(process)) {
            trimmed = found->id;
            refused = found->trimRefused;
        } else {
            refused = true;
        }
    }
    if (onTrim) {
        onTrim(trimmed);
    }
    return !refused;
}

ProcessHandle OwnProcess() {
    const auto lock = fake::Lock();
    return ProcessHandle{kOwnProcessPseudoHandle};
}

TokenHandle OpenOwnToken(std::uint32_t access) {
    const auto lock = fake::Lock();
    fake::Record("OpenProcessToken " + fake::Hex(access));
    return TokenHandle{fake::NewHandle()};
}

bool LookupPrivilege(const char16_t* name, std::uint64_t& luid) {
    const auto lock = fake::Lock();
    fake::Record("LookupPrivilegeValue " + fake::Narrow(name));
    luid = 20;
    return true;
}

bool AdjustPrivilege(TokenHandle, std::uint64_t luid, std::uint32_t attributes) {
    const auto lock = fake::Lock();
    auto& world = fake::TheWorld();
    fake::Record("AdjustTokenPrivileges " + std::to_string(luid) + " " +
                 std::to_string(attributes));
    world.debugPrivilegeEnabled = luid == 20 && attributes == 2;
    return true;
}

void CloseToken(TokenHandle) {
    const auto lock = fake::Lock();
    fake::Record("CloseHandle token");
}

bool EqualIgnoringCaseLocale(const char16_t* a, const char16_t* b) {
    const auto lock = fake::Lock();
    const std::u16string_view left(a);
    const std::u16string_view right(b);
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(),
                      [](char16_t x, char16_t y) { return Fold(x) == Fold(y); });
}

bool WorkingSetBytes(ProcessHandle process, std::uint64_t& bytes) {
    const auto lock = fake::Lock();
    fake::Record("GetProcessMemoryInfo " + Describe(process));
    const fake::Process* found = ProcessOf(process);
    if (found == nullptr || !found->countersReadable) {
        return false;
    }
    bytes = found->workingSetBytes;
    return true;
}

bool ReadMemoryCounters(ProcessHandle process, MemoryCounters& counters) {
    const auto lock = fake::Lock();
    fake::Record("GetProcessMemoryInfo " + Describe(process));
    const fake::Process* found = ProcessOf(process);
    if (found == nullptr || !found->countersReadable) {
        return false;
    }
    counters = {found->workingSetBytes, found->privateBytes, found->privateWorkingSetBytes};
    return true;
}

bool QueryMemoryStatus(MemoryStatus& status) {
    const auto lock = fake::Lock();
    fake::Record("GlobalMemoryStatusEx");
    if (const auto reading = fake::TheWorld().onMemoryStatus) {
        reading();
    }
    if (fake::TheWorld().memoryStatusFails) {
        return false;
    }
    status = fake::TheWorld().memoryStatus;
    return true;
}

namespace {

const fake::Process* ProcessWithId(std::uint32_t processId) {
    for (const auto& process : fake::TheWorld().processes) {
        if (process.id == processId) {
            return &process;
        }
    }
    return nullptr;
}

}  // namespace

bool ProcessFootprint(std::uint32_t processId, Footprint& footprint) {
    const auto lock = fake::Lock();
    fake::Record("ProcessFootprint " + std::to_string(processId));
    const fake::Process* process = ProcessWithId(processId);
    if (process == nullptr || !process->queryOpenable || !process->countersReadable) {
        return false;
    }
    footprint = Footprint{};
    footprint.workingSetBytes = process->workingSetBytes;
    return true;
}

std::u16string OwnDirectory() {
    return fake::TheWorld().ownDirectory;
}

std::uint32_t StartProgram(const std::u16string& path, bool breakAwayFromJob,
                           std::uint32_t& processId, std::uint32_t) {
    std::function<std::uint32_t(const std::u16string&)> started;
    {
        const auto lock = fake::Lock();
        auto& world = fake::TheWorld();
        fake::Record("CreateProcess " + fake::Narrow(path) +
                     (breakAwayFromJob ? " breakaway" : ""));
        if (world.programsFail) {
            return 2;  // ERROR_FILE_NOT_FOUND
        }
        processId = world.nextProgramId++;
        started = world.onProgramStarted;
    }
    if (const std::uint32_t added = started ? started(path) : 0; added != 0) {
        processId = added;
    }
    return kErrorSuccess;
}

bool WaitForProcessEnd(std::uint32_t processId, std::uint32_t timeoutMs) {
    const auto lock = fake::Lock();
    fake::Record("WaitForProcessEnd " + std::to_string(processId) + " " +
                 std::to_string(timeoutMs));
    if (ProcessWithId(processId) != nullptr) {
        fake::TheWorld().virtualTimeMs += timeoutMs;
        return false;
    }
    return true;
}

}  // namespace platform
