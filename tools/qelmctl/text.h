#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Text conversions of the command line and its output.

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view text);

// Valid UTF-8 (as a JSON parser hands it over) to UTF-16.
std::u16string FromUtf8(std::string_view utf8);

// A decimal integer that fits 32 bits, signed or unsigned ("-1" and "4294967295" give the same
// pattern); none for anything else, blanks included.
std::optional<std::int32_t> ParseInteger32(std::u16string_view text);

// A whole number of at least 0 and at most limit; none otherwise.
std::optional<std::uint32_t> ParseCount(std::u16string_view text, std::uint32_t limit);
