#include "settings/diagnostics.h"

#include <string>

#include "platform/shell.h"
#include "settings/text_format.h"

namespace {

// Reported texts are formatted in a buffer of this many units, terminator included.
constexpr std::size_t kEventTextBuffer = 256;

}  // namespace

void LogRequirement(std::u16string_view text) {
    const std::u16string_view reported = CutTo(text, kEventTextBuffer - 1);
    const auto source = platform::OpenEventSource(u"QELM");
    if (!source) {
        platform::WriteStandardOutput(std::u16string(reported) + u"\n");
        return;
    }
    platform::ReportInformationEvent(source, reported);
    platform::CloseEventSource(source);
}
