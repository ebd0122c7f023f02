#include "recovery/browser_process.h"

#include "app/lifecycle.h"
#include "recovery/process_walk.h"
#include "settings/registry_channel.h"

bool FindBrowserProcess() {
    bool found = false;
    const bool walked = WalkProcesses([&found](platform::ProcessHandle, std::u16string_view name) {
        found = EqualsIgnoringAsciiCase(name, kFirefoxName) ||
                EqualsIgnoringAsciiCase(name, kPaleMoonName);
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
