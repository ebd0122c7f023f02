#include "requests.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <variant>
#include <vector>

#include "app/messages.h"
#include "browser_totals.h"
#include "companion.h"
#include "framing.h"
#include "host_install.h"
#include "key_values.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/threads.h"
#include "settings/registry_channel.h"
#include "text.h"

using nlohmann::json;

namespace {

constexpr char kVersion[] = QELM_VERSION;
constexpr std::uint32_t kStartWaitMs = 10000;

// A request that cannot be carried out, with the line that says why.
struct Failure {
    std::string error;
};

using Result = std::variant<json, Failure>;

bool IsStatusText(const KeyValue& value) {
    return value.name == u"activateEventComment" || value.name == u"activateEventMemoryMetrics";
}

json RunningFields() {
    const auto companion = FindCompanion();
    return {{"running", companion.has_value()},
            {"pid", companion ? json(companion->processId) : json(nullptr)}};
}

// "installed" tells the extension whether the install it talks to is the one that was there
// before the installer closed the hosts, or the one that replaced it.
Result Hello(const json&) {
    const auto installer = InstallerVersion();
    return json{{"version", kVersion},
                {"running", FindCompanion().has_value()},
                {"installed", installer ? json(ToUtf8(*installer)) : json(nullptr)}};
}

Result Status(const json&) {
    return StatusFields();
}

Result SendCommand(std::uintptr_t wParam, std::intptr_t lParam) {
    const auto companion = FindCompanion();
    if (!companion) {
        return Failure{"QELM is not running"};
    }
    const auto reply = SendToCompanion(*companion, kQelmMessageName, wParam, lParam);
    if (!reply) {
        return Failure{"QELM did not answer within 5 seconds"};
    }
    return json{{"reply", *reply}};
}

Result Tab(const json&) {
    return SendCommand(3, 3);
}

Result Reload(const json&) {
    return SendCommand(1, 2);
}

Result Exit(const json&) {
    const auto companion = FindCompanion();
    if (!companion) {
        return Failure{"QELM is not running"};
    }
    const auto outcome = AskToExit(*companion, kQelmExitMessageName, 0, 0);
    if (outcome.refusal) {
        return Failure{"QELM keeps running: global mode is on"};
    }
    if (!outcome.ended) {
        return Failure{"QELM is still running " + std::to_string(outcome.waitedSeconds) +
                       " seconds after it was asked to end"};
    }
    return json{{"running", false}};
}

// One start at a time across the hosts of this session: two browser profiles connecting in the
// same moment would each start a companion, and the one that loses ends at once as a second copy
// does. Held while a start waits for the companion's window, so the second host then finds it.
class StartLock {
  public:
    StartLock() {
        std::uint32_t lastError = 0;
        mutex_ = platform::CreateNamedMutex(kStartMutexName, lastError);
        owned_ = mutex_ && platform::AcquireMutex(mutex_, kStartLockWaitMs);
    }
    ~StartLock() {
        if (owned_) {
            platform::ReleaseOwnedMutex(mutex_);
        }
        if (mutex_) {
            platform::CloseMutex(mutex_);
        }
    }
    StartLock(const StartLock&) = delete;
    StartLock& operator=(const StartLock&) = delete;

