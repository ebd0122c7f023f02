#include <windows.h>

#include <winternl.h>

#include <algorithm>
#include <utility>

#include "platform/process_list.h"

namespace platform {

namespace {

constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);

ListedProcess Listed(const SYSTEM_PROCESS_INFORMATION& entry) {
    ListedProcess process;
    process.id = static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(entry.UniqueProcessId));
    process.parentId =
        static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(entry.InheritedFromUniqueProcessId));
    if (entry.ImageName.Buffer != nullptr) {
        process.name.assign(reinterpret_cast<const char16_t*>(entry.ImageName.Buffer),
                            entry.ImageName.Length / sizeof(wchar_t));
    }
    process.createdAt = static_cast<std::uint64_t>(entry.CreateTime.QuadPart);
    process.sessionId = entry.SessionId;
    process.threadCount = entry.NumberOfThreads;
    return process;
}

}  // namespace

bool ListProcesses(std::vector<ListedProcess>& processes) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    // The listing grows between the call that sizes it and the one that fills it: room to spare.
    std::vector<unsigned char> buffer(256 * 1024);
    NTSTATUS status = kInfoLengthMismatch;
    while (status == kInfoLengthMismatch) {
        ULONG needed = 0;
        status = NtQuerySystemInformation(SystemProcessInformation, buffer.data(),
                                          static_cast<ULONG>(buffer.size()), &needed);
        if (status == kInfoLengthMismatch) {
            buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 64 * 1024));
        }
    }
    if (status < 0) {
        return false;
    }
    std::vector<ListedProcess> listed;
    for (std::size_t offset = 0;;) {
        const auto& entry = *reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(&buffer[offset]);
        listed.push_back(Listed(entry));
        if (entry.NextEntryOffset == 0) {
            break;
        }
        offset += entry.NextEntryOffset;
    }
    processes = std::move(listed);
    return true;
}

std::uint32_t OwnProcessId() {
    return GetCurrentProcessId();
}

}  // namespace platform
