// The blacklist match against a plain model of it: the list splits at ';', empty pieces name
// nothing, and a piece names the executable when the two are equal with A to Z folded.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "recovery/trimming.h"

namespace {

char16_t Folded(char16_t unit) {
    return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + (u'a' - u'A')) : unit;
}

std::u16string FoldedText(std::u16string_view text) {
    std::u16string folded;
    for (const char16_t unit : text) {
        folded.push_back(Folded(unit));
    }
    return folded;
}

bool ModelBlacklisted(std::u16string_view name, std::u16string_view blacklist) {
    const std::u16string wanted = FoldedText(name);
    std::u16string piece;
    for (const char16_t unit : std::u16string(blacklist) + u';') {
        if (unit != u';') {
            piece.push_back(unit);
            continue;
        }
        if (!piece.empty() && FoldedText(piece) == wanted) {
            return true;
        }
        piece.clear();
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const std::u16string name = input.Text(input.Byte());
    const std::u16string blacklist = input.Text(std::u16string::npos);
    Require(IsBlacklisted(name, blacklist) == ModelBlacklisted(name, blacklist));
    return 0;
}
