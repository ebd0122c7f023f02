#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handles.h"

// The access a walked process is opened with: PROCESS_ALL_ACCESS as Windows XP defines it.
inline constexpr std::uint32_t kProcessFullAccess = 0x1F0FFF;
// PROCESS_QUERY_INFORMATION | PROCESS_VM_READ.
inline constexpr std::uint32_t kProcessQueryAndRead = 0x410;

// The name a process gets when its executable's name cannot be read.
inline constexpr char16_t kUnknownProcessName[] = u"<unknown>";

// One step of a walk: gets an open process and its executable's base name, answers whether the
// walk goes on. The handle is closed by the walk.
using ProcessStep = std::function<bool(platform::ProcessHandle, std::u16string_view)>;

// Visits every process that can be opened with full access; false when the identifier list
// cannot be obtained.
bool WalkProcesses(const ProcessStep& step);

// The identifier of the first process, in enumeration order, whose executable's base name equals
// name ignoring case as the user's locale does; 0 when there is none.
std::uint32_t FindProcessIdByName(const char16_t* name);

// The identifiers of every such process, in enumeration order; empty when there is none or the
// identifier list cannot be obtained.
std::vector<std::uint32_t> ProcessIdsByName(const char16_t* name);

// Enables "SeDebugPrivilege" on the own process's token, so that processes of other accounts
// can be opened; failures are silent.
void EnableDebugPrivilege();

// Whole-text equality folding only the letters A to Z.
bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b);
