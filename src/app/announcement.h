#pragma once

#include <string_view>

#include "settings/status_writers.h"

// Announces an event as the settings ask: with beeps or display events on, a beep when beeps
// are on, then the comment, then the input nudge; with both off, nothing at all.
void Announce(std::u16string_view comment, CommentLayout layout);
