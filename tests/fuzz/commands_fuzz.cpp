// A running companion driven by the add-on's command message and the controller's timers in any
// order, with the add-on changing the key and the browser coming and going meanwhile.

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "app/commands.h"
#include "app/lifecycle.h"
#include "app/timers.h"
#include "app/wake_events.h"
#include "app/workers.h"
#include "fake/world.h"
#include "fuzz/fuzz_support.h"
#include "platform/handles.h"
#include "platform/input.h"
#include "settings/registry_channel.h"
#include "settings/settings.h"

namespace {

constexpr std::size_t kMostSteps = 64;

constexpr std::uintptr_t kCommands[] = {1, 2, 3, 11, 13, 14, 16};
constexpr std::intptr_t kArguments[] = {0, 1, 2, 3, -1, 5, 60};

// The values the loader reads as numbers, which the add-on may write at any time.
constexpr const char16_t* kDwordNames[] = {
    u"activateKVDisplayEvents",
    u"activateKVXEventLogging",
    u"activateKVXonStartup",
    u"activateVisualAcc",
    u"app_1",
    u"global",
    u"nRunCnt",
    u"primaryTimeout",
    u"startupDelay",
    u"tabDelay",
};

// The settings the first byte may switch on before the start, so that comments, beeps, the
// event log, global mode and a disabled browser trim are all within reach.
constexpr const char16_t* kSwitchedNames[] = {
    u"activateKVDisplayEvents",
    u"activateVisualAcc",
    u"activateKVXEventLogging",
    u"global",
};

void PutBrowserWindows(std::uint32_t browser) {
    const auto main = fake::AddWindow(u"MozillaWindowClass", u"Start Page - Mozilla Firefox");
    const auto inner = fake::AddWindow(u"MozillaWindowClass", u"", main);
    const auto content = fake::AddWindow(u"MozillaContentWindowClass", u"", inner);
    const auto placeholder =
        fake::AddWindow(u"SWFlash_PlaceholderX", u"DummyWindowless Flash", content);
    for (const auto handle : {main, inner, content, placeholder}) {
        fake::Window* window = fake::FindWindow(handle);
        window->processId = browser;
        window->reply = 0;
        window->client = platform::Rect{0, 0, 800, 600};
    }
    fake::TheWorld().windowUnderCursor = content;
}

void ToggleBrowserProcess() {
    auto& processes = fake::TheWorld().processes;
    if (processes.empty()) {
        fake::AddProcess(u"firefox.exe", 64 << 20);
    } else {
        processes.clear();
    }
}

// Worker 2 wakes whenever its event is signalled, re-arms the periodic timer and blocks again in
// its next wait, which the fake reports by throwing.
void RunPeriodicWorkerIfWoken() {
    const auto event = g_evPeriodic.load();
    if (!event || !fake::TheWorld().eventSignalled[event.value]) {
        return;
    }
    try {
        PeriodicRearmProc(nullptr);
    } catch (const fake::ThreadBlocked&) {
    }
}

// A timer's variable holds its id exactly while the controller's window has it armed; the
// restart of recovery may forget an armed timer, but never the other way round.
bool TimerVariablesTrue() {
    for (std::size_t index = 0; index < kTimerVariables.size(); ++index) {
        const std::uintptr_t id = kFirstTimerId + index;
        const std::uintptr_t variable = *kTimerVariables[index];
        if (variable != 0 && (variable != id || !fake::TheWorld().timers.contains(id))) {
            return false;
        }
    }
    return true;
}

// What a setter command leaves in the settings.
bool SetterApplied(std::uintptr_t command, std::intptr_t argument) {
    const auto argument32 = static_cast<std::int32_t>(argument);
    switch (command) {
        case 11:
            return g_settings.GetOnStartup() == (argument != 0);
        case 13:
            return g_settings.GetStartupDelay() == argument32;
        case 14:
            return g_settings.GetPrimaryTimeout() == argument32;
        case 16:
            return g_settings.GetTabDelay() ==
                   (argument32 == 0 ? 0.1f : static_cast<float>(argument32));
        default:
            return true;
    }
}

std::uintptr_t TakeCommand(FuzzInput& input) {
    const std::uint8_t choice = input.Byte();
    return choice < 0xE0 ? kCommands[choice % std::size(kCommands)] : input.Take<std::uintptr_t>();
}

std::intptr_t TakeArgument(FuzzInput& input) {
    const std::uint8_t choice = input.Byte();
    return choice < 0xC0 ? kArguments[choice % std::size(kArguments)] : input.Take<std::intptr_t>();
}

std::uintptr_t TakeTimerId(FuzzInput& input) {
    const std::uint8_t choice = input.Byte();
    return choice < 0xF0 ? kFirstTimerId + choice % kTimerVariables.size()
                         : input.Take<std::uintptr_t>();
}

bool Message(FuzzInput& input) {
    const std::uintptr_t command = TakeCommand(input);
    const std::intptr_t argument = TakeArgument(input);
    std::intptr_t reply = 0;
    if (!Survives([&] { reply = OnQelmMessage(command, argument); })) {
        return false;
    }
    Require(reply == 1);
    Require(SetterApplied(command, argument));
    return true;
}

// One step of the sequence; false once the process has ended.
bool Step(FuzzInput& input) {
    switch (input.Byte() % 8) {
        case 0:
        case 1:
        case 2:
        case 3:
            return Message(input);
        case 4:
        case 5: {
            const std::uintptr_t id = TakeTimerId(input);
            return Survives([id] { DispatchTimer(id); });
        }
        case 6: {
            const char16_t* name = kDwordNames[input.Byte() % std::size(kDwordNames)];
            fake::PutDword(name, input.Take<std::int32_t>());
            return true;
        }
        default:
            ToggleBrowserProcess();
            return true;
    }
}

// The companion as start-up leaves it: key loaded, wake events made, recovery started and the
// periodic timer armed by worker 2.
bool StartCompanion(FuzzInput& input) {
    PutDefaultSettings();
    const std::uint8_t switched = input.Byte();
    for (std::size_t i = 0; i < std::size(kSwitchedNames); ++i) {
        if ((switched >> i & 1) != 0) {
            fake::PutDword(kSwitchedNames[i], 1);
        }
    }
    if ((switched & 0x10) != 0) {
        fake::PutDword(u"app_1", 0);
    }
    PutBrowserWindows(fake::AddProcess(u"firefox.exe", 64 << 20));
    Require(CreateWakeEvents());
    return Survives([] {
        ReloadSettings();
        StartRecovery();
    });
}

void RequireSteadyState() {
    Require(NothingLeftOpen());
    Require(TimerVariablesTrue());
    // Every load found a readable tab delay, so none can be zero.
    Require(g_settings.GetTabDelay() != 0.0f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    StartFreshProcess();
    bool running = StartCompanion(input);
    for (std::size_t steps = 0; running; ++steps) {
        RunPeriodicWorkerIfWoken();
        RequireSteadyState();
        running = steps < kMostSteps && !input.Empty() && Step(input);
    }
    Require(NothingLeftOpen());
    return 0;
}
