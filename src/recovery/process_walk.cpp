#include "recovery/process_walk.h"

#include <vector>

#include "platform/processes.h"

namespace {

constexpr std::uint32_t kNameCapacity = 260;
constexpr std::size_t kInitialIdCapacity = 1024;

// The identifiers of the running processes. The list grows until it fits, so that a machine
// with more than a thousand processes still has every one looked at.
bool ListAllProcessIds(std::vector<std::uint32_t>& ids) {
    ids.assign(kInitialIdCapacity, 0);
    for (;;) {
        const auto bufferBytes = static_cast<std::uint32_t>(ids.size() * sizeof(std::uint32_t));
        std::uint32_t bytesReturned = 0;
        if (!platform::ListProcessIds(ids.data(), bufferBytes, bytesReturned)) {
            return false;
        }
        if (bytesReturned < bufferBytes) {
            ids.resize(bytesReturned / sizeof(std::uint32_t));
            return true;
        }
        ids.assign(ids.size() * 2, 0);
    }
}

std::u16string ExecutableName(platform::ProcessHandle process) {
    platform::ModuleHandle module;
    char16_t buffer[kNameCapacity] = {};
    if (!platform::FirstModule(process, module)) {
        return kUnknownProcessName;
    }
    const auto length = platform::ModuleBaseName(process, module, buffer, kNameCapacity);
    if (length == 0) {
        return kUnknownProcessName;
    }
    return std::u16string(buffer, length);
}

char16_t FoldAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? c - u'A' + u'a' : c;
}

}  // namespace

bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

bool WalkProcesses(const ProcessStep& step) {
    std::vector<std::uint32_t> ids;
    if (!ListAllProcessIds(ids)) {
        return false;
    }
    for (const auto id : ids) {
        if (id == 0) {
            continue;
        }
        const auto process = platform::OpenProcessById(kProcessFullAccess, id);
        if (!process) {
            continue;
        }
        const bool goOn = step(process, ExecutableName(process));
        platform::CloseProcess(process);
        if (!goOn) {
            break;
        }
    }
    return true;
}

namespace {

// Whether the process can be opened for reading and its executable's base name equals name
// ignoring case as the user's locale does.
bool HasExecutableName(std::uint32_t id, const char16_t* name) {
    const auto process = platform::OpenProcessById(kProcessQueryAndRead, id);
    if (!process) {
        return false;
    }
    char16_t buffer[kNameCapacity] = {};
    const bool named =
        platform::ModuleBaseName(process, platform::ModuleHandle{}, buffer, kNameCapacity) != 0 &&
        platform::EqualIgnoringCaseLocale(buffer, name);
    platform::CloseProcess(process);
    return named;
}

}  // namespace

std::uint32_t FindProcessIdByName(const char16_t* name) {
    std::vector<std::uint32_t> ids;
    if (!ListAllProcessIds(ids)) {
        return 0;
    }
    for (const auto id : ids) {
        if (HasExecutableName(id, name)) {
            return id;
        }
    }
    return 0;
}

std::vector<std::uint32_t> ProcessIdsByName(const char16_t* name) {
    std::vector<std::uint32_t> ids;
    if (!ListAllProcessIds(ids)) {
        return {};
    }
    std::erase_if(ids, [name](std::uint32_t id) { return !HasExecutableName(id, name); });
    return ids;
}

void EnableDebugPrivilege() {
    constexpr std::uint32_t kTokenAdjustPrivilegesAndQuery = 0x28;
    constexpr std::uint32_t kPrivilegeEnabled = 2;
    const auto token = platform::OpenOwnToken(kTokenAdjustPrivilegesAndQuery);
    if (!token) {
        return;
    }
    std::uint64_t luid = 0;
    if (platform::LookupPrivilege(u"SeDebugPrivilege", luid)) {
        platform::AdjustPrivilege(token, luid, kPrivilegeEnabled);
    }
    platform::CloseToken(token);
}
