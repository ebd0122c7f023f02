#pragma once

#include <string_view>

// Trims the browser (every firefox.exe and palemoon.exe), after its plug-in host and, in global
// mode, every other process; the own process after each browser process, whose windows then get
// four messages that settle the browser down.
void TrimBrowser();

// Trims every plug-in host process, and the own process after each.
void TrimPluginContainer();

// Trims every process that can be opened and is not on the blacklist, and the own process after
// each. The settings are reloaded before each process, so a blacklist changed meanwhile applies
// from the next process on.
void TrimGlobalProcesses();

// Whether the blacklist names the executable: the list splits at runs of ";", and each piece,
// blanks and all, is compared whole, ignoring case.
bool IsBlacklisted(std::u16string_view name, std::u16string_view blacklist);
