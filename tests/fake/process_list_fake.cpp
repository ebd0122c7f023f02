#include "fake/world.h"
#include "platform/process_list.h"

namespace platform {

bool ListProcesses(std::vector<ListedProcess>& processes) {
    const auto lock = fake::Lock();
    const auto& world = fake::TheWorld();
    fake::Record("ListProcesses");
    if (world.processListFails) {
        return false;
    }
    processes.clear();
    for (const auto& process : world.processes) {
        processes.push_back({process.id, process.parentId, process.name, process.createdAt,
                             process.sessionId, process.threadCount});
    }
    if (world.onProcessesListed) {
        world.onProcessesListed();
    }
    return true;
}

std::uint32_t OwnProcessId() {
    const auto lock = fake::Lock();
    return fake::TheWorld().ownProcessId;
}

}  // namespace platform
