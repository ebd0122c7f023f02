#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Number texts of our own, independent of the C library and the locale, so that every text the
// add-on reads is exact.

// The value in decimal, with a leading "-" when negative.
std::u16string FormatDecimal(std::int64_t value);

// The text padded with leading blanks to at least width characters; a longer text stays whole.
std::u16string RightAligned(std::u16string text, std::size_t width);

// The text cut to at most limit characters, as a fixed buffer of limit + 1 units holds it.
std::u16string_view CutTo(std::u16string_view text, std::size_t limit);

// Reads a number the way the standard wide-string-to-double conversion does: leading white
// space skipped, then the longest valid decimal prefix; 0.0 when there is none.
double ParseDecimalPrefix(std::u16string_view text);