  private:
    static constexpr char16_t kStartMutexName[] = u"Local\\QELM-host-start";
    // A start takes at most kStartWaitMs; a lock still held after more than that is not waited
    // for any longer.
    static constexpr std::uint32_t kStartLockWaitMs = kStartWaitMs + 2000;
    platform::MutexHandle mutex_;
    bool owned_ = false;
};

json AlreadyRunning(const Companion& companion) {
    return json{{"running", true}, {"pid", companion.processId}, {"started", false}};
}

// Starts the companion outside the browser's job where the job allows it, so that it outlives
// this host; Firefox for Windows ends every process left in the host's job when the host ends.
// Where the job keeps its processes, the companion is started in it all the same, and the reply
// says that it ends with the host.
Result Start(const json&) {
    const StartLock oneStartAtATime;
    if (const auto companion = FindCompanion()) {
        return AlreadyRunning(*companion);
    }
    const std::u16string path = platform::OwnDirectory() + u"\\" + kCompanionProgram;
    ForgetThePreviousRunsFigures();
    std::uint32_t processId = 0;
    bool outlivesHost = true;
    auto error = platform::StartProgram(path, true, processId, kStartWaitMs);
    if (error == platform::kErrorAccessDenied) {
        outlivesHost = false;
        error = platform::StartProgram(path, false, processId, kStartWaitMs);
    }
    if (error != platform::kErrorSuccess) {
        return Failure{"cannot start " + ToUtf8(path) + " (error " + std::to_string(error) + ")"};
    }
    if (const auto companion = FindCompanion()) {
        if (companion->processId != processId) {
            return AlreadyRunning(*companion);
        }
        // The companion starts with its built-in settings; the user's come with a reload.
        const bool reloaded = SendToCompanion(*companion, kQelmMessageName, 1, 2).has_value();
        return json{{"running", true},
                    {"pid", companion->processId},
                    {"started", true},
                    {"outlivesHost", outlivesHost},
                    {"reloaded", reloaded}};
    }
    if (platform::WaitForProcessEnd(processId, 0)) {
        // The copy started here ended at once, as a second copy does when another program has
        // just started one: that one may show its window a moment later.
        constexpr std::uint32_t kLookAgainMs = 2000;
        if (const auto companion = AwaitCompanion(kLookAgainMs)) {
            return AlreadyRunning(*companion);
        }
        return Failure{"QELM ended at once: it runs only beside a browser"};
    }
    return Failure{"QELM did not show its window within 10 seconds"};
}

Result Defaults(const json&) {
    if (const auto key = OpenSharedKey(platform::KeyAccess::kQuery)) {
        platform::CloseKey(*key);
        return json{{"created", false}};
    }
    if (!CreateDefaultSettings()) {
        return Failure{"cannot create the key HKCU\\SOFTWARE\\Qelm with its defaults"};
    }
    return json{{"created", true}};
}

// One setting to write, checked.
struct SettingWrite {
    const KeyValue* value;
    std::int32_t number = 0;
    std::u16string text;
};

std::optional<std::int32_t> Number32(const json& number) {
    if (number.is_number_unsigned()) {
        const auto n = number.get<std::uint64_t>();
        return n <= std::numeric_limits<std::uint32_t>::max()
                   ? std::optional(static_cast<std::int32_t>(static_cast<std::uint32_t>(n)))
                   : std::nullopt;
    }
    if (number.is_number_integer()) {
        const auto n = number.get<std::int64_t>();
        return n >= std::numeric_limits<std::int32_t>::min() &&
                       n <= std::numeric_limits<std::int32_t>::max()
                   ? std::optional(static_cast<std::int32_t>(n))
                   : std::nullopt;
    }
    return std::nullopt;
}

std::variant<SettingWrite, Failure> CheckSetting(const std::string& name, const json& given) {
    const KeyValue* value = FindKeyValue(FromUtf8(name));
    if (value == nullptr) {
        return Failure{"\"" + name + "\" is not a value of the key"};
    }
    if (!value->isSetting) {
        return Failure{"\"" + name + "\" is status written by QELM, not a setting"};
    }
    if (value->type == ValueType::kText) {
        if (!given.is_string()) {
            return Failure{"\"" + name + "\" takes a text"};
        }
        return SettingWrite{value, 0, FromUtf8(given.get<std::string>())};
    }
    const auto number = Number32(given);
    if (!number) {
        return Failure{"\"" + name + "\" takes a whole number that fits 32 bits"};
    }
    return SettingWrite{value, *number, {}};
}

Result Set(const json& request) {
    const auto values = request.find("values");
    if (values == request.end() || !values->is_object() || values->empty()) {
        return Failure{"set takes \"values\": an object of settings by their registry names"};
    }
    std::vector<SettingWrite> writes;
    for (const auto& [name, given] : values->items()) {
        auto checked = CheckSetting(name, given);
        if (const auto* failure = std::get_if<Failure>(&checked)) {
            return Failure{failure->error + "; nothing was written"};
        }
        writes.push_back(std::get<SettingWrite>(std::move(checked)));
    }
    const auto key = OpenSharedKey(platform::KeyAccess::kWrite);
    if (!key) {
        return Failure{"the key HKCU\\SOFTWARE\\Qelm does not exist; defaults creates it"};
    }
    json written = json::array();
    for (const auto& write : writes) {
        if (WriteSetting(*key, *write.value, write.number, write.text) != 0) {
            platform::CloseKey(*key);
            return Failure{"cannot write " + ToUtf8(std::u16string(write.value->name))};
        }
        written.push_back(ToUtf8(std::u16string(write.value->name)));
    }
    platform::CloseKey(*key);
    json reply{{"written", written}};
    if (const auto companion = FindCompanion()) {
        reply["reloaded"] = SendToCompanion(*companion, kQelmMessageName, 1, 2).has_value();
    }
    return reply;
}

struct Command {
    std::string_view name;
    Result (*run)(const json& request);
};

constexpr Command kCommands[] = {
    {"hello", Hello},   {"status", Status}, {"start", Start}, {"tab", Tab},
    {"reload", Reload}, {"exit", Exit},     {"set", Set},     {"defaults", Defaults},
};

json Reply(const json* id, Result result) {
    json reply;
    if (const auto* failure = std::get_if<Failure>(&result)) {
        reply = {{"ok", false}, {"error", failure->error}};
    } else {
        reply = std::get<json>(std::move(result));
        reply["ok"] = true;
    }
    if (id != nullptr) {
        reply["id"] = *id;
    }
    return reply;
}

// Room in a reply for what goes around the status fields: "ok" and the request's "id" in a reply,
// "event" in an event.
constexpr std::size_t kStatusEnvelopeBytes = 4096;

// The bytes the browser gets for a message.
std::string Compact(const json& message) {
    return message.dump(-1, ' ', false, json::error_handler_t::replace);
}

// The first bytes of the text, at most limit of them, ending at a UTF-8 character boundary.
std::string CutAtCharacter(const std::string& text, std::size_t limit) {
    std::size_t end = std::min(limit, text.size());
    while (end > 0 && end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

// A text of the status that any program of the user can make as long as it likes.
struct LongText {
    std::string name;  // as "cut" names it
    json* text = nullptr;
};

std::size_t TextBytes(const json* value) {
    return value != nullptr && value->is_string() ? value->get_ref<const std::string&>().size() : 0;
}

// The longest of the comment, the metrics and the text settings; null when all are empty.
LongText LongestText(json& fields) {
    LongText longest;
    const auto consider = [&longest](const std::string& name, json& value) {
        if (TextBytes(&value) > TextBytes(longest.text)) {
            longest = {name, &value};
        }
    };
    consider("comment", fields["comment"]);
    consider("metrics", fields["metrics"]);
    for (auto& [name, value] : fields["settings"].items()) {
        consider(name, value);
    }
    return longest;
}

// Cuts the longest texts until the fields take at most budget bytes, and lists each text cut in
// "cut", so that one overlong value costs the browser that value and not the whole status.
void CutToFit(json& fields, std::size_t budget) {
    for (std::size_t size = Compact(fields).size(); size > budget; size = Compact(fields).size()) {
        const LongText longest = LongestText(fields);
        if (longest.text == nullptr) {
            return;
        }
        const auto& text = longest.text->get_ref<const std::string&>();
        *longest.text = CutAtCharacter(text, text.size() - std::min(text.size(), size - budget));
        json& cut = fields["cut"];
        if (std::find(cut.begin(), cut.end(), longest.name) == cut.end()) {
            cut.push_back(longest.name);
        }
    }
}

}  // namespace

json StatusFields() {
    json fields = RunningFields();
    json settings = json::object();
    fields["comment"] = nullptr;
    fields["metrics"] = nullptr;
    if (const auto key = OpenSharedKey(platform::KeyAccess::kQuery)) {
        for (const auto& value : KeyValues()) {
            json read = ReadKeyJson(*key, value);
            if (IsStatusText(value)) {
                fields[value.name == u"activateEventComment" ? "comment" : "metrics"] =
                    std::move(read);
            } else if (!read.is_null()) {
                settings[ToUtf8(std::u16string(value.name))] = std::move(read);
            }
        }
        platform::CloseKey(*key);
    }
    fields["settings"] = settings;
    fields["totals"] = BrowserTotals();
    CutToFit(fields, kLongestReplyBytes - kStatusEnvelopeBytes);
    return fields;
}

json Refusal(const std::string& error) {
    return json{{"ok", false}, {"error", error}};
}

json HandleRequest(std::string_view message) {
    const json request = json::parse(message, nullptr, false);
    if (request.is_discarded()) {
        return Refusal("the message is not JSON in UTF-8");
    }
    if (!request.is_object()) {
        return Refusal("the message is not a JSON object");
    }
    const auto id = request.find("id");
    const json* idValue = id != request.end() ? &*id : nullptr;
    const auto cmd = request.find("cmd");
    if (cmd == request.end() || !cmd->is_string()) {
        return Reply(idValue, Failure{"the request has no \"cmd\" text"});
    }
    for (const auto& command : kCommands) {
        if (command.name == cmd->get<std::string>()) {
            return Reply(idValue, command.run(request));
        }
    }
    return Reply(idValue, Failure{"unknown command \"" + cmd->get<std::string>() + "\""});
}

std::string ReplyText(const json& reply) {
    std::string text = Compact(reply);
    if (text.size() <= kLongestReplyBytes) {
        return text;
    }
    json refusal = Refusal("the reply would be longer than the 1048576 bytes the browser takes");
    if (const auto id = reply.find("id"); id != reply.end()) {
        refusal["id"] = *id;
    }
    return Compact(refusal);
}
