#include "recovery/memory_metrics.h"

#include <atomic>
#include <string_view>

#include "app/lifecycle.h"
#include "platform/processes.h"
#include "platform/threads.h"
#include "recovery/browser_process.h"
#include "recovery/process_walk.h"
#include "settings/registry_channel.h"
#include "settings/text_format.h"

namespace {

// The add-on's texts are composed in buffers of this many units, terminator included.
constexpr std::size_t kTextBuffer = 2048;
constexpr std::size_t kFigureWidth = 7;

// head, the working set in KiB as an unsigned 32-bit figure, and "K"; empty when the process
// cannot be measured, for instance because it has ended meanwhile.
std::u16string WorkingSetText(std::uint32_t processId, std::u16string_view head) {
    const auto process = platform::OpenProcessById(kProcessQueryAndRead, processId);
    std::uint64_t bytes = 0;
    const bool measured = process && platform::WorkingSetBytes(process, bytes);
    if (process) {
        platform::CloseProcess(process);
    }
    if (!measured) {
        return {};
    }
    const auto kibibytes = static_cast<std::uint32_t>(bytes / 1024);
    return std::u16string(head) + FormatDecimal(kibibytes) + u"K";
}

std::u16string Line(std::u16string_view label, std::int64_t figure, std::u16string_view suffix) {
    return u"\n" + std::u16string(label) + u" " +
           RightAligned(FormatDecimal(figure), kFigureWidth) + std::u16string(suffix);
}

std::int64_t Mebibytes(std::uint64_t bytes) {
    return static_cast<std::int64_t>(bytes >> 20);
}

// Metrics texts being written at this moment.
std::atomic<int> g_nMetricsWritesUnderWay{0};

class MetricsWrite {
  public:
    MetricsWrite() { g_nMetricsWritesUnderWay.fetch_add(1); }
    ~MetricsWrite() { g_nMetricsWritesUnderWay.fetch_sub(1); }
    MetricsWrite(const MetricsWrite&) = delete;
    MetricsWrite& operator=(const MetricsWrite&) = delete;
};

// Any result but 0 leaves the key unflushed.
constexpr std::int32_t kNotWritten = 1;

}  // namespace

std::u16string FormatBrowserWorkingSet() {
    if (const auto firefox = FindProcessIdByName(kFirefoxName)) {
        return WorkingSetText(firefox, u"Browser WorkingSetSize = ");
    }
    if (const auto paleMoon = FindProcessIdByName(kPaleMoonName)) {
        return WorkingSetText(paleMoon, u"WorkingSetSize = ");
    }
    return {};
}

std::u16string FormatPluginHostWorkingSet() {
    if (const auto pluginHost = FindProcessIdByName(kPluginHostName)) {
        return WorkingSetText(pluginHost, u" \nPlugin-Container WorkingSetSize = ");
    }
    return {};
}

std::u16string ComposeMemoryMetrics() {
    std::u16string text = FormatBrowserWorkingSet() + FormatPluginHostWorkingSet() + u"\n";
    // When the status cannot be read every figure shows as 0.
    platform::MemoryStatus status;
    platform::QueryMemoryStatus(status);
    text += Line(u"Memory in usage:", static_cast<std::int32_t>(status.memoryLoad), u"%");
    text += Line(u"Physical memory:", Mebibytes(status.totalPhysical), u"M");
    text += Line(u"Free physical memory:", Mebibytes(status.availablePhysical), u"M");
    text += Line(u"Paging file:", Mebibytes(status.totalPageFile), u"M");
    text += Line(u"Free paging file:", Mebibytes(status.availablePageFile), u"M");
    text += Line(u"Virtual memory:", Mebibytes(status.totalVirtual), u"M");
    text += Line(u"Free virtual memory:", Mebibytes(status.availableVirtual), u"M");
    return std::u16string(CutTo(text, kTextBuffer - 1));
}

void CollectMemoryMetrics() {
    WriteStatus([](platform::KeyHandle key) {
        const std::u16string text = ComposeMemoryMetrics();
        // Counted before the look at the exit: either the exit sees this write under way and
        // waits for it, or this write sees the exit begun and stays away from its notice.
        const MetricsWrite write;
        if (g_bExitStarted.load()) {
            return kNotWritten;
        }
        return SetTextValue(key, u"activateEventMemoryMetrics", text);
    });
}

void AwaitMetricsWrites() {
    while (g_nMetricsWritesUnderWay.load() != 0) {
        platform::PauseFor(1);
    }
}
