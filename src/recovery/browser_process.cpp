#include "recovery/browser_process.h"

#include "app/lifecycle.h"
#include "recovery/process_walk.h"
#include "settings/registry_channel.h"

bool IsBrowserProcessName(std::u16string_view name) {
    return EqualsIgnoringAsciiCase(name, kFirefoxName) ||
           EqualsIgnoringAsciiCase(name, kPaleMoonName);
}

bool FindBrowserProcess() {
    bool found = false;
    const bool walked = WalkProcesses([&found](platform::ProcessHandle, std::u16string_view name) {
        found = IsBrowserProcessName(name);
        return !found;
    });
    if (!walked) {
        return false;
    }
    if (found) {
        return true;
    }
    if (!dwSatelliteQELM()) {
        ExitProgram();
    }
    return false;
}
