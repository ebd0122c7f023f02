#pragma once

#include <string>

// "Browser WorkingSetSize = <KiB>K" for the first firefox.exe, "WorkingSetSize = <KiB>K" for the
// first palemoon.exe when no firefox.exe runs; empty when neither runs or cannot be measured.
std::u16string FormatBrowserWorkingSet();

// " \nPlugin-Container WorkingSetSize = <KiB>K" for the first plug-in host; empty otherwise.
std::u16string FormatPluginHostWorkingSet();

// The metrics text the add-on shows: the two working-set texts and seven lines of the machine's
// memory status.
std::u16string ComposeMemoryMetrics();

// Writes the metrics text to "activateEventMemoryMetrics"; measures nothing when the key cannot
// be opened for writing, and writes nothing once the exit has begun.
void CollectMemoryMetrics();

// Returns once no metrics text is being written; after the exit has begun, none is written again.
void AwaitMetricsWrites();
