#pragma once

#include <cstdint>
#include <string_view>

#include "platform/handles.h"

// What the program shows and says of itself: message boxes, debugger output, the end of the
// process, COM.
namespace platform {

enum class BoxIcon { kNone, kWarning };

// Shows a modal box with an OK button, captioned with the program's name and owned by owner
// (none: no owner); returns when the user dismisses it.
void ShowMessageBox(WindowHandle owner, std::u16string_view text, BoxIcon icon);

// Hands one complete text to the debugger output (OutputDebugStringW).
void DebugOutput(std::u16string_view text);

// Ends the process at once with the exit code (ExitProcess): no exit handler runs.
[[noreturn]] void EndProcess(std::uint32_t exitCode);

// Ends the process through the runtime's normal exit: exit handlers registered so far run.
[[noreturn]] void ExitThroughRuntime(int exitCode);

// Arms a timer that posts WM_TIMER with id to window after periodMs; returns the timer's
// identifier, 0 on failure.
std::uintptr_t StartWindowTimer(WindowHandle window, std::uintptr_t id, std::uint32_t periodMs);

// Destroys the window's timer with id.
void StopWindowTimer(WindowHandle window, std::uintptr_t id);

// Sounds a tone of the frequency for the duration; returns when the tone ends.
void SoundBeep(std::uint32_t frequencyHz, std::uint32_t durationMs);

// Opens the event log for reporting under the source name on the local computer; none on
// failure.
EventSourceHandle OpenEventSource(const char16_t* sourceName);

// Appends one information event (category 0, identifier 0, no user, the text as its only
// string, no data); failures are ignored.
void ReportInformationEvent(EventSourceHandle source, std::u16string_view text);

// Releases the event source handle.
void CloseEventSource(EventSourceHandle source);

// Writes the text to the process's standard output stream; lost when there is none.
void WriteStandardOutput(std::u16string_view text);

// CoInitialize for the calling thread; true on success.
bool InitializeCom();

// CoUninitialize for the calling thread.
void UninitializeCom();

}  // namespace platform
