#include "browser_totals.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/processes.h"
#include "recovery/browser_process.h"
#include "recovery/process_walk.h"
#include "text.h"

using nlohmann::json;

namespace {

constexpr std::uint32_t kNameCapacity = 260;

// The executables summed, the browsers in the order they are preferred.
enum Executable : std::size_t { kFirefox, kPaleMoon, kPluginHost, kOther };
constexpr std::array<const char16_t*, kOther> kNames = {kFirefoxName, kPaleMoonName,
                                                        kPluginHostName};

// What the processes of one executable hold between them.
struct Total {
    std::uint32_t processes = 0;
    std::uint64_t workingSetBytes = 0;
};

using Totals = std::array<Total, kOther>;

// The identifiers of the running processes; the list grows until it fits. Empty when the list
// cannot be obtained.
std::vector<std::uint32_t> ProcessIds() {
    std::vector<std::uint32_t> ids(1024);
    for (;;) {
        const auto bufferBytes = static_cast<std::uint32_t>(ids.size() * sizeof(std::uint32_t));
        std::uint32_t bytesReturned = 0;
        if (!platform::ListProcessIds(ids.data(), bufferBytes, bytesReturned)) {
            return {};
        }
        if (bytesReturned < bufferBytes) {
            ids.resize(bytesReturned / sizeof(std::uint32_t));
            return ids;
        }
        ids.assign(ids.size() * 2, 0);
    }
}

// Which of the summed executables the process runs. Only the executable's name is read, without
// the module list, so that a pass over a few hundred processes stays cheap.
Executable ExecutableOf(platform::ProcessHandle process) {
    char16_t buffer[kNameCapacity] = {};
    const auto length =
        platform::ModuleBaseName(process, platform::ModuleHandle{}, buffer, kNameCapacity);
    const std::u16string_view name(buffer, length);
    for (std::size_t executable = kFirefox; executable < kOther; ++executable) {
        if (EqualsIgnoringAsciiCase(name, kNames[executable])) {
            return static_cast<Executable>(executable);
        }
    }
    return kOther;
}

// Adds the working set of the process to the total of its executable, when it is one of ours.
void Add(std::uint32_t processId, Totals& totals) {
    // The least access that names and measures a process, which the browser's sandboxed
    // processes grant as well.
    const auto process = platform::OpenProcessById(kProcessQueryAndRead, processId);
    if (!process) {
        return;
    }
    std::uint64_t bytes = 0;
    if (const auto executable = ExecutableOf(process);
        executable != kOther && platform::WorkingSetBytes(process, bytes)) {
        ++totals[executable].processes;
        totals[executable].workingSetBytes += bytes;
    }
    platform::CloseProcess(process);
}

json TotalJson(const Total& total) {
    if (total.processes == 0) {
        return nullptr;
    }
    return {{"processes", total.processes}, {"workingSetKiB", total.workingSetBytes / 1024}};
}

}  // namespace

json BrowserTotals() {
    Totals totals{};
    for (const auto processId : ProcessIds()) {
        if (processId != 0) {
            Add(processId, totals);
        }
    }
    const Executable browser = totals[kFirefox].processes > 0 ? kFirefox : kPaleMoon;
    json browserTotal = TotalJson(totals[browser]);
    if (!browserTotal.is_null()) {
        browserTotal["name"] = ToUtf8(kNames[browser]);
    }
    return {{"browser", browserTotal}, {"pluginHost", TotalJson(totals[kPluginHost])}};
}
