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

// Each input starts from a fresh world and the system's state as the process starts, as the
// unit tests' fixture does, so that an input replays alone exactly as it ran in a long session.
inline void StartFreshProcess() {
    static CWnd controller{platform::WindowHandle{0x7001}};
    fake::ResetWorld();
    std::destroy_at(&g_settings);
    std::construct_at(&g_settings);
    g_bRecoveryStarted = false;
    g_bExitStarted = false;
    for (auto* run : {&g_bBrowserWatchRun, &g_bPeriodicRun, &g_bMetricsRun}) {
        *run = true;
    }
    for (auto* slot : {&g_pBrowserWatchThread, &g_pPeriodicThread, &g_pMetricsThread}) {
        *slot = platform::ThreadHandle{};
    }
    for (auto* event : {&g_evBrowserWatch, &g_evPeriodic, &g_evMetrics}) {
        *event = platform::EventHandle{};
    }
    g_hBrowserWindow = platform::WindowHandle{};
    g_hBrowserChildWindow = platform::WindowHandle{};
    for (auto* timer : kTimerVariables) {
        *timer = 0;
    }
    g_pController = &controller;
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

// The key as a fresh installation leaves it.
inline void PutDefaultSettings() {
    fake::PutText(u"currentVersion", u"none");
    fake::PutText(u"blacklist", u"none");
    const std::pair<const char16_t*, std::int32_t> dwords[] = {
        {u"nRunCnt", 0},
        {u"app_1", 1},
        {u"activateKVDisplayEvents", 0},
        {u"activateVisualAcc", 0},
        {u"activateKVXonStartup", 0},
        {u"startupDelay", 0},
        {u"tabDelay", 0},
        {u"global", 0},
        {u"primaryTimeout", 1},
        {u"activateKVXEventLogging", 0},
        {u"startKVX", 0},
        {u"kvxRestart", 0},
    };
    for (const auto& [name, value] : dwords) {
        fake::PutDword(name, value);
    }
}

inline std::u16string Widen(std::string_view text) {
    return std::u16string(text.begin(), text.end());
}
