#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/handles.h"

// Processes of the machine and the own process, as the process-status API sees them.
namespace platform {

// Fills ids (room for bufferBytes / 4 identifiers) and sets bytesReturned to the bytes filled;
// false when the list cannot be obtained, with ids and bytesReturned untouched.
bool ListProcessIds(std::uint32_t* ids, std::uint32_t bufferBytes, std::uint32_t& bytesReturned);

// Opens a process by identifier with the given access, not inheritable; none on failure.
ProcessHandle OpenProcessById(std::uint32_t access, std::uint32_t processId);

// Opens a process like OpenProcessById; answers 0, or the Windows error with process untouched:
// kErrorInvalidParameter when no process has the identifier.
std::uint32_t OpenProcessOrError(std::uint32_t access, std::uint32_t processId,
                                 ProcessHandle& process);

// The exit code GetExitCodeProcess gives while a process runs.
inline constexpr std::uint32_t kStillActive = 259;

// Reads the process's exit code (GetExitCodeProcess); false and exitCode untouched on failure.
bool ReadExitCode(ProcessHandle process, std::uint32_t& exitCode);

// Yields the process's first module, its executable; false and module untouched on failure.
bool FirstModule(ProcessHandle process, ModuleHandle& module);

// Copies the file name of the module (none: the executable) into buffer, cut to capacity - 1
// characters and terminated; returns the characters copied, 0 on failure.
std::uint32_t ModuleBaseName(ProcessHandle process, ModuleHandle module, char16_t* buffer,
                             std::uint32_t capacity);

// The process's current working-set size in bytes (GetProcessMemoryInfo); false and bytes
// untouched when the counters cannot be read.
bool WorkingSetBytes(ProcessHandle process, std::uint64_t& bytes);

// What GetProcessMemoryInfo tells of a process's memory.
struct MemoryCounters {
    std::uint64_t workingSetBytes = 0;
    std::uint64_t privateBytes = 0;  // PrivateUsage: the private memory committed
    // PrivateWorkingSetSize: the private part of the working set, where the platform offers it
    // (Windows 10 22H2 and Windows 11 22H2 with the September 2023 cumulative update, and later).
    std::optional<std::uint64_t> privateWorkingSetBytes;
};

// Reads the process's memory counters; false and counters untouched when they cannot be read.
bool ReadMemoryCounters(ProcessHandle process, MemoryCounters& counters);

// The machine's memory status (GlobalMemoryStatusEx).
struct MemoryStatus {
    std::uint32_t memoryLoad = 0;  // percent of physical memory in use
    std::uint64_t totalPhysical = 0;
    std::uint64_t availablePhysical = 0;
    std::uint64_t totalPageFile = 0;
    std::uint64_t availablePageFile = 0;
    std::uint64_t totalVirtual = 0;  // of the own process's user-mode address space
    std::uint64_t availableVirtual = 0;
};

// Fills status; false when the platform refuses, with status untouched.
bool QueryMemoryStatus(MemoryStatus& status);

// What a process costs the machine.
struct Footprint {
    std::uint64_t workingSetBytes = 0;
    std::uint64_t privateBytes = 0;
    std::uint32_t handles = 0;
    std::uint32_t gdiObjects = 0;
    std::uint32_t userObjects = 0;
    std::uint64_t cpuTimeMs = 0;  // kernel and user time together
};

// Measures the process with the identifier; false and footprint untouched when it cannot be
// opened or measured.
bool ProcessFootprint(std::uint32_t processId, Footprint& footprint);

// The folder of the running program's executable, without a trailing separator.
std::u16string OwnDirectory();

// Starts the program at path without arguments, with standard handles of its own that lead to
// the null device and no other handle of the caller, and, when breakAwayFromJob is set, outside
// the caller's job (CREATE_BREAKAWAY_FROM_JOB); sets processId and waits at most readyWaitMs
// until the program waits for input (WaitForInputIdle) or ends. Answers 0, or the Windows error
// with processId untouched: kErrorAccessDenied when the caller's job does not allow breakaway.
std::uint32_t StartProgram(const std::u16string& path, bool breakAwayFromJob,
                           std::uint32_t& processId, std::uint32_t readyWaitMs);

// Waits at most timeoutMs for the process to end; true when it has ended or does not exist.
bool WaitForProcessEnd(std::uint32_t processId, std::uint32_t timeoutMs);

// Releases a process handle.
void CloseProcess(ProcessHandle process);

// Asks the platform to trim the process's working set; false when refused.
bool TrimWorkingSet(ProcessHandle process);

// The pseudo-handle of the own process: never closed.
ProcessHandle OwnProcess();

// Opens the own process's access token with the given access; none on failure.
TokenHandle OpenOwnToken(std::uint32_t access);

// Looks up the local identifier of a named privilege; false and luid untouched on failure.
bool LookupPrivilege(const char16_t* name, std::uint64_t& luid);

// Sets the attributes of one privilege in the token, leaving the others as they are.
bool AdjustPrivilege(TokenHandle token, std::uint64_t luid, std::uint32_t attributes);

// Releases a token handle.
void CloseToken(TokenHandle token);

// Compares two texts ignoring case under the user's locale (lstrcmpiW); true when equal.
bool EqualIgnoringCaseLocale(const char16_t* a, const char16_t* b);

}  // namespace platform
