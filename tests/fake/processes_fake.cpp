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
    auto& world = fake::TheWorld();
    world.journal.push_back("EnumProcesses " + std::to_string(bufferBytes));
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

ProcessHandle OpenProcessById(std::uint32_t access, std::uint32_t processId) {
    auto& world = fake::TheWorld();
    world.journal.push_back("OpenProcess " + fake::Hex(access) + " " + std::to_string(processId));
    for (const auto& process : world.processes) {
        if (process.id != processId || processId == 0) {
            continue;
        }
        const bool allowed = access == kFullAccess ? process.openable : process.queryOpenable;
        if (!allowed) {
            return {};
        }
        const ProcessHandle handle{fake::NewHandle()};
        world.openProcesses[handle.value] = processId;
        return handle;
    }
    return {};
}

bool FirstModule(ProcessHandle process, ModuleHandle& module) {
    const fake::Process* found = ProcessOf(process);
    if (found == nullptr || !found->modulesReadable) {
        return false;
    }
    module = ModuleHandle{0x400000};
    return true;
}

std::uint32_t ModuleBaseName(ProcessHandle process, ModuleHandle, char16_t* buffer,
                             std::uint32_t capacity) {
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
    auto& world = fake::TheWorld();
    world.journal.push_back("CloseHandle " + Describe(process));
    world.openProcesses.erase(process.value);
}

bool TrimWorkingSet(ProcessHandle process) {
    auto& world = fake::TheWorld();
    world.journal.push_back("EmptyWorkingSet " + Describe(process));
    if (process.value == kOwnProcessPseudoHandle) {
        return true;
    }
    const fake::Process* found = ProcessOf(process);
    return found != nullptr && !found->trimRefused;
}

ProcessHandle OwnProcess() {
    return ProcessHandle{kOwnProcessPseudoHandle};
}

TokenHandle OpenOwnToken(std::uint32_t access) {
    fake::TheWorld().journal.push_back("OpenProcessToken " + fake::Hex(access));
    return TokenHandle{fake::NewHandle()};
}

bool LookupPrivilege(const char16_t* name, std::uint64_t& luid) {
    fake::TheWorld().journal.push_back("LookupPrivilegeValue " + fake::Narrow(name));
    luid = 20;
    return true;
}

bool AdjustPrivilege(TokenHandle, std::uint64_t luid, std::uint32_t attributes) {
    auto& world = fake::TheWorld();
    world.journal.push_back("AdjustTokenPrivileges " + std::to_string(luid) + " " +
                            std::to_string(attributes));
    world.debugPrivilegeEnabled = luid == 20 && attributes == 2;
    return true;
}

void CloseToken(TokenHandle) {
    fake::TheWorld().journal.push_back("CloseHandle token");
}

bool EqualIgnoringCaseLocale(const char16_t* a, const char16_t* b) {
    const std::u16string_view left(a);
    const std::u16string_view right(b);
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(),
                      [](char16_t x, char16_t y) { return Fold(x) == Fold(y); });
}

}  // namespace platform
