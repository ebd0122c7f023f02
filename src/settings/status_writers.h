#pragma once

#include <string_view>

// How a comment carries the working-set figures: short is the head followed directly by the
// browser's figure; long puts the browser's and the plug-in host's figures on lines of their own.
enum class CommentLayout { kShort, kLong };

// Replaces "activateEventComment" with the event's comment and the figures of this moment.
void WriteEventComment(std::u16string_view head, CommentLayout layout);

// Replaces the metrics text with the invitation the add-on shows while QELM is not running.
void WriteExitMetricsNotice();

// Writes 0 to "startKVX".
void ClearStartFlag();
