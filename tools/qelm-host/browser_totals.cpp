#include "browser_totals.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/process_list.h"
#include "platform/processes.h"
#include "recovery/browser_process.h"
#include "recovery/process_walk.h"
#include "text.h"

using nlohmann::json;
using platform::ListedProcess;

namespace {

// The processes of one listing, with the links from each to those it started.
class ProcessTree {
  public:
    explicit ProcessTree(std::vector<ListedProcess> processes) : processes_(std::move(processes)) {
        for (std::size_t i = 0; i < processes_.size(); ++i) {
            byId_.emplace(processes_[i].id, i);
            children_.emplace(processes_[i].parentId, i);
        }
    }

    const std::vector<ListedProcess>& All() const { return processes_; }

    const ListedProcess* Find(std::uint32_t id) const {
        const auto found = byId_.find(id);
        return found == byId_.end() ? nullptr : &processes_[found->second];
    }

    // The process that started child, when it still runs; none when its identifier now names a
    // process created after child.
    const ListedProcess* ParentOf(const ListedProcess& child) const {
        const ListedProcess* parent = Find(child.parentId);
        return parent != nullptr && IsParent(*parent, child) ? parent : nullptr;
    }

    // The root and every process started by it or by one of those, as far as they still run.
    std::vector<const ListedProcess*> Descendants(const ListedProcess& root) const {
        std::vector<const ListedProcess*> found{&root};
        std::vector<bool> seen(processes_.size());
        for (std::size_t next = 0; next < found.size(); ++next) {
            const ListedProcess& parent = *found[next];
            const auto [first, last] = children_.equal_range(parent.id);
            for (auto child = first; child != last; ++child) {
                const ListedProcess& candidate = processes_[child->second];
                if (!seen[child->second] && &candidate != &root && IsParent(parent, candidate)) {
                    seen[child->second] = true;
                    found.push_back(&candidate);
                }
            }
        }
        return found;
    }

  private:
    static bool IsParent(const ListedProcess& parent, const ListedProcess& child) {
        return parent.id == child.parentId && parent.id != child.id &&
               parent.createdAt <= child.createdAt;
    }

