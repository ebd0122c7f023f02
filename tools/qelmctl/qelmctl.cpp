#include "qelmctl.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string_view>

#include "app/messages.h"
#include "companion.h"
#include "host_install.h"
#include "key_values.h"
#include "platform/desktop.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/threads.h"
#include "recovery/process_walk.h"
#include "settings/registry_channel.h"
#include "text.h"

namespace {

using Arguments = std::span<const std::u16string>;

constexpr char kKeyName[] = "HKCU\\SOFTWARE\\Qelm";

struct Io {
    std::ostream& out;
    std::ostream& err;
};

struct Command {
    std::string_view name;
    std::string_view synopsis;
    std::string_view summary;
    int (*run)(Arguments arguments, Io& io);
};

int Usage(Io& io, const Command& command, std::string_view problem) {
    io.err << "qelmctl " << command.name << ": " << problem << "\nusage: " << command.synopsis
           << "\n";
    return kExitUsage;
}

std::string ValidNames(bool settingsOnly) {
    std::string names;
    for (const auto& value : KeyValues()) {
        if (!settingsOnly || value.isSetting) {
            names += (names.empty() ? "" : ", ") + ToUtf8(value.name);
        }
    }
    return names;
}

// --- Talking to the companion -------------------------------------------------------------

std::optional<Companion> RunningCompanion(Io& io) {
    const auto companion = FindCompanion();
    if (!companion) {
        io.err << "QELM is not running\n";
    }
    return companion;
}

int SendCommand(Io& io, std::uintptr_t wParam, std::intptr_t lParam) {
    const auto companion = RunningCompanion(io);
    if (!companion) {
        return kExitNotRunning;
    }
    const auto reply = SendToCompanion(*companion, kQelmMessageName, wParam, lParam);
    if (!reply) {
        if (platform::WaitForProcessEnd(companion->processId, 0)) {
            io.err << "QELM ended without answering\n";
            return kExitNotRunning;
        }
        io.err << "QELM did not answer within 5 seconds\n";
        return kExitNoAnswer;
    }
    io.out << "reply: " << *reply << "\n";
    return kExitOk;
}

const Command* FindCommand(std::string_view name);

// A command without arguments that sends (wParam, lParam).
template <std::uintptr_t wParam, std::intptr_t lParam>
int RunFixedCommandFor(std::string_view name, Arguments arguments, Io& io) {
    if (!arguments.empty()) {
        return Usage(io, *FindCommand(name), "takes no arguments");
    }
    return SendCommand(io, wParam, lParam);
}

int RunReload(Arguments arguments, Io& io) {
    return RunFixedCommandFor<1, 2>("reload", arguments, io);
}

int RunTab(Arguments arguments, Io& io) {
    return RunFixedCommandFor<3, 3>("tab", arguments, io);
}

int ReportExit(const ExitOutcome& outcome, Io& io) {
    if (outcome.refusal) {
        io.out << "reply: " << *outcome.refusal << "\n";
        io.err << "QELM keeps running: global mode is on\n";
        return kExitFailed;
    }
    if (!outcome.ended) {
        io.err << "QELM is still running " << outcome.waitedSeconds
               << " seconds after it was asked to end\n";
        return kExitNoAnswer;
    }
    io.out << "QELM has ended\n";
    return kExitOk;
}

// Waits at most timeoutMs in all for every qelm-host.exe to end; false when one still runs.
bool WaitForHostsToEnd(std::uint32_t timeoutMs) {
    const std::uint64_t deadline = platform::TickCount() + timeoutMs;
    while (const std::uint32_t host = FindProcessIdByName(u"qelm-host.exe")) {
        const std::uint64_t now = platform::TickCount();
        if (now >= deadline || !platform::WaitForProcessEnd(host, deadline - now)) {
            return false;
        }
    }
    return true;
}

// Says which qelm.exe still run, whose files the installer would find in use; false when none.
bool ReportCompanionsLeft(Io& io) {
    const auto left = ProcessIdsByName(kCompanionProgram);
    if (left.empty()) {
        return false;
    }
    io.err << "qelm.exe is still running (process ids:";
    for (std::size_t i = 0; i < left.size(); ++i) {
        io.err << (i == 0 ? " " : ", ") << left[i];
    }
    io.err << ")\n";
    return true;
}

// What the installer runs before it looks for files in use: every host closes its port and ends,
// so that no browser starts the companion again from files about to go; then the companion, also
// one that a host was just starting, is asked to end as the extension's Stop does. Its exit status
// goes once it has ended: a profile whose port was away missed the hosts' closing, and would take
// the end for a deliberate stop and leave the new companion off after the upgrade.
int ExitForInstaller(Io& io) {
    constexpr std::uint32_t kHostsEndWaitMs = 5000;
    constexpr std::uint32_t kStartingWaitMs = 5000;
    const auto closing = platform::CreateNamedEvent(kCloseHostsEventName);
    if (closing) {
        platform::SignalEvent(closing);
    }
    const bool hostsEnded = WaitForHostsToEnd(kHostsEndWaitMs);
    const auto companion = AwaitCompanion(kStartingWaitMs);
    int result = kExitOk;
    if (companion) {
        const ExitOutcome outcome = AskToExit(*companion, kQelmExitMessageName, 0, 0);
        result = ReportExit(outcome, io);
        if (outcome.ended) {
            ForgetThePreviousRunsFigures();
        }
    }
    if (!hostsEnded) {
        io.err << "a qelm-host.exe is still running " << kHostsEndWaitMs / 1000
               << " seconds after it was told to close\n";
        result = kExitFailed;
    }
    // Also one whose window never showed, or one of another session of the user.
    if (ReportCompanionsLeft(io)) {
        result = kExitFailed;
    }
    if (closing) {
        platform::CloseEvent(closing);
    }
    return result;
}

int RunExit(Arguments arguments, Io& io) {
    bool asCommand = false;
    bool forInstaller = false;
    for (const auto& argument : arguments) {
        if (argument == u"--command") {
            asCommand = true;
        } else if (argument == u"--installer") {
            forInstaller = true;
        } else {
            return Usage(io, *FindCommand("exit"), "unknown argument " + ToUtf8(argument));
        }
    }
    if (asCommand && forInstaller) {
        return Usage(io, *FindCommand("exit"), "--command and --installer go apart");
    }
    if (forInstaller) {
        return ExitForInstaller(io);
    }
    const auto companion = RunningCompanion(io);
    if (!companion) {
        return kExitNotRunning;
    }
    return ReportExit(asCommand ? AskToExit(*companion, kQelmMessageName, 2, 2)
                                : AskToExit(*companion, kQelmExitMessageName, 0, 0),
                      io);
}

// A command with one numeric argument, sent as lParam with the command number.
int RunNumberCommand(std::string_view name, std::uintptr_t wParam, Arguments arguments, Io& io,
                     bool flagOnly) {
    const Command& command = *FindCommand(name);
    if (arguments.size() != 1) {
        return Usage(io, command, "takes one number");
    }
    const auto number = ParseInteger32(arguments[0]);
    if (!number || (flagOnly && *number != 0 && *number != 1)) {
        return Usage(io, command,
                     "\"" + ToUtf8(arguments[0]) + "\" is not " +
                         (flagOnly ? "0 or 1" : "a whole number that fits 32 bits"));
    }
    return SendCommand(io, wParam, *number);
}

int RunStartupFlag(Arguments arguments, Io& io) {
    return RunNumberCommand("startup-flag", 11, arguments, io, true);
}

int RunStartupDelay(Arguments arguments, Io& io) {
    return RunNumberCommand("startup-delay", 13, arguments, io, false);
}

int RunInterval(Arguments arguments, Io& io) {
    return RunNumberCommand("interval", 14, arguments, io, false);
}

int RunTabDelay(Arguments arguments, Io& io) {
    return RunNumberCommand("tab-delay", 16, arguments, io, false);
}

// --- The key ------------------------------------------------------------------------------

int RunGet(Arguments arguments, Io& io) {
    const Command& command = *FindCommand("get");
    if (arguments.size() != 1) {
        return Usage(io, command, "takes one value name");
    }
    const KeyValue* value = FindKeyValue(arguments[0]);
    if (value == nullptr) {
        return Usage(io, command,
                     "\"" + ToUtf8(arguments[0]) + "\" is not a value of the key; choose one of " +
                         ValidNames(false));
    }
    const auto key = OpenSharedKey(platform::KeyAccess::kQuery);
    if (!key) {
        io.err << kKeyName << " does not exist\n";
        return kExitFailed;
    }
    const auto text = ReadKeyValue(*key, *value);
    platform::CloseKey(*key);
    if (!text) {
        io.err << ToUtf8(value->name) << " is not set\n";
        return kExitFailed;
    }
    io.out << *text << "\n";
    return kExitOk;
}

int RunSet(Arguments arguments, Io& io) {
    const Command& command = *FindCommand("set");
    if (arguments.size() != 2) {
        return Usage(io, command, "takes a value name and a value");
    }
    const KeyValue* value = FindKeyValue(arguments[0]);
    if (value == nullptr || !value->isSetting) {
        const std::string why =
            value == nullptr ? " is not a setting" : " is status, not a setting";
        return Usage(
            io, command,
            "\"" + ToUtf8(arguments[0]) + "\"" + why + "; choose one of " + ValidNames(true));
    }
    const auto number = ParseInteger32(arguments[1]);
    if (value->type == ValueType::kDword && !number) {
        return Usage(io, command,
                     "\"" + ToUtf8(arguments[1]) + "\" is not a whole number that fits 32 bits");
    }
    const auto key = OpenSharedKey(platform::KeyAccess::kWrite);
    if (!key) {
        io.err << kKeyName << " does not exist; qelmctl defaults creates it\n";
        return kExitFailed;
    }
    const auto written = WriteSetting(*key, *value, number.value_or(0), arguments[1]);
    platform::CloseKey(*key);
    if (written != 0) {
        io.err << "cannot write " << ToUtf8(value->name) << " (error " << written << ")\n";
        return kExitFailed;
    }
    return kExitOk;
}

int RunDefaults(Arguments arguments, Io& io) {
    if (!arguments.empty()) {
        return Usage(io, *FindCommand("defaults"), "takes no arguments");
    }
    if (const auto key = OpenSharedKey(platform::KeyAccess::kQuery)) {
        platform::CloseKey(*key);
        io.out << kKeyName << " exists already; nothing changed\n";
        return kExitOk;
    }
    if (!CreateDefaultSettings()) {
        io.err << "cannot create " << kKeyName << " with its defaults\n";
        return kExitFailed;
    }
    io.out << "created " << kKeyName << " with its fourteen defaults\n";
    return kExitOk;
}

// --- Status and watching ------------------------------------------------------------------

struct Status {
    std::optional<Companion> companion;
    std::optional<platform::Footprint> footprint;
    bool keyExists = false;
    std::vector<std::pair<const KeyValue*, nlohmann::json>> values;  // null: not set
    HostRegistration host;
};

Status ReadStatus() {
    Status status;
    status.companion = FindCompanion();
    if (status.companion) {
        platform::Footprint footprint;
        if (platform::ProcessFootprint(status.companion->processId, footprint)) {
            status.footprint = footprint;
        }
    }
    const auto key = OpenSharedKey(platform::KeyAccess::kQuery);
    status.keyExists = key.has_value();
    for (const auto& value : KeyValues()) {
        status.values.emplace_back(&value, key ? ReadKeyJson(*key, value) : nlohmann::json());
    }
    if (key) {
        platform::CloseKey(*key);
    }
    status.host = ReadHostRegistration();
    return status;
}

std::string Indented(const std::string& text) {
    std::string indented = "  ";
    for (const char c : text) {
        indented += c;
        if (c == '\n') {
            indented += "  ";
        }
    }
    return indented;
}

// A value as the text output shows it: a number in decimal, a text as it is.
std::string Shown(const nlohmann::json& read) {
    return read.is_null() ? "(not set)" : read.is_string() ? read.get<std::string>() : read.dump();
}

void PrintStatus(const Status& status, Io& io) {
    if (status.companion) {
        io.out << "QELM is running: process " << status.companion->processId << "\n";
    } else {
        io.out << "QELM is not running\n";
    }
    if (const auto& f = status.footprint) {
        io.out << "Its footprint: working set " << f->workingSetBytes / 1024 << " KiB, private "
               << f->privateBytes / 1024 << " KiB, " << f->handles << " handles, " << f->gdiObjects
               << " GDI and " << f->userObjects << " USER objects, CPU time " << f->cpuTimeMs
               << " ms\n";
    }
    if (!status.keyExists) {
        io.out << kKeyName << " does not exist\n";
        return;
    }
    io.out << "Settings in " << kKeyName << ":\n";
    for (const auto& [value, read] : status.values) {
        if (value->isSetting) {
            io.out << "  " << ToUtf8(value->name) << " = " << Shown(read) << "   ("
                   << value->meaning << ")\n";
        }
    }
    for (const auto& [value, read] : status.values) {
        if (!value->isSetting) {
            io.out << ToUtf8(value->name) << " (" << value->meaning << "):\n"
                   << Indented(Shown(read)) << "\n";
        }
    }
}

void PrintStatusJson(const Status& status, Io& io) {
    // Ordered, so that scripts and people see the fields in the same order every time.
    nlohmann::ordered_json json{{"running", status.companion.has_value()}};
    if (status.companion) {
        json["processId"] = status.companion->processId;
    }
    if (const auto& f = status.footprint) {
        json["footprint"] = {{"workingSetBytes", f->workingSetBytes},
                             {"privateBytes", f->privateBytes},
                             {"handles", f->handles},
                             {"gdiObjects", f->gdiObjects},
                             {"userObjects", f->userObjects},
                             {"cpuTimeMs", f->cpuTimeMs}};
    }
    json["keyExists"] = status.keyExists;
    auto& values = json["values"] = nlohmann::ordered_json::object();
    for (const auto& [value, read] : status.values) {
        values[ToUtf8(value->name)] = read;
    }
    const auto& host = status.host;
    json["host"] = {
        {"installed", host.manifest && !host.problem},
        {"manifest", host.manifest ? nlohmann::json(ToUtf8(*host.manifest)) : nlohmann::json()},
        {"problem", host.problem ? nlohmann::json(*host.problem) : nlohmann::json()},
        {"installer", host.installer ? nlohmann::json(ToUtf8(*host.installer)) : nlohmann::json()}};
    io.out << json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
}

void PrintHostRegistration(const HostRegistration& host, Io& io) {
    if (!host.manifest) {
        io.out << "The browser's host is not installed (qelmctl install installs it)\n";
    } else if (host.problem) {
        io.out << "The browser's host is registered, but " << *host.problem
               << " (qelmctl install installs it afresh)\n";
    } else if (host.installer) {
        io.out << "The browser's host is installed by the QELM installer "
               << ToUtf8(*host.installer) << ": " << ToUtf8(*host.manifest) << "\n";
    } else {
        io.out << "The browser's host is installed by qelmctl install: " << ToUtf8(*host.manifest)
               << "\n";
    }
}

// The installer's registration belongs to the installer: Windows removes it with the product.
bool RegisteredByTheInstaller(Io& io) {
    const auto installer = ReadHostRegistration().installer;
    if (installer) {
        io.err << "the QELM installer " << ToUtf8(*installer)
               << " registered the browser's host; remove QELM in Settings > Apps to change that\n";
    }
    return installer.has_value();
}

int RunStatus(Arguments arguments, Io& io) {
    bool json = false;
    for (const auto& argument : arguments) {
        if (argument != u"--json") {
            return Usage(io, *FindCommand("status"), "unknown argument " + ToUtf8(argument));
        }
        json = true;
    }
    const Status status = ReadStatus();
    if (json) {
        PrintStatusJson(status, io);
    } else {
        PrintStatus(status, io);
        PrintHostRegistration(status.host, io);
    }
    return kExitOk;
}

std::string MetricsText() {
    const auto key = OpenSharedKey(platform::KeyAccess::kQuery);
    if (!key) {
        return "(no memory figures: the key does not exist)";
    }
    const KeyValue& metrics = *FindKeyValue(u"activateEventMemoryMetrics");
    const auto text = ReadKeyValue(*key, metrics);
    platform::CloseKey(*key);
    return text.value_or("(no memory figures yet)");
}

int RunWatch(Arguments arguments, Io& io) {
    const Command& command = *FindCommand("watch");
    std::uint32_t intervalSeconds = 1;
    std::optional<std::uint32_t> count;
    for (std::size_t i = 0; i < arguments.size(); i += 2) {
        const bool isInterval = arguments[i] == u"--interval";
        if (!isInterval && arguments[i] != u"--count") {
            return Usage(io, command, "unknown argument " + ToUtf8(arguments[i]));
        }
        const auto number =
            i + 1 < arguments.size() ? ParseCount(arguments[i + 1], 86400) : std::nullopt;
        if (!number || *number == 0) {
            return Usage(io, command, ToUtf8(arguments[i]) + " takes a whole number from 1 on");
        }
        if (isInterval) {
            intervalSeconds = *number;
        } else {
            count = *number;
        }
    }
    std::optional<std::string> shown;
    for (std::uint32_t printed = 0; !count || printed < *count;) {
        const std::string text = MetricsText();
        if (text != shown) {
            io.out << text << "\n\n" << std::flush;
            shown = text;
            ++printed;
            if (count && printed == *count) {
                break;
            }
        }
        platform::PauseFor(intervalSeconds * 1000);
    }
    return kExitOk;
}

// --- The browser's host ------------------------------------------------------------------

int RunInstall(Arguments arguments, Io& io) {
    if (!arguments.empty()) {
        return Usage(io, *FindCommand("install"), "takes no arguments");
    }
    if (RegisteredByTheInstaller(io)) {
        return kExitFailed;
    }
    if (const auto error = InstallHost()) {
        io.err << *error << "\n";
        return kExitFailed;
    }
    io.out << "wrote " << ToUtf8(ManifestPath()) << " for " << ToUtf8(HostPath())
           << "\nregistered it for Firefox in HKCU\\" << ToUtf8(kHostRegistrationKey) << "\n";
    return kExitOk;
}

int RunUninstall(Arguments arguments, Io& io) {
    if (!arguments.empty()) {
        return Usage(io, *FindCommand("uninstall"), "takes no arguments");
    }
    if (RegisteredByTheInstaller(io)) {
        return kExitFailed;
    }
    if (UninstallHost()) {
        io.out << "removed HKCU\\" << ToUtf8(kHostRegistrationKey) << " and "
               << ToUtf8(ManifestPath()) << "\n";
    } else {
        io.out << "the browser's host was not installed; nothing to remove\n";
    }
    return kExitOk;
}

// --- The command table --------------------------------------------------------------------

constexpr Command kCommands[] = {
    {"status", "qelmctl status [--json]",
     "whether QELM runs, what it costs, every value of its key", RunStatus},
    {"get", "qelmctl get NAME", "prints one value of the key", RunGet},
    {"set", "qelmctl set NAME VALUE",
     "writes one setting: a whole number for a number setting, a text for a text setting", RunSet},
    {"reload", "qelmctl reload", "asks QELM to load its settings from the key", RunReload},
    {"tab", "qelmctl tab", "reports a tab selection, as the add-on does", RunTab},
    {"exit", "qelmctl exit [--command | --installer]",
     "asks QELM to end (by the exit message, or by the exit command with --command); with "
     "--installer also every qelm-host.exe, as the installer does before it removes the files",
     RunExit},
    {"startup-flag", "qelmctl startup-flag 0|1", "sets the on-start-up flag in QELM's memory",
     RunStartupFlag},
    {"startup-delay", "qelmctl startup-delay MINUTES", "sets the start-up delay in QELM's memory",
     RunStartupDelay},
    {"interval", "qelmctl interval MINUTES",
     "sets the periodic interval in QELM's memory (from the next period on)", RunInterval},
    {"tab-delay", "qelmctl tab-delay MINUTES",
     "sets the tab delay in QELM's memory (0: six seconds)", RunTabDelay},
    {"defaults", "qelmctl defaults", "creates the key with its defaults when it is missing",
     RunDefaults},
    {"watch", "qelmctl watch [--interval SECONDS] [--count N]",
     "prints QELM's memory figures whenever they change", RunWatch},
    {"install", "qelmctl install",
     "registers qelm-host.exe, beside qelmctl.exe, as Firefox's host for the QELM extension",
     RunInstall},
    {"uninstall", "qelmctl uninstall", "removes that registration and its manifest", RunUninstall},
};

const Command* FindCommand(std::string_view name) {
    for (const auto& command : kCommands) {
        if (command.name == name) {
            return &command;
        }
    }
    return nullptr;
}

void PrintHelp(std::ostream& out) {
    out << "qelmctl: talks to QELM, the browser's memory companion, as its add-on does.\n\n"
           "usage: qelmctl COMMAND [ARGUMENTS]   (qelmctl COMMAND --help for one command)\n\n";
    for (const auto& command : kCommands) {
        out << "  " << command.synopsis << "\n      " << command.summary << "\n";
    }
    out << "\nExit codes: 0 done, 1 failed, 2 wrong command line, 3 QELM is not running,\n"
           "4 QELM did not answer in time.\n";
}

bool IsHelp(const std::u16string& argument) {
    return argument == u"--help" || argument == u"-h";
}

}  // namespace

int RunQelmctl(const std::vector<std::u16string>& arguments, std::ostream& out, std::ostream& err) {
    Io io{out, err};
    if (arguments.empty()) {
        err << "usage: qelmctl COMMAND [ARGUMENTS]; qelmctl --help lists the commands\n";
        return kExitUsage;
    }
    if (IsHelp(arguments[0])) {
        PrintHelp(out);
        return kExitOk;
    }
    const Command* command = FindCommand(ToUtf8(arguments[0]));
    if (command == nullptr) {
        err << "qelmctl: unknown command \"" << ToUtf8(arguments[0])
            << "\"\nusage: qelmctl COMMAND [ARGUMENTS]; qelmctl --help lists the commands\n";
        return kExitUsage;
    }
    const Arguments rest = Arguments(arguments).subspan(1);
    if (rest.size() == 1 && IsHelp(rest[0])) {
        out << "usage: " << command->synopsis << "\n" << command->summary << "\n";
        return kExitOk;
    }
    return command->run(rest, io);
}
