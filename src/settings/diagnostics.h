#pragma once

#include <string_view>

// Reports the text as one information event of the source "QELM"; when the source cannot be
// registered the text and a line feed go to standard output instead.
void LogRequirement(std::u16string_view text);
