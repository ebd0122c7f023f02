#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/controller.h"
#include "app/lifecycle.h"
#include "app/timers.h"
#include "app/wake_events.h"
#include "app/workers.h"
#include "browser/browser_windows.h"
#include "fake/world.h"
#include "settings/settings.h"
#include "support/fresh_process.h"

// Reads a fuzz input front to back. Once the bytes run out every read yields zeros, so that any
// input, however short, decodes to a whole case and zeros decode to the plainest one.
class FuzzInput {
  public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const { return size_ == 0; }

    std::uint8_t Byte() {
        if (size_ == 0) {
            return 0;
        }
        --size_;
        return *data_++;
    }

    bool Flag() { return (Byte() & 1) != 0; }

    // Little-endian, as the registry's own numbers are laid out.
    template <class Number>
    Number Take() {
        std::uint64_t bits = 0;
        for (std::size_t i = 0; i < sizeof(Number); ++i) {
            bits |= std::uint64_t{Byte()} << (8 * i);
        }
        return static_cast<Number>(bits);
    }

    std::vector<std::uint8_t> Bytes(std::size_t count) {
        const std::size_t taken = std::min(count, size_);
        std::vector<std::uint8_t> bytes(data_, data_ + taken);
        data_ += taken;
        size_ -= taken;
        return bytes;
    }

    // A byte below 0xFE is the unit itself, so that ASCII and Latin-1 text costs one byte each
    // and mutations hit letters and separators often; 0xFE and 0xFF bring any unit in the next
    // two bytes.
    char16_t Unit() {
        const std::uint8_t lead = Byte();
        return lead < 0xFE ? char16_t{lead} : Take<char16_t>();
    }

    std::u16string Text(std::size_t mostUnits) {
        std::u16string text;
        while (text.size() < mostUnits && !Empty()) {
            text.push_back(Unit());
        }
        return text;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// A violated invariant stops the fuzzer on the spot, with the input that caused it.
inline void Require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// Each input starts from a fresh process, as a unit test does, so that it replays alone exactly
// as it ran in a long session.
inline void StartFreshProcess() {
    static CWnd controller{platform::WindowHandle{0x7001}};
    StartFreshProcess(&controller);
}

// Runs a step of the system; false when the process ended in it, or waits for an end that
// another caller brings about: in either case nothing of the system runs after it.
template <class Step>
bool Survives(Step step) {
    try {
        step();
    } catch (const fake::ProcessEnded&) {
        return false;
    } catch (const fake::AwaitingEnd&) {
        return false;
    }
    return true;
}

// Nothing the system opens may outlive the step that opened it.
inline bool NothingLeftOpen() {
    const auto& world = fake::TheWorld();
    return world.openKeys.empty() && world.openProcesses.empty();
}

inline std::u16string Widen(std::string_view text) {
    return std::u16string(text.begin(), text.end());
}