    std::vector<ListedProcess> processes_;
    std::unordered_map<std::uint32_t, std::size_t> byId_;
    std::unordered_multimap<std::uint32_t, std::size_t> children_;
};

// Firefox ends processes often; one that has ended stays listed while a handle holds it.
bool Runs(const ListedProcess& process) {
    return process.threadCount > 0;
}

// The browser's name that the process has, or none.
const char16_t* BrowserName(const ListedProcess& process) {
    for (const char16_t* name : {kFirefoxName, kPaleMoonName}) {
        if (EqualsIgnoringAsciiCase(process.name, name)) {
            return name;
        }
    }
    return nullptr;
}

// The browser that started the host, directly or through launchers (cmd.exe, say).
const ListedProcess* StartingBrowser(const ProcessTree& tree, const ListedProcess& host) {
    const ListedProcess* ancestor = tree.ParentOf(host);
    // Bounded, so that a listing whose links go round cannot hold the host.
    for (std::size_t steps = 0; ancestor != nullptr && steps < tree.All().size(); ++steps) {
        if (BrowserName(*ancestor) != nullptr) {
            return ancestor;
        }
        ancestor = tree.ParentOf(*ancestor);
    }
    return nullptr;
}

// The processes counted as the browser's and as its plug-in host's.
struct Members {
    const char16_t* browserName = kFirefoxName;
    std::vector<std::uint32_t> browser;
    std::vector<std::uint32_t> pluginHosts;
};

Members Sorted(const std::vector<const ListedProcess*>& processes, const char16_t* browserName) {
    Members members{browserName, {}, {}};
    for (const ListedProcess* process : processes) {
        if (!Runs(*process)) {
            continue;
        }
        if (EqualsIgnoringAsciiCase(process->name, browserName)) {
            members.browser.push_back(process->id);
        } else if (EqualsIgnoringAsciiCase(process->name, kPluginHostName)) {
            members.pluginHosts.push_back(process->id);
        }
    }
    return members;
}

// Started by no browser that runs here, the host takes the browser's processes of its session.
Members SessionBrowser(const ProcessTree& tree, const ListedProcess& host) {
    std::vector<const ListedProcess*> session;
    bool firefoxRuns = false;
    for (const ListedProcess& process : tree.All()) {
        if (process.sessionId == host.sessionId) {
            session.push_back(&process);
            firefoxRuns = firefoxRuns ||
                          (Runs(process) && EqualsIgnoringAsciiCase(process.name, kFirefoxName));
        }
    }
    return Sorted(session, firefoxRuns ? kFirefoxName : kPaleMoonName);
}

Members ThisBrowser(const ProcessTree& tree) {
    const ListedProcess* host = tree.Find(platform::OwnProcessId());
    if (host == nullptr) {
        return {};
    }
    if (const ListedProcess* browser = StartingBrowser(tree, *host)) {
        return Sorted(tree.Descendants(*browser), BrowserName(*browser));
    }
    return SessionBrowser(tree, *host);
}

// A sum that stays unknown once one of its parts is.
using Sum = std::optional<std::uint64_t>;

void Add(Sum& sum, Sum part) {
    sum = sum && part ? Sum(*sum + *part) : std::nullopt;
}

// A figure of zero is one the system does not keep (Wine's private bytes): a running process
// always holds some.
Sum Known(std::uint64_t bytes) {
    return bytes > 0 ? Sum(bytes) : std::nullopt;
}

struct Figures {
    Sum privateBytes = 0;
    Sum workingSetBytes = 0;
    Sum privateWorkingSetBytes = 0;
};

struct Reading {
    bool gone = false;  // ended since the listing: it has nothing left to count
    std::optional<platform::MemoryCounters> counters;  // none: the process refused to be read
};

Reading Read(std::uint32_t processId) {
    // The least access that measures a process, which the browser's sandboxed processes grant.
    platform::ProcessHandle process;
    const std::uint32_t error =
        platform::OpenProcessOrError(kProcessQueryAndRead, processId, process);
    if (error != 0) {
        return {error == platform::kErrorInvalidParameter, std::nullopt};
    }
    std::uint32_t exitCode = platform::kStillActive;
    Reading reading;
    reading.gone = platform::ReadExitCode(process, exitCode) && exitCode != platform::kStillActive;
    platform::MemoryCounters counters;
    if (!reading.gone && platform::ReadMemoryCounters(process, counters)) {
        reading.counters = counters;
    }
    platform::CloseProcess(process);
    return reading;
}

// The private working set stands for the sum only when every process gives it: one series never
// mixes it with whole working sets.
void Add(Figures& figures, const std::optional<platform::MemoryCounters>& counters) {
    Add(figures.privateBytes, counters ? Known(counters->privateBytes) : std::nullopt);
    Add(figures.workingSetBytes, counters ? Known(counters->workingSetBytes) : std::nullopt);
    Add(figures.privateWorkingSetBytes,
        counters ? Known(counters->privateWorkingSetBytes.value_or(0)) : std::nullopt);
}

json KiB(Sum bytes) {
    return bytes ? json(*bytes / 1024) : json(nullptr);
}

json TotalJson(const char16_t* name, const std::vector<std::uint32_t>& processIds) {
    Figures figures;
    std::size_t counted = 0;
    for (const auto processId : processIds) {
        const Reading reading = Read(processId);
        if (!reading.gone) {
            Add(figures, reading.counters);
            ++counted;
        }
    }
    if (counted == 0) {
        return nullptr;
    }
    const bool privateWorkingSet = figures.privateWorkingSetBytes.has_value();
    return {{"name", ToUtf8(name)},
            {"processes", counted},
            {"privateKiB", KiB(figures.privateBytes)},
            {"workingSetKiB",
             KiB(privateWorkingSet ? figures.privateWorkingSetBytes : figures.workingSetBytes)},
            {"privateWorkingSet", privateWorkingSet}};
}

}  // namespace

json BrowserTotals() {
    std::vector<ListedProcess> listing;
    if (!platform::ListProcesses(listing)) {
        return {{"browser", nullptr}, {"pluginHost", nullptr}};
    }
    const Members members = ThisBrowser(ProcessTree(std::move(listing)));
    return {{"browser", TotalJson(members.browserName, members.browser)},
            {"pluginHost", TotalJson(kPluginHostName, members.pluginHosts)}};
}
