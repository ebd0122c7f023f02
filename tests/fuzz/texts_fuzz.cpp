// The texts the add-on reads back, composed from any processes, memory status and comment head:
// each must fit the add-on's 2048-unit buffers and carry exactly the figures of the moment.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "fake/world.h"
#include "fuzz/fuzz_support.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "recovery/memory_metrics.h"
#include "settings/status_writers.h"

namespace {

constexpr std::size_t kMostProcesses = 6;
constexpr std::size_t kMostTextUnits = 2047;
constexpr std::size_t kFigureWidth = 7;

// The three names looked for, in other cases too, and names that are none of them.
constexpr std::u16string_view kProcessNames[] = {
    u"firefox.exe",  u"palemoon.exe",         u"plugin-container.exe", u"FireFox.EXE",
    u"PALEMOON.exe", u"Plugin-Container.EXE", u"firefox.exe.exe",      u"",
};

void PutProcesses(FuzzInput& input) {
    const std::size_t count = input.Byte() % (kMostProcesses + 1);
    for (std::size_t i = 0; i < count; ++i) {
        const std::u16string_view name = kProcessNames[input.Byte() % std::size(kProcessNames)];
        const std::uint8_t trouble = input.Byte();
        fake::AddProcess(std::u16string(name), input.Take<std::uint64_t>());
        fake::Process& process = fake::TheWorld().processes.back();
        process.queryOpenable = (trouble & 1) == 0;
        process.modulesReadable = (trouble & 2) == 0;
        process.countersReadable = (trouble & 4) == 0;
    }
}

void PutMemoryStatus(FuzzInput& input) {
    platform::MemoryStatus& status = fake::TheWorld().memoryStatus;
    status.memoryLoad = input.Take<std::uint32_t>();
    for (auto* field :
         {&status.totalPhysical, &status.availablePhysical, &status.totalPageFile,
          &status.availablePageFile, &status.totalVirtual, &status.availableVirtual}) {
        *field = input.Take<std::uint64_t>();
    }
}

char16_t Folded(char16_t unit) {
    return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + (u'a' - u'A')) : unit;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Folded(a[i]) != Folded(b[i])) {
            return false;
        }
    }
    return true;
}

// The first process by the name whose name can be read at all, as the process list shows it.
const fake::Process* FirstNamed(std::u16string_view name) {
    for (const auto& process : fake::TheWorld().processes) {
        if (process.queryOpenable && process.modulesReadable && SameName(process.name, name)) {
            return &process;
        }
    }
    return nullptr;
}

std::u16string Decimal(std::int64_t value) {
    return Widen(std::to_string(value));
}

// head and the working set in KiB, as the 32-bit figure the add-on has always been sent.
std::u16string ModelFigure(const fake::Process& process, std::u16string_view head) {
    if (!process.countersReadable) {
        return {};
    }
    return std::u16string(head) +
           Decimal(static_cast<std::uint32_t>(process.workingSetBytes / 1024)) + u"K";
}

std::u16string ModelBrowserFigure() {
    if (const fake::Process* firefox = FirstNamed(u"firefox.exe")) {
        return ModelFigure(*firefox, u"Browser WorkingSetSize = ");
    }
    if (const fake::Process* paleMoon = FirstNamed(u"palemoon.exe")) {
        return ModelFigure(*paleMoon, u"WorkingSetSize = ");
    }
    return {};
}

std::u16string ModelPluginHostFigure() {
    if (const fake::Process* host = FirstNamed(u"plugin-container.exe")) {
        return ModelFigure(*host, u" \nPlugin-Container WorkingSetSize = ");
    }
    return {};
}

std::u16string ModelLine(std::u16string_view label, std::int64_t figure,
                         std::u16string_view suffix) {
    std::u16string text = Decimal(figure);
    if (text.size() < kFigureWidth) {
        text.insert(0, kFigureWidth - text.size(), u' ');
    }
    return u"\n" + std::u16string(label) + u" " + text + std::u16string(suffix);
}

std::int64_t Mebibytes(std::uint64_t bytes) {
    return static_cast<std::int64_t>(bytes >> 20);
}

// The memory lines in their order; a status that cannot be read shows as all zeros. A load
// beyond any percentage reads back as the signed 32-bit figure the add-on has always been sent.
std::u16string ModelMemoryLines() {
    const auto& world = fake::TheWorld();
    const platform::MemoryStatus status =
        world.memoryStatusFails ? platform::MemoryStatus{} : world.memoryStatus;
    return ModelLine(u"Memory in usage:", static_cast<std::int32_t>(status.memoryLoad), u"%") +
           ModelLine(u"Physical memory:", Mebibytes(status.totalPhysical), u"M") +
           ModelLine(u"Free physical memory:", Mebibytes(status.availablePhysical), u"M") +
           ModelLine(u"Paging file:", Mebibytes(status.totalPageFile), u"M") +
           ModelLine(u"Free paging file:", Mebibytes(status.availablePageFile), u"M") +
           ModelLine(u"Virtual memory:", Mebibytes(status.totalVirtual), u"M") +
           ModelLine(u"Free virtual memory:", Mebibytes(status.availableVirtual), u"M");
}

// The comment as stored: none when it could not be written, else its text with the byte count
// checked to be two per character, without terminator.
std::optional<std::u16string> StoredComment() {
    const fake::RegistryValue* value = fake::FindValue(u"activateEventComment");
    if (value == nullptr) {
        return std::nullopt;
    }
    Require(value->type == platform::kRegSz && value->data.size() % 2 == 0);
    std::u16string text;
    for (std::size_t i = 0; i < value->data.size(); i += 2) {
        text.push_back(static_cast<char16_t>(value->data[i] | value->data[i + 1] << 8));
    }
    Require(value->data.size() == 2 * text.size());
    return text;
}

void CommentAsExpected(std::u16string_view head, CommentLayout layout,
                       const std::u16string& composed, bool writable) {
    fake::RemoveValue(u"activateEventComment");
    WriteEventComment(head, layout);
    Require(NothingLeftOpen());
    const std::optional<std::u16string> stored = StoredComment();
    if (!writable) {
        Require(!stored);
        return;
    }
    Require(stored && stored->size() <= kMostTextUnits);
    Require(*stored == composed.substr(0, kMostTextUnits));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    StartFreshProcess();
    const std::uint8_t trouble = input.Byte();
    auto& world = fake::TheWorld();
    world.keyExists = (trouble & 1) == 0;
    if ((trouble & 2) != 0) {
        world.setErrors[u"activateEventComment"] = 5;
    }
    world.memoryStatusFails = (trouble & 4) != 0;
    const bool writable = (trouble & 3) == 0;
    PutProcesses(input);
    PutMemoryStatus(input);
    const std::u16string head = input.Text(std::u16string::npos);

    const std::u16string browser = FormatBrowserWorkingSet();
    Require(NothingLeftOpen());
    Require(browser == ModelBrowserFigure());
    const std::u16string pluginHost = FormatPluginHostWorkingSet();
    Require(NothingLeftOpen());
    Require(pluginHost == ModelPluginHostFigure());

    CommentAsExpected(head, CommentLayout::kShort, head + browser, writable);
    CommentAsExpected(head, CommentLayout::kLong,
                      head + u"\n" + browser + u"\n" + pluginHost + u"\n", writable);

    const std::u16string metrics = ComposeMemoryMetrics();
    Require(NothingLeftOpen());
    Require(metrics.size() <= kMostTextUnits);
    Require(metrics == browser + pluginHost + u"\n" + ModelMemoryLines());
    return 0;
}
