#include "settings/text_format.h"

#include <charconv>
#include <cmath>
#include <string>

std::u16string FormatDecimal(std::int64_t value) {
    // Work on the magnitude as unsigned so that the most negative value has no overflow.
    std::uint64_t magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) {
        digits.insert(digits.begin(), u'-');
    }
    return digits;
}

std::u16string RightAligned(std::u16string text, std::size_t width) {
    if (text.size() < width) {
        text.insert(0, width - text.size(), u' ');
    }
    return text;
}

std::u16string_view CutTo(std::u16string_view text, std::size_t limit) {
    return text.substr(0, limit);
}

namespace {

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// The white space the wide conversion skips: blank, tab, line feed, vertical tab, form feed,
// carriage return.
bool IsSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

// Copies the digits starting at pos into out and returns how many there were.
std::size_t TakeDigits(std::u16string_view text, std::size_t pos, std::string& out) {
    std::size_t count = 0;
    while (pos + count < text.size() && IsDigit(text[pos + count])) {
        out.push_back(static_cast<char>(text[pos + count]));
        ++count;
    }
    return count;
}

}  // namespace

double ParseDecimalPrefix(std::u16string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && IsSpace(text[pos])) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) {
        negative = text[pos] == u'-';
        ++pos;
    }
    std::string number;
    const std::size_t wholeDigits = TakeDigits(text, pos, number);
    pos += wholeDigits;
    std::size_t fractionDigits = 0;
    if (pos < text.size() && text[pos] == u'.') {
        std::string fraction = ".";
        fractionDigits = TakeDigits(text, pos + 1, fraction);
        if (wholeDigits + fractionDigits > 0) {
            number += fraction;
            pos += 1 + fractionDigits;
        }
    }
    if (wholeDigits + fractionDigits == 0) {
        return 0.0;
    }
    // An exponent counts only when at least one digit follows its sign.
    bool negativeExponent = false;
    if (pos < text.size() && (text[pos] == u'e' || text[pos] == u'E')) {
        std::size_t at = pos + 1;
        std::string exponent = "e";
        if (at < text.size() && (text[at] == u'+' || text[at] == u'-')) {
            negativeExponent = text[at] == u'-';
            exponent.push_back(static_cast<char>(text[at]));
            ++at;
        }
        if (TakeDigits(text, at, exponent) > 0) {
            number += exponent;
        } else {
            negativeExponent = false;
        }
    }
    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        value = negativeExponent ? 0.0 : HUGE_VAL;
    }
    return negative ? -value : value;
}
