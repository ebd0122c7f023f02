#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The machine's processes at one moment, read from one listing without opening any of them.
namespace platform {

struct ListedProcess {
    std::uint32_t id = 0;
    // The process that created it. That one may have ended since and its identifier gone to a
    // later process: a true parent was created no later than its child.
    std::uint32_t parentId = 0;
    std::u16string name;          // the executable's file name
    std::uint64_t createdAt = 0;  // in 100-nanosecond units since 1601
    std::uint32_t sessionId = 0;
    std::uint32_t threadCount = 0;  // none: it has ended, and a handle still keeps it listed
};

// Fills processes with every process of the machine (NtQuerySystemInformation,
// SystemProcessInformation); false and processes untouched when the listing cannot be obtained.
bool ListProcesses(std::vector<ListedProcess>& processes);

// The identifier of the own process.
std::uint32_t OwnProcessId();

}  // namespace platform
