#include "settings/status_writers.h"

#include <string>

#include "recovery/memory_metrics.h"
#include "settings/registry_channel.h"
#include "settings/text_format.h"

namespace {

// Comments are composed in a buffer of this many units, terminator included.
constexpr std::size_t kCommentBuffer = 2048;

std::u16string ComposeComment(std::u16string_view head, CommentLayout layout) {
    std::u16string comment(head);
    if (layout == CommentLayout::kShort) {
        comment += FormatBrowserWorkingSet();
    } else {
        comment += u"\n" + FormatBrowserWorkingSet() + u"\n" + FormatPluginHostWorkingSet() + u"\n";
    }
    return std::u16string(CutTo(comment, kCommentBuffer - 1));
}

}  // namespace

void WriteEventComment(std::u16string_view head, CommentLayout layout) {
    WriteStatus([&](platform::KeyHandle key) {
        return SetTextValue(key, u"activateEventComment", ComposeComment(head, layout));
    });
}

void WriteExitMetricsNotice() {
    WriteStatus([](platform::KeyHandle key) {
        return SetTextValue(key, u"activateEventMemoryMetrics",
                            u"Activate Lumbrel To See Current WorkingSetSize");
    });
}

void ClearStartFlag() {
    WriteStatus([](platform::KeyHandle key) { return SetDwordValue(key, u"startKVX", 0); });
}
